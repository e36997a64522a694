#include "main.h"

#include "iniprofile.h"
#include "radiogroup.h"
#include "textconv.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
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

template <class Widget> Widget* Pojmenuj(Widget* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleDescription(QLatin1String(name));
    return widget;
}

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The COM number of a "COM<n>" key of the [Porty] section: decimal digits only.
std::optional<int> CisloPortuKlice(std::string_view key) {
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
int CisloPortuLinky(int itemNumber) {
    return static_cast<std::uint8_t>(itemNumber);
}

QString PopisZarizeni(int comNumber) {
    const std::string device = ComPortDevice(comNumber);
    return device.empty()
               ? QStringLiteral("COM%1 bez zařízení").arg(comNumber)
               : QStringLiteral("COM%1 = %2").arg(comNumber).arg(QString::fromStdString(device));
}

} // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent)
    : QMainWindow(parent), FOptions(std::move(options)) {
    setWindowTitle(Titulek);
    // System menu and minimise, no maximise: the controls keep fixed places.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    VytvorOvladace();
    Chranene([this] { FormCreate(); });
    AktualizujStav();
    PripojUdalosti();
    setFixedSize(sizeHint());
}

TForm1::~TForm1() {
    // The port must stop delivering to this window before the controls go.
    Komunikace.reset();
}

void TForm1::VytvorOvladace() {
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

void TForm1::PripojUdalosti() {
    connect(Rgp_Stav, &TRadioGroup::Click, this, [this] {
        Chranene([this] { Rgp_StavClick(); });
        AktualizujStav();
    });
    connect(Cmb_ComPort, &QComboBox::currentIndexChanged, this, [this] { AktualizujStav(); });
    Edt_PocetBytu->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edt_PocetBytu && event->type() == QEvent::FocusOut)
        Chranene([this] { Edt_PocetBytuExit(); });
    return QMainWindow::eventFilter(watched, event);
}

QString TForm1::CestaNastaveni() const {
    return AdresarProgramu + QStringLiteral("/nastaveni.ini");
}

void TForm1::FormCreate() {
    AdresarProgramu =
        QDir::cleanPath(FOptions.adresarProgramu.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : FOptions.adresarProgramu);

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

    // The composer's derived fields are refreshed here (Edt_SyncChange, Rgp_ZarizeniClick,
    // Rgp_druhTLGClick, Cmb_DataChange) once the composer has its handlers.

    Komunikace = std::make_unique<TKomunikace>(FOptions.platform ? FOptions.platform()
                                                                 : MakeSystemPlatform());
    Komunikace->NastavVychozi();
    Komunikace->NastavPort(static_cast<std::uint8_t>(Cmb_ComPort->currentIndex() + 1));

    if (!OtevriPort())
        Zprava(MessageKind::Warning, TextPortNelzeOtevrit);
}

void TForm1::NactiPrepisyPortu(const IniProfile& ini) {
    std::map<int, std::string> overrides;
    for (const auto& [key, value] : ini.ReadSection(SekcePorty))
        if (const auto number = CisloPortuKlice(key))
            overrides.emplace(*number, value); // the first entry for a number wins
    SetComPortOverrides(std::move(overrides));
}

void TForm1::PopisPorty() {
    for (int i = 0; i < Cmb_ComPort->count(); ++i)
        Cmb_ComPort->setItemData(i, PopisZarizeni(CisloPortuLinky(i + 1)), Qt::ToolTipRole);
}

bool TForm1::OtevriPort() {
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

void TForm1::Edt_PocetBytuExit() {
    // A count below 1 cannot lay out a line; it falls back like a text that is no number.
    const auto value = ParseInteger(Utf8(Edt_PocetBytu->text()));
    PocetBytuNaRadku = value && *value >= 1 ? *value : VychoziPocetBytu;
}

void TForm1::Rgp_StavClick() {
    if (!Komunikace)
        return;
    if (Rgp_Stav->ItemIndex() == 1) {
        Komunikace->Zavri();
        FStavPortu = StavPortu::Zavreny;
    } else if (Rgp_Stav->ItemIndex() == 0) {
        OtevriPort();
    }
}

void TForm1::PrijmiData(TSerialPortDriver&, std::span<const std::uint8_t> Data) {
    // Runs from the port's tick inside the event loop: nothing may escape from here.
    Chranene([&] {
        PrijemBuf.insert(PrijemBuf.end(), Data.begin(), Data.end());
        if (Komunikace)
            Komunikace->ZpracujPrijem(PrijemBuf, {});
    });
}

void TForm1::FormClose() {
    Chranene([this] {
        IniProfile ini(CestaNastaveni());
        ini.Load();
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

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FZavreno) {
        FZavreno = true;
        FormClose();
        AktualizujStav();
    }
    event->accept();
}

QString TForm1::TextStavu() const {
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

void TForm1::AktualizujStav() {
    FStatusPanel->setText(TextStavu());
}

void TForm1::ZobrazChybu(const QString& text) {
    Zprava(MessageKind::Error, text);
}

void TForm1::Zprava(MessageKind kind, const QString& text) {
    if (FOptions.zprava) {
        FOptions.zprava(kind, text);
        return;
    }
    if (kind == MessageKind::Warning)
        QMessageBox::warning(this, Titulek, text, QMessageBox::Ok);
    else
        QMessageBox::critical(this, Titulek, text, QMessageBox::Ok);
}

} // namespace qtr290
