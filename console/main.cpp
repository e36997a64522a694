#include "console/main.h"

#include "capture/append_exclusive.h"
#include "console/buspanel.h"
#include "console/language.h"
#include "settings/iniprofile.h"
#include "settings/settings.h"
#include "settings/textconv.h"
#include "widgets/plaintext.h"
#include "widgets/radiogroup.h"
#include "widgets/repaintthrottle.h"

#include "widgets/linememo.h"
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <optional>
#include <utility>

namespace qtr290 {

namespace {

const char* const WindowTitle =
    QT_TRANSLATE_NOOP("qtr290::TForm1", "Komunikační utilita QTR290 v0.5");
const char* const TextPortWillNotOpen =
    QT_TRANSLATE_NOOP("qtr290::TForm1", "Daný sériový port neexistuje nebo se právě používá !");
// Once per 40 ms polling tick at most. The ticks come 40 ms apart give or take a few: a
// tick that came early is painted at once instead of by a timer of its own a moment later.
constexpr int RepaintIntervalMs = 30;

} // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent)
    : QMainWindow(parent), FOptions(std::move(options))
{
    Guarded([this] { ChooseLanguage(); });
    setWindowTitle(tr(WindowTitle));
    // System menu and minimise, no maximise: the controls keep fixed places.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    VytvorOvladace();
    if (!FLanguageUnavailable.isEmpty())
        Pnl_Prehled->SetLanguageUnavailable(ShownLanguageCode(FLanguageUnavailable));
    FPortWatch = new PortWatch(FOptions.portProbe, this);
    // The composer's handlers are attached before start-up, so that the fields start-up
    // sets pull their derived fields along.
    ConnectComposer();
    Guarded([this] { FormCreate(); });
    Guarded([this] { MarkFieldsThatDifferFromTelegram(); });
    UpdateStatus();
    ConnectEvents();
    // Shows or hides the overview as the settings say, and fixes the window's size.
    Chk_PrehledClick();
    // At most one paint per polling tick, however fast the chunks come.
    new RepaintThrottle(this, RepaintIntervalMs);
}

TForm1::~TForm1()
{
    // The port must stop delivering to this window before the controls go.
    Komunikace.reset();
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

    // What a button changed in the link or the counters shows in the overview.
    const auto button = [this](QPushButton* pushButton, void (TForm1::*handler)()) {
        connect(pushButton, &QPushButton::clicked, this, [this, handler] {
            Guarded([this, handler] { (this->*handler)(); });
            Pnl_Prehled->RequestRefresh();
        });
    };
    button(Button1, &TForm1::Button1Click);
    button(Button2, &TForm1::Button2Click);
    button(Button3, &TForm1::Button3Click);
    button(Btn_PosliTLG, &TForm1::Btn_PosliTLGClick);
    button(Button4, &TForm1::Button4Click);
    button(Btn_VymazBuffer, &TForm1::Btn_VymazBufferClick);
    button(Btn_TestKomunikace, &TForm1::Btn_TestKomunikaceClick);
    button(Pnl_Prehled->Btn_StatVynulovat, &TForm1::Btn_StatVynulovatClick);
    connect(Chk_Prehled, &QCheckBox::toggled, this,
            [this] { Guarded([this] { Chk_PrehledClick(); }); });
    // Stamps turned on anew measure no gap to a telegram from before.
    connect(Chk_CasoveZnacky, &QCheckBox::toggled, this, [this] { FStamps = EntryStamps(); });
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

void TForm1::LocateProgramFiles()
{
    AdresarProgramu =
        QDir::cleanPath(FOptions.programDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                      : FOptions.programDir);
    FLocations = LocateFiles(FOptions.folders ? FOptions.folders(AdresarProgramu)
                                              : SystemFolders(AdresarProgramu));
}

void TForm1::ChooseLanguage()
{
    LocateProgramFiles();
    IniProfile ini(SettingsPath());
    LoadSettingsProfile(ini, FLocations); // an unreadable file is told of in FormCreate
    const QString language = RequestedLanguage(FOptions.language, ReadLanguage(ini));
    FTranslator = new QTranslator(this);
    if (!LoadTranslation(*FTranslator, language))
        FLanguageUnavailable = language; // the Czech texts stay, with a note
    else if (!FTranslator->isEmpty())
        QCoreApplication::installTranslator(FTranslator);
}

void TForm1::FormCreate()
{
    LocateProgramFiles();
    FStatusPanel->setToolTip(PlainToolTip(DescribeLocations(FLocations)));
    Chk_VystupDoSouboru->setToolTip(PlainToolTip(QDir::toNativeSeparators(FLocations.captureFile)));
    Pnl_Prehled->SetCaptureFile(FLocations.captureFile);

    Cmb_ComPort->clear();
    for (int number = 1; number <= PortCount; ++number)
        Cmb_ComPort->addItem(QStringLiteral("COM%1").arg(number));

    {
        IniProfile ini(SettingsPath());
        // An unreadable file gives the defaults and is left as it is, also at close.
        FSettingsUnreadable = !LoadSettingsProfile(ini, FLocations);
        if (FSettingsUnreadable)
            Pnl_Prehled->SetSettingsUnreadable(ini.Path());
        const Settings settings = ReadSettings(ini);
        const OverviewSettings overview = ReadOverviewSettings(ini);
        Chk_Prehled->setChecked(overview.panelShown);
        Chk_CasoveZnacky->setChecked(overview.timeStamps);
        Cmb_ComPort->setCurrentIndex(
            settings.port >= 1 && settings.port <= PortCount ? settings.port - 1 : -1);
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
    Komunikace->AddObserver(&FStatistics);
    Komunikace->AddObserver(&FQueue);
    Komunikace->NastavVychozi();
    Komunikace->NastavPort(static_cast<std::uint8_t>(Cmb_ComPort->currentIndex() + 1));
    Komunikace->SeriovyPort().SetOnDeviceLost([this](TSerialPortDriver&) { PortLost(); });

    if (!OpenPort())
        ShowMessage(MessageKind::Warning, tr(TextPortWillNotOpen));
}

void TForm1::Edt_PocetBytuExit()
{
    // A count below 1 cannot lay out a line; it falls back like a text that is no number.
    const auto value = ParseInteger(Edt_PocetBytu->text().toStdString());
    PocetBytuNaRadku = value && *value >= 1 ? *value : DefaultBytesPerLine;
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
        if (FSettingsUnreadable)
            return;
        IniProfile ini(SettingsPath());
        LoadSettingsProfile(ini, FLocations);
        EnsureParentDirectory(ini.Path().toStdU16String()); // a per-user folder, on first use
        Settings settings;
        settings.port = Cmb_ComPort->currentIndex() + 1;
        settings.baudRate = Edt_BaudRate->text();
        settings.filterOn = Chk_Filtr->isChecked();
        settings.filterFrom = Edt_FiltrOd->text();
        settings.filterTo = Edt_FiltrPro->text();
        settings.bytesPerLine = Edt_PocetBytu->text();
        WriteSettings(ini, settings);
        WriteOverviewSettings(ini, {Chk_Prehled->isChecked(), Chk_CasoveZnacky->isChecked()});
        // The window closes anyway: an operator who cannot save must still be able to quit.
        if (!ini.Save())
            ShowError(tr("Nastavení nelze uložit do souboru %1")
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
            // Only the capture file and the time stamps need the time: reading the clock
            // in local time costs a look at the time zone file per chunk.
            const bool stamps = Chk_CasoveZnacky->isChecked();
            const QDateTime received = stamps || Chk_VystupDoSouboru->isChecked()
                                           ? QDateTime::currentDateTime()
                                           : QDateTime();
            FStatistics.AddBytes(Data.size());
            PrijemBuf.insert(PrijemBuf.end(), Data.begin(), Data.end());
            // The answer to a poll goes out first; the disk and the memos can wait until the
            // pass is over. The capture is written however the pass ends.
            ChunkEntries entries = stamps ? ChunkEntries(&FStamps, received) : ChunkEntries();
            const auto capture = [&] {
                if (Chk_VystupDoSouboru->isChecked() && !FCapture.Chunk(Data, received, entries))
                    FStatistics.CaptureLineLost();
            };
            try {
                if (Komunikace)
                    Komunikace->ZpracujPrijem(
                        PrijemBuf, {[&](ByteSpan telegram) {
                                        if (ZobrazitTLG(TelegramTo(telegram),
                                                        TelegramFrom(telegram), IsPoll(telegram)))
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
    Pnl_Prehled->RequestRefresh();
}

bool TForm1::ZobrazitTLG(std::uint8_t To, std::uint8_t From, bool isPoll) const
{
    const QString from = Edt_FiltrOd->text();
    const QString to = Edt_FiltrPro->text();
    DisplayFilter filter;
    filter.showReceived = Rgp_PrijataData->ItemIndex() != 1;
    filter.filterOn = Chk_Filtr->isChecked();
    filter.filterFrom = from;
    filter.filterTo = to;
    filter.hidePolls = Chk_NezobrazujVyzvy->isChecked();
    return qtr290::ZobrazitTLG(To, From, isPoll, filter);
}

MemoLayout TForm1::Layout() const
{
    return {Rgp_Razeni->ItemIndex() == 0, PocetBytuNaRadku};
}

void TForm1::VypisTLG(ByteSpan Data, LineMemo* Memo)
{
    ShowTelegram(Memo, Data, Layout(), StampNow());
}

std::string TForm1::StampNow()
{
    return Chk_CasoveZnacky->isChecked() ? FStamps.Time(QDateTime::currentDateTime())
                                         : std::string();
}

void TForm1::VypisOdeslany()
{
    // The whole transmission, lead byte included: up to 256 bytes.
    if (Komunikace && Komunikace->DelkaPosledni() != 0)
        VypisTLG(Komunikace->PosledniTLG(), Memo3);
}

void TForm1::Button1Click()
{
    Memo1->Clear();
}

void TForm1::Button2Click()
{
    Memo2->Clear();
}

void TForm1::Button3Click()
{
    Memo3->Clear();
}

// ---- Overview of the bus and the queue ----

void TForm1::Chk_PrehledClick()
{
    Pnl_Prehled->setVisible(Chk_Prehled->isChecked());
    // The window keeps a fixed size: it grows and shrinks with the panel.
    centralWidget()->layout()->activate();
    setFixedSize(sizeHint());
}

void TForm1::Btn_StatVynulovatClick()
{
    FStatistics.Reset();
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
    if (FOptions.message) {
        FOptions.message(kind, text);
        return;
    }
    // A message may name a file or a device: plain text.
    QMessageBox box(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    tr(WindowTitle), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace qtr290
