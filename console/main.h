// The main window: every control of the operator console, start-up (settings file, opening
// the port), the port state switch and shutdown (settings written back, link destroyed).
#pragma once

#include "Komunikace.h"
#include "portstatus.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace qtr290 {

class TRadioGroup;

enum class MessageKind { Warning, Error };

struct TForm1Options {
    // Where "nastaveni.ini" lies; empty: the directory of the executable.
    QString adresarProgramu;
    // The serial platform of the link; empty: the system's serial ports.
    std::function<std::unique_ptr<SerialPlatform>()> platform;
    // Shows a message to the operator; empty: a modal message box. Tests capture here.
    std::function<void(MessageKind, const QString&)> zprava;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int PocetPortu = 256;
    static constexpr int VychoziPocetBytu = 32;

    // Builds the controls and runs FormCreate.
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers of this window. Operator events reach them through Chranene.
    void FormCreate();
    void FormClose();
    void Rgp_StavClick();
    void Edt_PocetBytuExit();
    // The port's received-data event: keeps the bytes and frames them.
    void PrijmiData(TSerialPortDriver& Sender, std::span<const std::uint8_t> Data);

    // The general error reporting: the message goes to the operator, the window runs on.
    void ZobrazChybu(const QString& text);
    // Runs an event handler; an exception it raises is reported and goes no further.
    template <class Handler> void Chranene(Handler&& handler);

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
    void PripojUdalosti();
    QString CestaNastaveni() const;
    void NactiPrepisyPortu(const class IniProfile& ini);
    void PopisPorty();
    // Opens the port at the baud rate in Edt_BaudRate; true when it is open.
    bool OtevriPort();
    void AktualizujStav();
    void Zprava(MessageKind kind, const QString& text);

    TForm1Options FOptions;
    QLabel* FStatusPanel = nullptr;
    StavPortu FStavPortu = StavPortu::Zavreny;
    PortFailure FDuvodSelhani = PortFailure::Busy;
    bool FZavreno = false;
};

template <class Handler> void TForm1::Chranene(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ZobrazChybu(QString::fromUtf8(error.what()));
    } catch (...) {
        ZobrazChybu(QStringLiteral("Unknown error"));
    }
}

} // namespace qtr290
