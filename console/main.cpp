#include "main.h"

#include "Composer.h"
#include "HexText.h"
#include "append_exclusive.h"
#include "iniprofile.h"
#include "radiogroup.h"
#include "repaintthrottle.h"
#include "settings.h"
#include "textconv.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <optional>
#include <utility>

namespace qtr290 {

namespace {

const QString Titulek = QStringLiteral("Komunikační utilita QTR290 v0.5");
const QString TextPortNelzeOtevrit =
    QStringLiteral("Daný sériový port neexistuje nebo se právě používá !");
const QString TextNezarazeno = QStringLiteral("TLG nebyl zařazen.");
const QString TextPrilisDat = QStringLiteral("Počet dat je větší než 243 !");
const QString TextOdesleSe = QStringLiteral("Odešle se: %1");
// The port's polling period.
constexpr int RepaintIntervalMs = 40;
// Text of a composer field that does not say the byte the link will send.
const QColor WarningTextColor(0xC0, 0x40, 0x00);

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
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
    FPortWatch = new PortWatch(FOptions.portProbe, this);
    // The composer's handlers are attached before start-up, so that the fields start-up
    // sets pull their derived fields along.
    ConnectComposer();
    Guarded([this] { FormCreate(); });
    Guarded([this] { MarkFieldsThatDifferFromTelegram(); });
    UpdateStatus();
    ConnectEvents();
    setFixedSize(sizeHint());
    // At most one paint per polling tick, however fast the chunks come.
    new RepaintThrottle(this, RepaintIntervalMs);
}

TForm1::~TForm1()
{
    // The port must stop delivering to this window before the controls go.
    Komunikace.reset();
}

void TForm1::ConnectComposer()
{
    const auto handler = [this](void (TForm1::*step)()) {
        return [this, step] { Guarded([this, step] { (this->*step)(); }); };
    };
    // textChanged also fires when the program sets a text, as the original's change events did.
    for (QLineEdit* edit : {Edt_Sync, Edt_To, Edt_From, Edt_Dev, Edt_RW})
        connect(edit, &QLineEdit::textChanged, this, handler(&TForm1::Edt_SyncChange));
    for (QLineEdit* edit : {Edt_DataLen, Edt_Addr1, Edt_Addr2, Edt_Addr3})
        connect(edit, &QLineEdit::textChanged, this, handler(&TForm1::Edt_DataLenChange));
    connect(Cmb_Data, &QComboBox::editTextChanged, this, handler(&TForm1::Cmb_DataChange));
    connect(Rgp_Zarizeni, &TRadioGroup::Click, this, handler(&TForm1::Rgp_ZarizeniClick));
    connect(Rgp_druhTLG, &TRadioGroup::Click, this, handler(&TForm1::Rgp_druhTLGClick));
    // Choosing a list entry runs the change handler even when its text is the current one.
    connect(Cmb_Data, &QComboBox::activated, this, handler(&TForm1::Cmb_DataChange));

    // Connected after the handlers above, so that it sees the fields they have derived.
    const auto mark = handler(&TForm1::MarkFieldsThatDifferFromTelegram);
    for (QLineEdit* edit : {Edt_Sync, Edt_To, Edt_From, Edt_Dev, Edt_RW, Edt_CRCHead, Edt_DataLen,
                            Edt_Addr1, Edt_Addr2, Edt_Addr3, Edt_CRCWrite, Edt_CRCTLG})
        connect(edit, &QLineEdit::textChanged, this, mark);
    connect(Cmb_Data, &QComboBox::editTextChanged, this, mark);
    connect(Rgp_Zarizeni, &TRadioGroup::Click, this, mark);
    connect(Rgp_druhTLG, &TRadioGroup::Click, this, mark);
}

void TForm1::ConnectEvents()
{
    connect(Rgp_Stav, &TRadioGroup::Click, this, [this] {
        Guarded([this] { Rgp_StavClick(); });
        UpdateStatus();
    });
    connect(Cmb_ComPort, &QComboBox::currentIndexChanged, this, [this] { UpdateStatus(); });
    connect(FPortWatch, &PortWatch::DevicesChanged, this, [this] {
        DescribePorts();
        UpdateStatus();
    });
    Edt_PocetBytu->installEventFilter(this);
    Cmb_Data->installEventFilter(this);
    if (Cmb_Data->lineEdit())
        Cmb_Data->lineEdit()->installEventFilter(this);

    const auto button = [this](QPushButton* pushButton, void (TForm1::*handler)()) {
        connect(pushButton, &QPushButton::clicked, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    button(Button1, &TForm1::Button1Click);
    button(Button2, &TForm1::Button2Click);
    button(Button3, &TForm1::Button3Click);
    button(Btn_PosliTLG, &TForm1::Btn_PosliTLGClick);
    button(Button4, &TForm1::Button4Click);
    button(Btn_VymazBuffer, &TForm1::Btn_VymazBufferClick);
    button(Btn_TestKomunikace, &TForm1::Btn_TestKomunikaceClick);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edt_PocetBytu && event->type() == QEvent::FocusOut)
        Guarded([this] { Edt_PocetBytuExit(); });
    if (watched == Cmb_Data || (Cmb_Data && watched == Cmb_Data->lineEdit())) {
        if (event->type() == QEvent::KeyPress) {
            bool consumed = false;
            Guarded([&] { consumed = Cmb_DataKeyPress(static_cast<QKeyEvent*>(event)); });
            if (consumed)
                return true;
        } else if (watched == Cmb_Data && event->type() == QEvent::FocusOut) {
            // Opening the drop-down list or switching to another program is no leaving.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                Guarded([this] { Cmb_DataExit(); });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TForm1::SettingsPath() const
{
    return FLocations.settingsFile;
}

// ---- Start-up, the port switch and shutdown ----

void TForm1::FormCreate()
{
    AdresarProgramu =
        QDir::cleanPath(FOptions.adresarProgramu.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : FOptions.adresarProgramu);
    FLocations = LocateFiles(FOptions.folders ? FOptions.folders(AdresarProgramu)
                                              : SystemFolders(AdresarProgramu));
    FStatusPanel->setToolTip(DescribeLocations(FLocations));

    Cmb_ComPort->clear();
    for (int number = 1; number <= PocetPortu; ++number)
        Cmb_ComPort->addItem(QStringLiteral("COM%1").arg(number));

    {
        IniProfile ini(SettingsPath());
        ini.Load();
        const Settings settings = ReadSettings(ini);
        Cmb_ComPort->setCurrentIndex(
            settings.port >= 1 && settings.port <= PocetPortu ? settings.port - 1 : -1);
        Edt_BaudRate->setText(settings.baudRate);
        Chk_Filtr->setChecked(settings.filterOn);
        Edt_FiltrOd->setText(settings.filterFrom);
        Edt_FiltrPro->setText(settings.filterTo);
        Edt_PocetBytu->setText(settings.bytesPerLine);
        FPortNames = settings.ports;
        Edt_PocetBytuExit();
        const int number = LinkPortNumber(Cmb_ComPort->currentIndex() + 1);
        FCapture.Configure(FLocations.captureFile, settings.pcapng, "COM" + std::to_string(number),
                           FPortNames.Device(number));
    }
    DescribePorts();

    Edt_SyncChange();
    Rgp_ZarizeniClick();
    Rgp_druhTLGClick();
    Cmb_DataChange();

    Komunikace = std::make_unique<TKomunikace>(FOptions.platform ? FOptions.platform()
                                                                 : MakeSystemPlatform(FPortNames));
    Komunikace->NastavVychozi();
    Komunikace->NastavPort(static_cast<std::uint8_t>(Cmb_ComPort->currentIndex() + 1));
    Komunikace->SeriovyPort().SetOnDeviceLost([this](TSerialPortDriver&) { PortLost(); });

    if (!OpenPort())
        ShowMessage(MessageKind::Warning, TextPortNelzeOtevrit);
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
    FPortWatch->Stop(); // the operator's choice ends a wait for a lost device
    if (Rgp_Stav->ItemIndex() == 1) {
        Komunikace->Zavri();
        FPortState = PortState::Closed;
    } else if (Rgp_Stav->ItemIndex() == 0) {
        OpenPort();
    }
}

void TForm1::FormClose()
{
    Guarded([this] {
        IniProfile ini(SettingsPath());
        ini.Load();
        EnsureParentDirectory(ini.Path().toStdU16String()); // a per-user folder, on first use
        Settings settings;
        settings.port = Cmb_ComPort->currentIndex() + 1;
        settings.baudRate = Edt_BaudRate->text();
        settings.filterOn = Chk_Filtr->isChecked();
        settings.filterFrom = Edt_FiltrOd->text();
        settings.filterTo = Edt_FiltrPro->text();
        settings.bytesPerLine = Edt_PocetBytu->text();
        WriteSettings(ini, settings);
        // The window closes anyway: an operator who cannot save must still be able to quit.
        if (!ini.Save())
            ShowError(QStringLiteral("Nastavení nelze uložit do souboru %1")
                          .arg(QDir::toNativeSeparators(ini.Path())));
    });
    FCapture.Finish(QDateTime::currentDateTime());
    FPortWatch->Stop();
    Komunikace.reset();
    FPortState = PortState::Closed;
    std::vector<std::uint8_t>().swap(PrijemBuf);
    std::vector<std::uint8_t>().swap(DataTLG);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!FClosed) {
        FClosed = true;
        FormClose();
        UpdateStatus();
    }
    event->accept();
}

// ---- Traffic display ----

void TForm1::PrijmiData(TSerialPortDriver&, std::span<const std::uint8_t> Data)
{
    // Runs from the port's tick inside the event loop: nothing may escape from here, and an
    // error is told to the operator only after the tick.
    Guarded(
        [&] {
            const QDateTime received = QDateTime::currentDateTime();
            PrijemBuf.insert(PrijemBuf.end(), Data.begin(), Data.end());
            // The answer to a poll goes out first; the disk and the memos can wait until the
            // pass is over. The capture is written however the pass ends.
            ChunkEntries entries;
            const auto capture = [&] {
                if (Chk_VystupDoSouboru->isChecked())
                    FCapture.Chunk(Data, received, entries);
            };
            try {
                if (Komunikace)
                    Komunikace->ZpracujPrijem(
                        PrijemBuf, {[&](ByteSpan telegram) {
                                        if (ZobrazitTLG(TelegramTo(telegram),
                                                        TelegramFrom(telegram), JeVyzva(telegram)))
                                            entries.AddReceived(telegram);
                                    },
                                    [&](std::string_view line) { entries.AddErrorLine(line); },
                                    [&](ByteSpan sent) { entries.AddSent(sent); }});
            } catch (...) {
                capture();
                throw;
            }
            capture();
            entries.LayOut(Memo1, Memo3, Layout());
        },
        ReportMode::Later);
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

MemoLayout TForm1::Layout() const
{
    return {Rgp_Razeni->ItemIndex() == 0, PocetBytuNaRadku};
}

void TForm1::VypisTLG(ByteSpan Data, QPlainTextEdit* Memo)
{
    ShowTelegram(Memo, Data, Layout());
}

void TForm1::VypisOdeslany()
{
    // The whole transmission, lead byte included: up to 256 bytes.
    if (Komunikace && Komunikace->DelkaPosledni() != 0)
        VypisTLG(Komunikace->PosledniTLG(), Memo3);
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

// ---- Telegram composer ----

bool TForm1::IsWrite() const
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
    Edt_Dev->setText(TextDev(KodOblasti, IsWrite()));
}

void TForm1::Rgp_druhTLGClick()
{
    NastavDev();
    Edt_RW->setText(TextRW(IsWrite(), DataTLG.size()));
    Edt_CRCWrite->setEnabled(IsWrite());
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
    return !DataLineAccepts(Key->text());
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
                               Edt_Addr3->text(), DataTLG, IsWrite());
    Edt_CRCWrite->setText(preview.crcWrite);
    Edt_CRCTLG->setText(preview.crcTlg);
}

std::vector<std::uint8_t> TForm1::TelegramToQueue() const
{
    if (!Komunikace)
        return {};
    const RequestTarget target{
        HexNaByte(Edt_From->text()), HexNaByte(Edt_To->text()), KodOblasti,
        AdresaZEditu(Edt_Addr1->text(), Edt_Addr2->text(), Edt_Addr3->text())};
    return RequestAsQueued(target, HexNaByte(Edt_DataLen->text()), IsWrite(), DataTLG,
                           [this](int position) { return Komunikace->StagedDataByte(position); });
}

void TForm1::MarkFieldsThatDifferFromTelegram()
{
    const std::vector<std::uint8_t> telegram = TelegramToQueue();
    // In ComposerField order.
    const std::array<QLineEdit*, ComposerFieldCount> fields = {
        Edt_Sync,    Edt_To,    Edt_From,  Edt_Dev,   Edt_RW,       Edt_CRCHead,
        Edt_DataLen, Edt_Addr1, Edt_Addr2, Edt_Addr3, Edt_CRCWrite, Edt_CRCTLG};
    const auto sent = FieldBytes(telegram, IsWrite());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        QLineEdit* edit = fields[i];
        const bool differs = sent[i] && !FieldShowsByte(edit->text(), *sent[i]);
        edit->setToolTip(differs ? TextOdesleSe.arg(QString::fromLatin1(HexByte(*sent[i])))
                                 : QString());
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Text, differs
                                             ? WarningTextColor
                                             : QApplication::palette(edit).color(QPalette::Text));
        edit->setPalette(palette);
    }
}

bool TForm1::QueueFromComposer()
{
    if (!Komunikace)
        return false;
    const std::uint8_t to = HexNaByte(Edt_To->text());
    const std::uint8_t from = HexNaByte(Edt_From->text());
    const std::uint32_t adresa =
        AdresaZEditu(Edt_Addr1->text(), Edt_Addr2->text(), Edt_Addr3->text());
    const std::uint8_t count = HexNaByte(Edt_DataLen->text());
    const bool zapis = IsWrite();

    // A write too long for the queue's length byte would go out corrupted: it is refused.
    if (zapis && count > MaxZapisDat) {
        ShowMessage(MessageKind::Warning, TextPrilisDat + QLatin1Char('\n') + TextNezarazeno);
        return false;
    }
    if (zapis) {
        for (std::size_t i = 0; i < DataTLG.size(); ++i)
            Komunikace->ZapisDataByte(static_cast<int>(i + 1), DataTLG[i]);
    }
    Komunikace->ZaradTLG(from, to, zapis, KodOblasti, adresa, count);
    if (Chk_VystupDoSouboru->isChecked())
        FCapture.Queued(QDateTime::currentDateTime());
    // What was staged now fills the positions a longer Count reaches next time.
    MarkFieldsThatDifferFromTelegram();
    return true;
}

void TForm1::Btn_PosliTLGClick()
{
    QueueFromComposer();
}

void TForm1::Button4Click()
{
    Btn_PosliTLGClick();
    // The oldest pending telegram goes out, which is the new one only on an empty queue.
    if (Komunikace)
        Komunikace->PosliCekajici();
    VypisOdeslany();
    if (Komunikace && Komunikace->DelkaPosledni() != 0 && Chk_VystupDoSouboru->isChecked())
        FCapture.Sent(Komunikace->PosledniTLG(), QDateTime::currentDateTime());
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

// ---- Messages ----

void TForm1::ShowError(const QString& text)
{
    ShowMessage(MessageKind::Error, text);
}

void TForm1::Report(const QString& text, ReportMode mode)
{
    if (mode == ReportMode::Now) {
        ShowError(text);
        return;
    }
    // One report at a time: an error that repeats at every tick must not pile up boxes.
    if (FReportPending)
        return;
    FReportPending = true;
    QTimer::singleShot(0, this, [this, text] {
        ShowError(text);
        FReportPending = false;
    });
}

void TForm1::ShowMessage(MessageKind kind, const QString& text)
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

} // namespace qtr290
