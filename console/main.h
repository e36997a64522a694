// The main window TForm1: every control of the operator console and every handler, each
// reading as its steps. The work lives in units beside it: the controls' layout
// (main_controls.cpp), the composer's handlers (main_composer.cpp) and arithmetic
// (composer.h), the port's handlers (main_port.cpp) and the watch over the serial devices
// (reconnect.h), the settings file (settings.h), the traffic display (trafficdisplay.h), what
// the capture writes (trafficcapture.h), the status line (portstatus.h) and the overview of
// the bus and the queue (buspanel.h over busstatistics.h and pendingqueue.h).
#pragma once

#include "console/portstatus.h"
#include "console/reconnect.h"
#include "console/trafficcapture.h"
#include "console/trafficdisplay.h"
#include "link/Komunikace.h"
#include "settings/filelocations.h"
#include "station/busstatistics.h"
#include "station/pendingqueue.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTranslator;

namespace qtr290 {

class BusPanel;
class LineMemo;
class TRadioGroup;

enum class MessageKind { Warning, Error };

struct TForm1Options {
    // The program directory; empty: the directory of the executable.
    QString programDir;
    // Whether that directory is writable, and the user's own folders; empty: this machine's.
    std::function<FileFolders(const QString&)> folders;
    // The serial platform of the link; empty: the system's serial ports, COM names resolved
    // through the settings' [Porty] section.
    std::function<std::unique_ptr<SerialPlatform>()> platform;
    // Shows a message to the operator; empty: a modal message box. Tests capture here.
    std::function<void(MessageKind, const QString&)> message;
    // How the serial devices are listed and recognised; empty: the system's.
    PortProbe portProbe;
    // The window's language for this run (the command line's --language); empty: the
    // settings file's.
    QString language;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int PortCount = 256;
    static constexpr int DefaultBytesPerLine = 32;

    // How an error caught at a handler boundary reaches the operator.
    enum class ReportMode {
        Now,   // a message box now: the operator's own events
        Later, // from the event loop once the handler is done: the receive path, which
               // must not open a modal box (and nest the port's ticks) inside itself
    };

    // Builds the controls and runs FormCreate.
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers of this window. Operator events reach them through Guarded.
    void FormCreate();
    void FormClose();
    void Rgp_StavClick();
    void Edt_PocetBytuExit();

    // Traffic display.
    // The port's received-data event: keeps the bytes, frames them (answering polls at
    // once), writes the capture line, then shows what the chunk brought.
    void PrijmiData(TSerialPortDriver& Sender, std::span<const std::uint8_t> Data);
    // Whether a good telegram with these bytes is shown, by the operator's display settings.
    bool ZobrazitTLG(std::uint8_t To, std::uint8_t From, bool isPoll) const;
    // Puts the bytes (any number, shown whole) into the memo as the newest entry.
    void VypisTLG(ByteSpan Data, LineMemo* Memo);
    // Shows what the link put on the line last (0xFF and the telegram) in Memo3.
    void VypisOdeslany();
    void Button1Click();
    void Button2Click();
    void Button3Click();

    // Overview of the bus and the queue.
    void Chk_PrehledClick();
    void Btn_StatVynulovatClick();

    // Telegram composer.
    void Edt_SyncChange();
    void Rgp_ZarizeniClick();
    void NastavDev();
    void Rgp_druhTLGClick();
    void Cmb_DataChange();
    // True when the key is consumed (Enter moves on; characters that are no hex digit,
    // space or backspace are dropped).
    bool Cmb_DataKeyPress(QKeyEvent* Key);
    void Cmb_DataExit();
    void Edt_DataLenChange();
    void PrepocitejHlavicku();
    void PrepocitejData();
    void Btn_PosliTLGClick();
    void Button4Click();
    void Btn_TestKomunikaceClick();
    void Btn_VymazBufferClick();

    // The general error reporting: the message goes to the operator, the window runs on.
    void ShowError(const QString& text);
    // Runs an event handler; an exception it raises is reported and goes no further.
    template <class Handler> void Guarded(Handler&& handler, ReportMode mode = ReportMode::Now);

    // The status line: which device the COM number stands for, and the port state.
    QString StatusText() const;

    // Queries of the window's state, for its own units and for the tests.
    // The link to the bus, from FormCreate to FormClose; null before and after.
    TKomunikace* Link() const { return Komunikace.get(); }
    // Received bytes kept for the rest of their telegram.
    std::size_t ReceiveBacklog() const { return PrijemBuf.size(); }
    int BytesPerLine() const { return PocetBytuNaRadku; }
    const QString& ProgramDir() const { return AdresarProgramu; }
    // The composer's data bytes and read/write area code, as the next request takes them.
    const std::vector<std::uint8_t>& ComposerData() const { return DataTLG; }
    std::uint8_t AreaCode() const { return KodOblasti; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Controls, top to bottom.
    LineMemo* Memo1;
    QPushButton* Button1;
    LineMemo* Memo2;
    QPushButton* Button2;
    LineMemo* Memo3;
    QPushButton* Button3;
    QComboBox* Cmb_ComPort;
    QLineEdit* Edt_BaudRate;
    TRadioGroup* Rgp_Razeni;
    TRadioGroup* Rgp_Stav;
    TRadioGroup* Rgp_PrijataData;
    QLineEdit* Edt_PocetBytu;
    QCheckBox* Chk_Filtr;
    QLineEdit* Edt_FiltrOd;
    QLineEdit* Edt_FiltrPro;
    QCheckBox* Chk_NezobrazujVyzvy;
    QCheckBox* Chk_VystupDoSouboru;
    QCheckBox* Chk_CasoveZnacky;
    QCheckBox* Chk_Prehled;
    QLineEdit* Edt_Sync;
    QLineEdit* Edt_To;
    QLineEdit* Edt_From;
    QLineEdit* Edt_Dev;
    QLineEdit* Edt_RW;
    QLineEdit* Edt_CRCHead;
    QLineEdit* Edt_DataLen;
    QLineEdit* Edt_Addr1;
    QLineEdit* Edt_Addr2;
    QLineEdit* Edt_Addr3;
    QComboBox* Cmb_Data;
    QLineEdit* Edt_CRCWrite;
    QLineEdit* Edt_CRCTLG;
    QLabel* Lbl_PocetBytu;
    TRadioGroup* Rgp_Zarizeni;
    TRadioGroup* Rgp_druhTLG;
    QPushButton* Btn_PosliTLG;
    QPushButton* Button4;
    QPushButton* Btn_VymazBuffer;
    QPushButton* Btn_TestKomunikace;
    BusPanel* Pnl_Prehled; // beside the controls above, full height
    QStatusBar* StatusBar1;

    // Window state.
    std::unique_ptr<TKomunikace> Komunikace; // from FormCreate to FormClose
    QString AdresarProgramu;                 // without a trailing separator
    int PocetBytuNaRadku = DefaultBytesPerLine;
    std::uint8_t KodOblasti = 0;
    std::vector<std::uint8_t> DataTLG;
    std::vector<std::uint8_t> PrijemBuf;

    void VytvorOvladace();
    // VytvorOvladace's parts, one per control group (main_controls.cpp).
    QLayout* CreateMemos(QWidget* central);
    void CreatePortRow(QWidget* central, QHBoxLayout* row);
    void CreateDisplayOptions(QWidget* central, QHBoxLayout* row);
    QLayout* CreateComposerRow(QWidget* central);
    QLayout* CreateSendButtons(QWidget* central);
    QWidget* CreateOverview(QWidget* central);
    void CreateStatusBar();
    QLabel* NewLabel(const QString& text, QWidget* buddy, QWidget* parent);
    int HexEditWidth() const;
    void ConnectComposer();
    void ConnectEvents();
    QString SettingsPath() const;
    void LocateProgramFiles();
    // Installs the translation the options or the settings ask for, before any text is set.
    void ChooseLanguage();
    void DescribePorts();
    // Opens the port at the baud rate in Edt_BaudRate; true when it is open.
    bool OpenPort();
    void PortOpened();
    // The port's device has gone (from inside its polling step): close, wait for it.
    void PortLost();
    // The lost device is back: opens it as it was while "Připojeno" is selected.
    bool ReopenLostPort();
    std::string PortDevice() const; // the device the link's port name stands for
    void UpdateStatus();
    void ShowMessage(MessageKind kind, const QString& text);
    void Report(const QString& text, ReportMode mode);

    MemoLayout Layout() const;
    // The time stamp of an entry shown now; empty while they are off.
    std::string StampNow();
    bool IsWrite() const;
    // Queues the composer's request; false when it was refused (a write too long to queue).
    bool QueueFromComposer();
    // The telegram the link would build from the composer now; empty when it cannot.
    std::vector<std::uint8_t> TelegramToQueue() const;
    // A field whose text does not say the byte that will be sent shows so: warning colour
    // and a tooltip naming the byte. Nothing is asked and nothing sent changes.
    void MarkFieldsThatDifferFromTelegram();

    TForm1Options FOptions;
    ComPortNames FPortNames;  // [Porty], as read at start
    FileLocations FLocations; // of "nastaveni.ini" and "incoming.txt"
    TrafficCapture FCapture;  // what "Výstup do souboru" writes
    PortWatch* FPortWatch = nullptr;
    QLabel* FStatusPanel = nullptr;
    int FLabelCount = 0; // the numbered names of unrenamed labels
    PortState FPortState = PortState::Closed;
    BusStatistics FStatistics;
    PendingQueue FQueue;
    EntryStamps FStamps;
    bool FSettingsUnreadable = false; // then it is not written at close either
    bool FClosed = false;
    bool FReportPending = false;        // a deferred error report is on its way
    QTranslator* FTranslator = nullptr; // installed while the window is there
    QString FLanguageUnavailable;       // asked for, but the program has no such translation
};

template <class Handler> void TForm1::Guarded(Handler&& handler, ReportMode mode)
{
    try {
        handler();
    } catch (const std::exception& error) {
        Report(QString::fromUtf8(error.what()), mode);
    } catch (...) {
        Report(QStringLiteral("Unknown error"), mode);
    }
}

} // namespace qtr290
