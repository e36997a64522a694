#include "main.h"

#include "CaptureFile.h"
#include "Composer.h"
#include "HexText.h"
#include "append_exclusive.h"
#include "iniprofile.h"
#include "radiogroup.h"
#include "textconv.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <map>

namespace qtr290 {

namespace {

constexpr char SekcePort[] = "Seriovy port";
constexpr char SekceFiltr[] = "Filtruj prichozi";
constexpr char SekceProgram[] = "Program";
constexpr char SekcePorty[] = "Porty";

constexpr char KlicPort[] = "Port";
constexpr char KlicBaudRate[] = "Baud rate";
constexpr char KlicZapnuto[] = "Zapnuto";
constexpr char KlicZarizeni[] = "Zarizeni";
constexpr char KlicAdresat[] = "Adresat";
constexpr char KlicPocetBytu[] = "Pocet bytu na radku";

const QString Titulek = QStringLiteral("Komunikační utilita QTR290 v0.5");
const QString TextPortNelzeOtevrit =
    QStringLiteral("Daný sériový port neexistuje nebo se právě používá !");
const QString TextNezarazeno = QStringLiteral("TLG nebyl zařazen.");
const QString TextNeodpovida = QStringLiteral("Odesílaný TLG neodpovídá zobrazeným polím !");
const QString TextOdesleSe = QStringLiteral("Odešle se: %1");
const QString TextPresto = QStringLiteral("Zařadit TLG přesto?");

template <class Widget> Widget* Pojmenuj(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleDescription(QLatin1String(name));
    return widget;
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The COM number of a "COM<n>" key of the [Porty] section: decimal digits only.
std::optional<int> CisloPortuKlice(std::string_view key)
{
    if (key.size() < 4 || key.size() > 7)
        return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if ((key[i] & ~0x20) != "COM"[i])
            return std::nullopt;
    int number = 0;
    for (const char c : key.substr(3)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

// What the link does with an item's number: its port number is one byte wide.
int CisloPortuLinky(int itemNumber)
{
    return static_cast<std::uint8_t>(itemNumber);
}

// Inserts the text as one or more paragraphs before the first one.
void VlozNahoru(QPlainTextEdit* memo, const QString& text)
{
    QTextCursor cursor(memo->document());
    const bool prazdny = memo->document()->isEmpty();
    cursor.insertText(text);
    if (!prazdny)
        cursor.insertBlock();
}

// Appends the text as one or more paragraphs after the last one.
void PripojDolu(QPlainTextEdit* memo, const QString& text)
{
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    if (!memo->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
}

// Removes the first or the last paragraph with its break.
void OdeberKrajni(QPlainTextEdit* memo, bool posledni)
{
    QTextCursor cursor(memo->document());
    if (posledni) {
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

bool JeHexCislice(char32_t c)
{
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F') || (c >= U'a' && c <= U'f');
}

// Whether the edit's text plainly says this byte: one or two hex digits of its value.
bool Ukazuje(const QString& text, std::uint8_t value)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text)
        if (!JeHexCislice(c.unicode()))
            return false;
    return HexNaByte(text) == value;
}

// Whether the data line holds hex digits and spaces only, so that its bytes are what it says.
bool JsouCistaData(const QString& text)
{
    for (const QChar c : text)
        if (c != QLatin1Char(' ') && !JeHexCislice(c.unicode()))
            return false;
    return true;
}

QString PopisZarizeni(int comNumber)
{
    const std::string device = ComPortDevice(comNumber);
    return device.empty()
               ? QStringLiteral("COM%1 bez zařízení").arg(comNumber)
               : QStringLiteral("COM%1 = %2").arg(comNumber).arg(QString::fromStdString(device));
}

} // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent)
    : QMainWindow(parent), FOptions(std::move(options))
{
    setWindowTitle(Titulek);
    // System menu and minimise, no maximise: the controls keep fixed places.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    VytvorOvladace();
    // The composer's handlers are attached before start-up, so that the fields start-up
    // sets pull their derived fields along.
    PripojComposer();
    Chranene([this] { FormCreate(); });
    AktualizujStav();
    PripojUdalosti();
    setFixedSize(sizeHint());
}

TForm1::~TForm1()
{
    // The port must stop delivering to this window before the controls go.
    Komunikace.reset();
}

void TForm1::VytvorOvladace()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(8, 8, 8, 4);
    column->setSpacing(6);

    int labelCount = 0;
    const auto popisek = [&](const QString& text, QWidget* buddy) {
        auto* label = new QLabel(text, central);
        const QByteArray name = "Label" + QByteArray::number(++labelCount);
        Pojmenuj(label, name.constData());
        if (buddy)
            label->setBuddy(buddy);
        return label;
    };

    // Traffic display: three memos, each with its clear button beside it.
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFontMetrics fixedMetrics(fixed);
    auto* memos = new QGridLayout;
    memos->setHorizontalSpacing(6);
    const auto memo = [&](const char* name, int lines, const char* buttonName, QPushButton*& button,
                          int row) {
        auto* edit = Pojmenuj(new QPlainTextEdit(central), name);
        edit->setReadOnly(true);
        // Every inserted telegram would otherwise stay in the undo history for good.
        edit->setUndoRedoEnabled(false);
        edit->setFont(fixed);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // Room for a line of 32 bytes as "XX " each.
        const int margins =
            2 * edit->frameWidth() + 2 * int(edit->document()->documentMargin()) + 4;
        edit->setMinimumWidth(fixedMetrics.horizontalAdvance(QString(3 * 32, QLatin1Char('0'))) +
                              margins + style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        edit->setFixedHeight(fixedMetrics.lineSpacing() * lines + margins);
        button = Pojmenuj(new QPushButton(QStringLiteral("Smaž"), central), buttonName);
        memos->addWidget(edit, row, 0);
        memos->addWidget(button, row, 1, Qt::AlignTop);
        return edit;
    };
    Memo1 = memo("Memo1", 12, "Button1", Button1, 0);
    Memo2 = memo("Memo2", 4, "Button2", Button2, 1);
    Memo3 = memo("Memo3", 6, "Button3", Button3, 2);
    column->addLayout(memos);

    // Port and display settings.
    auto* settings = new QHBoxLayout;
    settings->setSpacing(10);
    {
        auto* port = new QGridLayout;
        port->setVerticalSpacing(4);
        Cmb_ComPort = Pojmenuj(new QComboBox(central), "Cmb_ComPort");
        Cmb_ComPort->setMaxVisibleItems(16);
        Cmb_ComPort->setMinimumContentsLength(6);
        Edt_BaudRate = Pojmenuj(new QLineEdit(QStringLiteral("4800"), central), "Edt_BaudRate");
        Edt_BaudRate->setFixedWidth(Cmb_ComPort->sizeHint().width());
        port->addWidget(popisek(QStringLiteral("Port"), Cmb_ComPort), 0, 0);
        port->addWidget(Cmb_ComPort, 1, 0);
        port->addWidget(popisek(QStringLiteral("Baud rate"), Edt_BaudRate), 2, 0);
        port->addWidget(Edt_BaudRate, 3, 0);
        port->setRowStretch(4, 1);
        settings->addLayout(port);
    }
    Rgp_Razeni = Pojmenuj(new TRadioGroup(QStringLiteral("Řazení zpráv"),
                                          {QStringLiteral("Nejnovější na začátku"),
                                           QStringLiteral("Nejnovější na konci")},
                                          1, central),
                          "Rgp_Razeni");
    Rgp_Stav = Pojmenuj(new TRadioGroup(QStringLiteral("Stav COM portu"),
                                        {QStringLiteral("Připojeno"), QStringLiteral("Odpojeno")},
                                        1, central),
                        "Rgp_Stav");
    settings->addWidget(Rgp_Razeni, 0, Qt::AlignTop);
    settings->addWidget(Rgp_Stav, 0, Qt::AlignTop);
    {
        auto* display = new QVBoxLayout;
        Rgp_PrijataData = Pojmenuj(
            new TRadioGroup(QStringLiteral("Přijatá data:"),
                            {QStringLiteral("Zobrazuj"), QStringLiteral("Nezobrazuj")}, 2, central),
            "Rgp_PrijataData");
        display->addWidget(Rgp_PrijataData);
        auto* perLine = new QHBoxLayout;
        Edt_PocetBytu = Pojmenuj(new QLineEdit(QStringLiteral("32"), central), "Edt_PocetBytu");
        Edt_PocetBytu->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
        perLine->addWidget(popisek(QStringLiteral("Počet bytů na řádku"), Edt_PocetBytu));
        perLine->addWidget(Edt_PocetBytu);
        perLine->addStretch(1);
        display->addLayout(perLine);
        display->addStretch(1);
        settings->addLayout(display);
    }
    const int hexWidth = fontMetrics().horizontalAdvance(QStringLiteral("000")) + 12;
    {
        auto* filter = new QGridLayout;
        filter->setVerticalSpacing(4);
        Chk_Filtr =
            Pojmenuj(new QCheckBox(QStringLiteral("Filtruj příchozí"), central), "Chk_Filtr");
        Edt_FiltrOd = Pojmenuj(new QLineEdit(central), "Edt_FiltrOd");
        Edt_FiltrPro = Pojmenuj(new QLineEdit(central), "Edt_FiltrPro");
        Edt_FiltrOd->setFixedWidth(hexWidth);
        Edt_FiltrPro->setFixedWidth(hexWidth);
        filter->addWidget(Chk_Filtr, 0, 0, 1, 5);
        filter->addWidget(popisek(QStringLiteral("Od"), Edt_FiltrOd), 1, 0);
        filter->addWidget(Edt_FiltrOd, 1, 1);
        filter->addWidget(popisek(QStringLiteral("Pro"), Edt_FiltrPro), 1, 2);
        filter->addWidget(Edt_FiltrPro, 1, 3);
        filter->addWidget(popisek(QStringLiteral("Hex"), nullptr), 1, 4);
        filter->setRowStretch(2, 1);
        settings->addLayout(filter);
    }
    {
        auto* checks = new QVBoxLayout;
        Chk_NezobrazujVyzvy = Pojmenuj(new QCheckBox(QStringLiteral("Nezobrazuj výzvy"), central),
                                       "Chk_NezobrazujVyzvy");
        Chk_VystupDoSouboru = Pojmenuj(new QCheckBox(QStringLiteral("Výstup do souboru"), central),
                                       "Chk_VystupDoSouboru");
        checks->addWidget(Chk_NezobrazujVyzvy);
        checks->addWidget(Chk_VystupDoSouboru);
        checks->addStretch(1);
        settings->addLayout(checks);
    }
    settings->addStretch(1);
    column->addLayout(settings);

    // Telegram composer: the header and block bytes with their small labels above them.
    auto* composer = new QGridLayout;
    composer->setHorizontalSpacing(4);
    composer->setVerticalSpacing(2);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    const auto bajt = [&](const char* name, const char* text, int col, const char* caption,
                          int span = 1) {
        auto* edit = Pojmenuj(new QLineEdit(QLatin1String(text), central), name);
        edit->setFixedWidth(hexWidth);
        if (caption) {
            QLabel* label = popisek(QLatin1String(caption), edit);
            label->setFont(small);
            composer->addWidget(label, 0, col, 1, span);
        }
        composer->addWidget(edit, 1, col);
        return edit;
    };
    Edt_Sync = bajt("Edt_Sync", "A6", 0, "Sync");
    Edt_To = bajt("Edt_To", "00", 1, "To");
    Edt_From = bajt("Edt_From", "F0", 2, "From");
    Edt_Dev = bajt("Edt_Dev", "00", 3, "Device");
    Edt_RW = bajt("Edt_RW", "00", 4, "R/W");
    Edt_CRCHead = bajt("Edt_CRCHead", "00", 5, "CRC");
    Edt_DataLen = bajt("Edt_DataLen", "00", 6, "DataLen");
    Edt_Addr1 = bajt("Edt_Addr1", "00", 7, "Address", 3);
    Edt_Addr2 = bajt("Edt_Addr2", "00", 8, nullptr);
    Edt_Addr3 = bajt("Edt_Addr3", "00", 9, nullptr);
    Cmb_Data = Pojmenuj(new QComboBox(central), "Cmb_Data");
    Cmb_Data->setEditable(true);
    Cmb_Data->setInsertPolicy(QComboBox::NoInsert);
    Cmb_Data->setEditText(QStringLiteral("00"));
    Cmb_Data->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    composer->addWidget(Cmb_Data, 1, 10);
    Edt_CRCWrite = bajt("Edt_CRCWrite", "00", 11, "CRC8");
    Edt_CRCTLG = bajt("Edt_CRCTLG", "00", 12, "CRC");
    composer->setColumnStretch(10, 1);
    {
        auto* count = new QHBoxLayout;
        count->setSpacing(4);
        Lbl_PocetBytu = Pojmenuj(new QLabel(QStringLiteral("0"), central), "Lbl_PocetBytu");
        count->addWidget(popisek(QStringLiteral("Počet bytů:"), nullptr));
        count->addWidget(Lbl_PocetBytu);
        count->addStretch(1);
        composer->addLayout(count, 2, 10);
    }
    column->addLayout(composer);

    auto* sending = new QHBoxLayout;
    sending->setSpacing(10);
    Rgp_Zarizeni = Pojmenuj(
        new TRadioGroup(QStringLiteral("Druh čtení/zápisu"),
                        {QStringLiteral("RAM290     =$00;"), QStringLiteral("FRAM290   =$10;"),
                         QStringLiteral("RTC290      =$20;"), QStringLiteral("FLASH290  =$30;"),
                         QStringLiteral("ROM290     =$40;"), QStringLiteral("FLROM290 =$50;"),
                         QStringLiteral("RAMBIT290=$60;")},
                        2, central),
        "Rgp_Zarizeni");
    Rgp_druhTLG =
        Pojmenuj(new TRadioGroup(QStringLiteral("Druh TLG"),
                                 {QStringLiteral("Čtení"), QStringLiteral("Zápis")}, 1, central),
                 "Rgp_druhTLG");
    sending->addWidget(Rgp_Zarizeni, 0, Qt::AlignTop);
    sending->addWidget(Rgp_druhTLG, 0, Qt::AlignTop);
    {
        auto* buttons = new QVBoxLayout;
        buttons->setSpacing(4);
        Btn_PosliTLG =
            Pojmenuj(new QPushButton(QStringLiteral("Pošli TLG (po příchodu výzvy)"), central),
                     "Btn_PosliTLG");
        Button4 = Pojmenuj(new QPushButton(QStringLiteral("Pošli TLG (nečekej na výzvu)"), central),
                           "Button4");
        Btn_VymazBuffer =
            Pojmenuj(new QPushButton(QStringLiteral("Vymaž buffer"), central), "Btn_VymazBuffer");
        buttons->addWidget(Btn_PosliTLG);
        buttons->addWidget(Button4);
        buttons->addWidget(Btn_VymazBuffer);
        buttons->addStretch(1);
        sending->addLayout(buttons);
    }
    {
        auto* test = new QVBoxLayout;
        test->setSpacing(4);
        Btn_TestKomunikace =
            Pojmenuj(new QPushButton(QStringLiteral("START"), central), "Btn_TestKomunikace");
        test->addWidget(popisek(QStringLiteral("Test komunikace"), Btn_TestKomunikace), 0,
                        Qt::AlignHCenter);
        test->addWidget(Btn_TestKomunikace);
        test->addStretch(1);
        sending->addLayout(test);
    }
    sending->addStretch(1);
    column->addLayout(sending);

    Rgp_Razeni->SetItemIndex(0);
    Rgp_Stav->SetItemIndex(0);
    Rgp_PrijataData->SetItemIndex(0);
    Rgp_Zarizeni->SetItemIndex(0);
    Rgp_druhTLG->SetItemIndex(0);

    StatusBar1 = Pojmenuj(statusBar(), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    FStatusPanel = Pojmenuj(new QLabel(StatusBar1), "StatusBar1Panel");
    FStatusPanel->setMinimumWidth(200);
    StatusBar1->addWidget(FStatusPanel, 1);
}

void TForm1::PripojComposer()
{
    // textChanged also fires when the program sets a text, as the original's change events did.
    for (QLineEdit* edit : {Edt_Sync, Edt_To, Edt_From, Edt_Dev, Edt_RW})
        connect(edit, &QLineEdit::textChanged, this,
                [this] { Chranene([this] { Edt_SyncChange(); }); });
    for (QLineEdit* edit : {Edt_DataLen, Edt_Addr1, Edt_Addr2, Edt_Addr3})
        connect(edit, &QLineEdit::textChanged, this,
                [this] { Chranene([this] { Edt_DataLenChange(); }); });
    connect(Cmb_Data, &QComboBox::editTextChanged, this,
            [this] { Chranene([this] { Cmb_DataChange(); }); });
    connect(Rgp_Zarizeni, &TRadioGroup::Click, this,
            [this] { Chranene([this] { Rgp_ZarizeniClick(); }); });
    connect(Rgp_druhTLG, &TRadioGroup::Click, this,
            [this] { Chranene([this] { Rgp_druhTLGClick(); }); });
}

void TForm1::PripojUdalosti()
{
    connect(Rgp_Stav, &TRadioGroup::Click, this, [this] {
        Chranene([this] { Rgp_StavClick(); });
        AktualizujStav();
    });
    connect(Cmb_ComPort, &QComboBox::currentIndexChanged, this, [this] { AktualizujStav(); });
    Edt_PocetBytu->installEventFilter(this);
    Cmb_Data->installEventFilter(this);
    if (Cmb_Data->lineEdit())
        Cmb_Data->lineEdit()->installEventFilter(this);

    const auto tlacitko = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { Chranene([this, handler] { (this->*handler)(); }); });
    };
    tlacitko(Button1, &TForm1::Button1Click);
    tlacitko(Button2, &TForm1::Button2Click);
    tlacitko(Button3, &TForm1::Button3Click);
    tlacitko(Btn_PosliTLG, &TForm1::Btn_PosliTLGClick);
    tlacitko(Button4, &TForm1::Button4Click);
    tlacitko(Btn_VymazBuffer, &TForm1::Btn_VymazBufferClick);
    tlacitko(Btn_TestKomunikace, &TForm1::Btn_TestKomunikaceClick);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edt_PocetBytu && event->type() == QEvent::FocusOut)
        Chranene([this] { Edt_PocetBytuExit(); });
    if (watched == Cmb_Data || (Cmb_Data && watched == Cmb_Data->lineEdit())) {
        if (event->type() == QEvent::KeyPress) {
            bool consumed = false;
            Chranene([&] { consumed = Cmb_DataKeyPress(static_cast<QKeyEvent*>(event)); });
            if (consumed)
                return true;
        } else if (watched == Cmb_Data && event->type() == QEvent::FocusOut) {
            // Opening the drop-down list or switching to another program is no leaving.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                Chranene([this] { Cmb_DataExit(); });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TForm1::CestaNastaveni() const
{
    return FUmisteni.settingsFile;
}

void TForm1::FormCreate()
{
    AdresarProgramu =
        QDir::cleanPath(FOptions.adresarProgramu.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : FOptions.adresarProgramu);
    FUmisteni = LocateFiles(FOptions.slozky ? FOptions.slozky(AdresarProgramu)
                                            : SystemFolders(AdresarProgramu));
    FStatusPanel->setToolTip(DescribeLocations(FUmisteni));

    Cmb_ComPort->clear();
    for (int number = 1; number <= PocetPortu; ++number)
        Cmb_ComPort->addItem(QStringLiteral("COM%1").arg(number));

    {
        IniProfile ini(CestaNastaveni());
        ini.Load();
        const int port = ini.ReadInteger(SekcePort, KlicPort, 1);
        Cmb_ComPort->setCurrentIndex(port >= 1 && port <= PocetPortu ? port - 1 : -1);
        Edt_BaudRate->setText(
            QString::fromStdString(ini.ReadString(SekcePort, KlicBaudRate, "4800")));
        Chk_Filtr->setChecked(ini.ReadInteger(SekceFiltr, KlicZapnuto, 0) != 0);
        Edt_FiltrOd->setText(
            QString::fromStdString(ini.ReadString(SekceFiltr, KlicZarizeni, "00")));
        Edt_FiltrPro->setText(
            QString::fromStdString(ini.ReadString(SekceFiltr, KlicAdresat, "3f")));
        Edt_PocetBytu->setText(
            QString::fromStdString(ini.ReadString(SekceProgram, KlicPocetBytu, "32")));
        NactiPrepisyPortu(ini);
        Edt_PocetBytuExit();
    }
    PopisPorty();

    Edt_SyncChange();
    Rgp_ZarizeniClick();
    Rgp_druhTLGClick();
    Cmb_DataChange();

    Komunikace = std::make_unique<TKomunikace>(FOptions.platform ? FOptions.platform()
                                                                 : MakeSystemPlatform());
    Komunikace->NastavVychozi();
    Komunikace->NastavPort(static_cast<std::uint8_t>(Cmb_ComPort->currentIndex() + 1));

    if (!OtevriPort())
        Zprava(MessageKind::Warning, TextPortNelzeOtevrit);
}

void TForm1::NactiPrepisyPortu(const IniProfile& ini)
{
    std::map<int, std::string> overrides;
    for (const auto& [key, value] : ini.ReadSection(SekcePorty))
        if (const auto number = CisloPortuKlice(key))
            overrides.emplace(*number, value); // the first entry for a number wins
    SetComPortOverrides(std::move(overrides));
}

void TForm1::PopisPorty()
{
    for (int i = 0; i < Cmb_ComPort->count(); ++i)
        Cmb_ComPort->setItemData(i, PopisZarizeni(CisloPortuLinky(i + 1)), Qt::ToolTipRole);
}

bool TForm1::OtevriPort()
{
    const int baudRate = StrToInt(Utf8(Edt_BaudRate->text()));
    if (Komunikace->Otevri(baudRate)) {
        Komunikace->NastavDTR(false);
        // Attached at every opening: an operator who reconnects expects to see traffic.
        Komunikace->NastavPrijem(
            [this](TSerialPortDriver& sender, std::span<const std::uint8_t> bytes) {
                PrijmiData(sender, bytes);
            });
        FStavPortu = StavPortu::Otevreny;
        return true;
    }
    FStavPortu = StavPortu::Selhal;
    FDuvodSelhani = DiagnoseOpenFailure(ResolveDeviceName(Komunikace->SeriovyPort().PortName()));
    return false;
}

void TForm1::Edt_PocetBytuExit()
{
    // A count below 1 cannot lay out a line; it falls back like a text that is no number.
    const auto value = ParseInteger(Utf8(Edt_PocetBytu->text()));
    PocetBytuNaRadku = value && *value >= 1 ? *value : VychoziPocetBytu;
}

void TForm1::Rgp_StavClick()
{
    if (!Komunikace)
        return;
    if (Rgp_Stav->ItemIndex() == 1) {
        Komunikace->Zavri();
        FStavPortu = StavPortu::Zavreny;
    } else if (Rgp_Stav->ItemIndex() == 0) {
        OtevriPort();
    }
}

void TForm1::PrijmiData(TSerialPortDriver&, std::span<const std::uint8_t> Data)
{
    // Runs from the port's tick inside the event loop: nothing may escape from here, and an
    // error is told to the operator only after the tick.
    Chranene(
        [&] {
            const QDateTime prijato = QDateTime::currentDateTime();
            PrijemBuf.insert(PrijemBuf.end(), Data.begin(), Data.end());
            // The answer to a poll goes out first; the disk and the memos can wait until the
            // pass is over. The capture line is written however the pass ends.
            const auto zachytit = [&] {
                if (Chk_VystupDoSouboru->isChecked())
                    PripisDoSouboru(FUmisteni.captureFile, CaptureChunkLine(Data, prijato));
            };
            // What the chunk puts into the memos, in the order it happened.
            struct Vypis {
                enum class Druh { Prijaty, Chyba, Odeslany } druh;
                std::vector<std::uint8_t> telegram;
                std::string radek; // the error line
            };
            std::vector<Vypis> vypisy;
            try {
                if (Komunikace)
                    Komunikace->ZpracujPrijem(
                        PrijemBuf,
                        {[&](ByteSpan telegram) {
                             if (ZobrazitTLG(TelegramTo(telegram), TelegramFrom(telegram),
                                             JeVyzva(telegram)))
                                 vypisy.push_back({Vypis::Druh::Prijaty,
                                                   {telegram.begin(), telegram.end()},
                                                   {}});
                         },
                         [&](std::string_view line) {
                             vypisy.push_back({Vypis::Druh::Chyba, {}, std::string(line)});
                         },
                         [&](ByteSpan sent) {
                             vypisy.push_back(
                                 {Vypis::Druh::Odeslany, {sent.begin(), sent.end()}, {}});
                         }});
            } catch (...) {
                zachytit();
                throw;
            }
            zachytit();
            for (const Vypis& v : vypisy) {
                switch (v.druh) {
                case Vypis::Druh::Prijaty:
                    VypisTLG(v.telegram, Memo1);
                    break;
                case Vypis::Druh::Chyba:
                    VypisChybu(v.radek);
                    break;
                case Vypis::Druh::Odeslany:
                    VypisTLG(v.telegram, Memo3);
                    break;
                }
            }
        },
        Hlaseni::Pozdeji);
}

bool TForm1::ZobrazitTLG(std::uint8_t To, std::uint8_t From, bool Vyzva) const
{
    const QString od = Edt_FiltrOd->text();
    const QString pro = Edt_FiltrPro->text();
    DisplayFilter filter;
    filter.showReceived = Rgp_PrijataData->ItemIndex() != 1;
    filter.filterOn = Chk_Filtr->isChecked();
    filter.filterFrom = od;
    filter.filterTo = pro;
    filter.hidePolls = Chk_NezobrazujVyzvy->isChecked();
    return qtr290::ZobrazitTLG(To, From, Vyzva, filter);
}

bool TForm1::NejnovejsiNahore() const
{
    return Rgp_Razeni->ItemIndex() == 0;
}

void TForm1::VypisTLG(ByteSpan Data, QPlainTextEdit* Memo)
{
    if (Memo->blockCount() > LimitRadku)
        Memo->clear();
    const QString text = QString::fromLatin1(TelegramText(Data, PocetBytuNaRadku));
    if (NejnovejsiNahore()) {
        VlozNahoru(Memo, text);
        Memo->setTextCursor(QTextCursor(Memo->document()));
        Memo->ensureCursorVisible();
    } else {
        PripojDolu(Memo, text);
    }
}

void TForm1::VypisOdeslany()
{
    // The whole transmission, lead byte included: up to 256 bytes.
    if (Komunikace && Komunikace->DelkaPosledni() != 0)
        VypisTLG(Komunikace->PosledniTLG(), Memo3);
}

void TForm1::VypisChybu(std::string_view Radek)
{
    const QString text = QString::fromLatin1(Radek.data(), qsizetype(Radek.size()));
    const bool nahore = NejnovejsiNahore();
    if (nahore)
        VlozNahoru(Memo1, text);
    else
        PripojDolu(Memo1, text);
    if (Memo1->blockCount() > LimitRadkuChyb)
        OdeberKrajni(Memo1, nahore);
}

void TForm1::Button1Click()
{
    Memo1->clear();
}

void TForm1::Button2Click()
{
    Memo2->clear();
}

void TForm1::Button3Click()
{
    Memo3->clear();
}

bool TForm1::Zapis() const
{
    return Rgp_druhTLG->ItemIndex() == 1;
}

void TForm1::Edt_SyncChange()
{
    PrepocitejHlavicku();
}

void TForm1::PrepocitejHlavicku()
{
    Edt_CRCHead->setText(qtr290::PrepocitejHlavicku(
        Edt_Sync->text(), Edt_To->text(), Edt_From->text(), Edt_Dev->text(), Edt_RW->text()));
}

void TForm1::Rgp_ZarizeniClick()
{
    NastavDev();
}

void TForm1::NastavDev()
{
    KodOblasti = KodOblastiZIndexu(Rgp_Zarizeni->ItemIndex());
    Edt_Dev->setText(TextDev(KodOblasti, Zapis()));
}

void TForm1::Rgp_druhTLGClick()
{
    NastavDev();
    Edt_RW->setText(TextRW(Zapis(), DataTLG.size()));
    Edt_CRCWrite->setEnabled(Zapis());
    // The block checksum of a read and of a write differ: the preview must follow.
    Edt_DataLenChange();
}

void TForm1::Cmb_DataChange()
{
    DataTLG = RozeberData(Cmb_Data->currentText());
    Lbl_PocetBytu->setText(QString::number(DataTLG.size()));
    Edt_DataLen->setText(FieldHex(static_cast<unsigned>(DataTLG.size())));
    Rgp_druhTLGClick();
    Edt_DataLenChange();
}

bool TForm1::Cmb_DataKeyPress(QKeyEvent* Key)
{
    if (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter) {
        focusNextChild();
        return true;
    }
    // Only typed characters are judged: editing keys, shortcuts (their text is a control
    // character) and backspace pass.
    const QString text = Key->text();
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && !JeHexCislice(c.unicode()))
            return true;
    }
    return false;
}

void TForm1::Cmb_DataExit()
{
    Cmb_Data->addItem(Cmb_Data->currentText());
}

void TForm1::Edt_DataLenChange()
{
    PrepocitejData();
}

void TForm1::PrepocitejData()
{
    const DataPreview preview =
        qtr290::PrepocitejData(Edt_DataLen->text(), Edt_Addr1->text(), Edt_Addr2->text(),
                               Edt_Addr3->text(), DataTLG, Zapis());
    Edt_CRCWrite->setText(preview.crcWrite);
    Edt_CRCTLG->setText(preview.crcTlg);
}

QString TForm1::RozdilOdZobrazeni(std::uint8_t to, std::uint8_t from, std::uint32_t adresa,
                                  std::uint8_t count) const
{
    const bool zapis = Zapis();
    const RequestTarget target{from, to, KodOblasti, adresa};
    const std::vector<std::uint8_t> tlg =
        zapis ? BuildWriteRequest(target, DataTLG) : BuildReadRequest(target, count);
    if (tlg.empty())
        return TextNeodpovida;

    // The fields that show bytes of the telegram, with those bytes; then the inputs,
    // whose text must say the byte that is read from it.
    std::vector<std::pair<const QLineEdit*, std::uint8_t>> pole = {
        {Edt_Sync, tlg[0]},  {Edt_To, tlg[1]},      {Edt_From, tlg[2]},      {Edt_Dev, tlg[3]},
        {Edt_RW, tlg[4]},    {Edt_CRCHead, tlg[5]}, {Edt_DataLen, tlg[6]},   {Edt_Addr1, tlg[7]},
        {Edt_Addr2, tlg[8]}, {Edt_Addr3, tlg[9]},   {Edt_CRCTLG, tlg.back()}};
    if (zapis)
        pole.push_back({Edt_CRCWrite, tlg[tlg.size() - 2]});
    bool souhlasi = !zapis || JsouCistaData(Cmb_Data->currentText());
    for (const auto& [edit, value] : pole)
        souhlasi = souhlasi && Ukazuje(edit->text(), value);
    if (souhlasi)
        return {};
    return TextNeodpovida + QLatin1Char('\n') +
           TextOdesleSe.arg(QString::fromLatin1(ChunkText(tlg)).trimmed());
}

bool TForm1::ZaradZComposeru()
{
    if (!Komunikace)
        return false;
    const std::uint8_t to = HexNaByte(Edt_To->text());
    const std::uint8_t from = HexNaByte(Edt_From->text());
    const std::uint32_t adresa =
        AdresaZEditu(Edt_Addr1->text(), Edt_Addr2->text(), Edt_Addr3->text());
    const std::uint8_t count = HexNaByte(Edt_DataLen->text());
    const bool zapis = Zapis();

    const OvereniPozadavku overeni = OverPozadavek(zapis, count, DataTLG.size());
    if (overeni.vysledek == OvereniPozadavku::Vysledek::Odmitnuto) {
        Zprava(MessageKind::Warning, overeni.zprava + QLatin1Char('\n') + TextNezarazeno);
        return false;
    }
    // A request that differs from what the fields show goes out only when the operator says so.
    const QString rozdil = overeni.vysledek == OvereniPozadavku::Vysledek::Varovani
                               ? overeni.zprava
                               : RozdilOdZobrazeni(to, from, adresa, count);
    if (!rozdil.isEmpty() && !Dotaz(rozdil + QLatin1Char('\n') + TextPresto))
        return false;

    if (zapis) {
        for (std::size_t i = 0; i < DataTLG.size(); ++i)
            Komunikace->ZapisDataByte(static_cast<int>(i + 1), DataTLG[i]);
    }
    if (!Komunikace->ZaradTLG(from, to, zapis, KodOblasti, adresa, count)) {
        Zprava(MessageKind::Warning, TextNezarazeno);
        return false;
    }
    if (Chk_VystupDoSouboru->isChecked())
        PripisDoSouboru(FUmisteni.captureFile, CaptureQueuedLine(QDateTime::currentDateTime()));
    return true;
}

void TForm1::Btn_PosliTLGClick()
{
    ZaradZComposeru();
}

void TForm1::Button4Click()
{
    // A request that was not queued sends nothing: the operator asked for this one.
    if (!ZaradZComposeru())
        return;
    Komunikace->PosliCekajici();
    VypisOdeslany();
}

void TForm1::Btn_TestKomunikaceClick()
{
    if (!Komunikace)
        return;
    Komunikace->VymazFrontu();
    Edt_To->setText(QStringLiteral("00"));
    Edt_From->setText(QStringLiteral("F0"));
    Edt_Addr1->setText(QStringLiteral("57"));
    Edt_Addr2->setText(QStringLiteral("01"));
    Edt_Addr3->setText(QStringLiteral("00"));
    Rgp_Zarizeni->SetItemIndex(0);
    Rgp_druhTLG->SetItemIndex(0);
    Btn_PosliTLGClick();
}

void TForm1::Btn_VymazBufferClick()
{
    if (Komunikace)
        Komunikace->VymazFrontu();
}

void TForm1::FormClose()
{
    Chranene([this] {
        IniProfile ini(CestaNastaveni());
        ini.Load();
        EnsureParentDirectory(ini.Path().toStdU16String()); // a per-user folder, on first use
        ini.WriteString(SekcePort, KlicPort, std::to_string(Cmb_ComPort->currentIndex() + 1));
        ini.WriteString(SekcePort, KlicBaudRate, Utf8(Edt_BaudRate->text()));
        ini.WriteString(SekceFiltr, KlicZapnuto, Chk_Filtr->isChecked() ? "1" : "0");
        ini.WriteString(SekceFiltr, KlicZarizeni, Utf8(Edt_FiltrOd->text()));
        ini.WriteString(SekceFiltr, KlicAdresat, Utf8(Edt_FiltrPro->text()));
        ini.WriteString(SekceProgram, KlicPocetBytu, Utf8(Edt_PocetBytu->text()));
        // The window closes anyway: an operator who cannot save must still be able to quit.
        if (!ini.Save())
            ZobrazChybu(QStringLiteral("Nastavení nelze uložit do souboru %1")
                            .arg(QDir::toNativeSeparators(ini.Path())));
    });
    Komunikace.reset();
    FStavPortu = StavPortu::Zavreny;
    std::vector<std::uint8_t>().swap(PrijemBuf);
    std::vector<std::uint8_t>().swap(DataTLG);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!FZavreno) {
        FZavreno = true;
        FormClose();
        AktualizujStav();
    }
    event->accept();
}

QString TForm1::TextStavu() const
{
    if (!Komunikace)
        return {};
    const std::string name = Komunikace->SeriovyPort().PortName();
    const std::string device = ResolveDeviceName(name);
    const auto number = ComPortNumber(name);
    QString text = number ? QStringLiteral("COM%1").arg(*number) : QString::fromStdString(name);
    if (!device.empty() && device != name)
        text += QStringLiteral(" = ") + QString::fromStdString(device);
    text += QStringLiteral(": ");

    switch (FStavPortu) {
    case StavPortu::Otevreny:
        text += QStringLiteral("připojeno");
        break;
    case StavPortu::Zavreny:
        text += QStringLiteral("odpojeno");
        break;
    case StavPortu::Selhal:
        switch (FDuvodSelhani) {
        case PortFailure::NoDevice:
            text += QStringLiteral("nemá přiřazené zařízení (sekce [Porty] v nastaveni.ini)");
            break;
        case PortFailure::Missing:
            text += QStringLiteral("nelze otevřít, zařízení neexistuje");
            break;
        case PortFailure::NoPermission:
            text +=
                QStringLiteral("nelze otevřít, chybí oprávnění (uživatel není ve skupině dialout)");
            break;
        case PortFailure::Busy:
            text +=
                QStringLiteral("nelze otevřít, port používá jiný program nebo ho nelze nastavit");
            break;
        }
        break;
    }

    // A new choice of port is stored at close and used from the next start on.
    const int chosen = CisloPortuLinky(Cmb_ComPort->currentIndex() + 1);
    if (!number || chosen != *number)
        text += QStringLiteral("  |  od příštího spuštění: ") + PopisZarizeni(chosen);
    return text;
}

void TForm1::AktualizujStav()
{
    FStatusPanel->setText(TextStavu());
}

void TForm1::ZobrazChybu(const QString& text)
{
    Zprava(MessageKind::Error, text);
}

void TForm1::Nahlas(const QString& text, Hlaseni hlaseni)
{
    if (hlaseni == Hlaseni::Ihned) {
        ZobrazChybu(text);
        return;
    }
    // One report at a time: an error that repeats at every tick must not pile up boxes.
    if (FHlaseniCeka)
        return;
    FHlaseniCeka = true;
    QTimer::singleShot(0, this, [this, text] {
        ZobrazChybu(text);
        FHlaseniCeka = false;
    });
}

void TForm1::Zprava(MessageKind kind, const QString& text)
{
    if (FOptions.zprava) {
        FOptions.zprava(kind, text);
        return;
    }
    if (kind == MessageKind::Warning)
        QMessageBox::warning(this, Titulek, text, QMessageBox::Ok);
    else
        QMessageBox::critical(this, Titulek, text, QMessageBox::Ok);
}

bool TForm1::Dotaz(const QString& text)
{
    if (FOptions.dotaz)
        return FOptions.dotaz(text);
    QMessageBox box(QMessageBox::Warning, Titulek, text, QMessageBox::NoButton, this);
    QPushButton* ano = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    QPushButton* ne = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
    // A stray Enter must not send what the operator has not looked at.
    box.setDefaultButton(ne);
    box.setEscapeButton(ne);
    box.exec();
    return box.clickedButton() == ano;
}

} // namespace qtr290
