// TForm1's telegram composer: its handlers, each reading as its steps; the arithmetic lives
// in Composer.h and the queue in the link.
#include "console/main.h"

#include "console/composer.h"
#include "console/controls.h"
#include "link/hextext.h"
#include "station/request.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <array>

namespace qtr290 {

namespace {

const char* const TextNotQueued = QT_TRANSLATE_NOOP("qtr290::TForm1", "TLG nebyl zařazen.");
const char* const TextTooMuchData =
    QT_TRANSLATE_NOOP("qtr290::TForm1", "Počet dat je větší než 243 !");
const char* const TextWillSend = QT_TRANSLATE_NOOP("qtr290::TForm1", "Odešle se: %1");

} // namespace

void TForm1::ConnectComposer()
{
    const auto handler = [this](void (TForm1::*step)()) {
        return [this, step] { Guarded([this, step] { (this->*step)(); }); };
    };
    // textChanged also fires when the program sets a text: the derived fields follow either way.
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
    KodOblasti = AreaCodeFromIndex(Rgp_Zarizeni->ItemIndex());
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
    DataTLG = ParseDataLine(Cmb_Data->currentText());
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
        AddressFromEdits(Edt_Addr1->text(), Edt_Addr2->text(), Edt_Addr3->text())};
    return Komunikace->BuildRequest(target, IsWrite(), HexNaByte(Edt_DataLen->text()), DataTLG);
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
        // The chain of change handlers runs this several times a keystroke: a field is only
        // touched when its mark changes.
        const QString tip =
            differs ? tr(TextWillSend).arg(QString::fromLatin1(HexByte(*sent[i]))) : QString();
        const QColor colour =
            differs ? WarningTextColor() : QApplication::palette(edit).color(QPalette::Text);
        if (edit->toolTip() != tip)
            edit->setToolTip(tip);
        if (edit->palette().color(QPalette::Text) != colour) {
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Text, colour);
            edit->setPalette(palette);
        }
    }
}

bool TForm1::QueueFromComposer()
{
    if (!Komunikace)
        return false;
    const std::uint8_t to = HexNaByte(Edt_To->text());
    const std::uint8_t from = HexNaByte(Edt_From->text());
    const std::uint32_t address =
        AddressFromEdits(Edt_Addr1->text(), Edt_Addr2->text(), Edt_Addr3->text());
    const std::uint8_t count = HexNaByte(Edt_DataLen->text());
    const bool write = IsWrite();

    // A write too long for the queue's length byte would go out corrupted: it is refused.
    if (write && count > MaxWriteCount) {
        ShowMessage(MessageKind::Warning,
                    tr(TextTooMuchData) + QLatin1Char('\n') + tr(TextNotQueued));
        return false;
    }
    StationRequest request;
    request.write = write;
    request.area = KodOblasti;
    request.address = address;
    request.count = count;
    request.to = to;
    request.from = from;
    if (write)
        request.data = DataTLG;
    StageAndQueue(*Komunikace, request);
    if (Chk_VystupDoSouboru->isChecked() && !FCapture.Queued(QDateTime::currentDateTime()))
        FStatistics.CaptureLineLost();
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
    if (Komunikace && Komunikace->DelkaPosledni() != 0 && Chk_VystupDoSouboru->isChecked() &&
        !FCapture.Sent(Komunikace->PosledniTLG(), QDateTime::currentDateTime()))
        FStatistics.CaptureLineLost();
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

} // namespace qtr290
