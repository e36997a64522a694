// The main window: every control of the operator console, start-up (settings file, opening
// the port), the port state switch and shutdown (settings written back, link destroyed), the
// traffic display with its capture file, and the telegram composer with its send buttons.
#pragma once

#include "Komunikace.h"
#include "filelocations.h"
#include "portstatus.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace qtr290 {

class TRadioGroup;

enum class MessageKind { Warning, Error };

struct TForm1Options {
    // The program directory; empty: the directory of the executable.
    QString adresarProgramu;
    // Whether that directory is writable, and the user's own folders; empty: this machine's.
    std::function<FileFolders(const QString&)> slozky;
    // The serial platform of the link; empty: the system's serial ports.
    std::function<std::unique_ptr<SerialPlatform>()> platform;
    // Shows a message to the operator; empty: a modal message box. Tests capture here.
    std::function<void(MessageKind, const QString&)> zprava;
    // Asks the operator a yes/no question; empty: a modal message box. True for yes.
    std::function<bool(const QString&)> dotaz;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int PocetPortu = 256;
    static constexpr int VychoziPocetBytu = 32;
    // A memo above this many lines is emptied before the next telegram goes in.
    static constexpr int LimitRadku = 1000;
    // Checksum-error lines never empty Memo1; beyond this many lines its oldest line goes,
    // so that a line full of damage (a wrong baud rate) cannot grow the memo without end.
    static constexpr int LimitRadkuChyb = 10000;

    // How an error caught at a handler boundary reaches the operator.
    enum class Hlaseni {
        Ihned,   // a message box now: the operator's own events
        Pozdeji, // from the event loop once the handler is done: the receive path, which
                 // must not open a modal box (and nest the port's ticks) inside itself
    };

    // Builds the controls and runs FormCreate.
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers of this window. Operator events reach them through Chranene.
    void FormCreate();
    void FormClose();
    void Rgp_StavClick();
    void Edt_PocetBytuExit();

    // Traffic display.
    // The port's received-data event: keeps the bytes, writes the capture line, frames them.
    void PrijmiData(TSerialPortDriver& Sender, std::span<const std::uint8_t> Data);
    // Whether a good telegram with these bytes is shown, by the operator's display settings.
    bool ZobrazitTLG(std::uint8_t To, std::uint8_t From, bool Vyzva) const;
    // Puts the bytes (any number, shown whole) into the memo as the newest entry.
    void VypisTLG(ByteSpan Data, QPlainTextEdit* Memo);
    // Shows what the link put on the line last (0xFF and the telegram) in Memo3.
    void VypisOdeslany();
    // A checksum-error line of the framer into Memo1: no line limit, no scrolling.
    void VypisChybu(std::string_view Radek);
    void Button1Click();
    void Button2Click();
    void Button3Click();

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
    void ZobrazChybu(const QString& text);
    // Runs an event handler; an exception it raises is reported and goes no further.
    template <class Handler> void Chranene(Handler&& handler, Hlaseni hlaseni = Hlaseni::Ihned);

    // The status line: which device the COM number stands for, and the port state.
    QString TextStavu() const;

    // Controls, top to bottom.
    QPlainTextEdit* Memo1;
    QPushButton* Button1;
    QPlainTextEdit* Memo2;
    QPushButton* Button2;
    QPlainTextEdit* Memo3;
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
    QStatusBar* StatusBar1;

    // Window state.
    std::unique_ptr<TKomunikace> Komunikace; // from FormCreate to FormClose
    QString AdresarProgramu;                 // without a trailing separator
    int PocetBytuNaRadku = VychoziPocetBytu;
    std::uint8_t KodOblasti = 0;
    std::vector<std::uint8_t> DataTLG;
    std::vector<std::uint8_t> PrijemBuf;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class StavPortu { Zavreny, Otevreny, Selhal };

    void VytvorOvladace();
    void PripojComposer();
    void PripojUdalosti();
    QString CestaNastaveni() const;
    void NactiPrepisyPortu(const class IniProfile& ini);
    void PopisPorty();
    // Opens the port at the baud rate in Edt_BaudRate; true when it is open.
    bool OtevriPort();
    void AktualizujStav();
    void Zprava(MessageKind kind, const QString& text);
    bool Dotaz(const QString& text);
    void Nahlas(const QString& text, Hlaseni hlaseni);

    bool NejnovejsiNahore() const;
    bool Zapis() const;
    // Queues the composer's request after the checks; true when it was queued.
    bool ZaradZComposeru();
    // Why the request about to be queued differs from what the composer shows; empty
    // when every shown field says what goes out.
    QString RozdilOdZobrazeni(std::uint8_t to, std::uint8_t from, std::uint32_t adresa,
                              std::uint8_t count) const;

    TForm1Options FOptions;
    QLabel* FStatusPanel = nullptr;
    FileLocations FUmisteni; // of "nastaveni.ini" and "incoming.txt"
    StavPortu FStavPortu = StavPortu::Zavreny;
    PortFailure FDuvodSelhani = PortFailure::Busy;
    bool FZavreno = false;
    bool FHlaseniCeka = false; // a deferred error report is on its way
};

template <class Handler> void TForm1::Chranene(Handler&& handler, Hlaseni hlaseni)
{
    try {
        handler();
    } catch (const std::exception& error) {
        Nahlas(QString::fromUtf8(error.what()), hlaseni);
    } catch (...) {
        Nahlas(QStringLiteral("Unknown error"), hlaseni);
    }
}

} // namespace qtr290
