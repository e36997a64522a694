// The main window's controls: their names (object name and accessible description, as the
// tests and accessibility tools find them), texts and places.
#include "console/main.h"

#include "console/buspanel.h"
#include "console/composer.h"
#include "console/controls.h"
#include "widgets/plaintext.h"
#include "widgets/radiogroup.h"
#include "widgets/steadyscrollbar.h"

#include "widgets/linememo.h"
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace qtr290 {

namespace {

QStringList AreaItems()
{
    QStringList items;
    for (const char* item : AreaItemTexts)
        items << QString::fromUtf8(item);
    return items;
}

} // namespace

void TForm1::VytvorOvladace()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);
    // The controls of the console in a column; the overview beside them.
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(8, 8, 8, 4);
    columns->setSpacing(10);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    columns->addLayout(column);

    column->addLayout(CreateMemos(central));
    auto* settings = new QHBoxLayout;
    settings->setSpacing(10);
    CreatePortRow(central, settings);
    CreateDisplayOptions(central, settings);
    settings->addStretch(1);
    column->addLayout(settings);
    column->addLayout(CreateComposerRow(central));
    column->addLayout(CreateSendButtons(central));
    columns->addWidget(CreateOverview(central));

    Rgp_Razeni->SetItemIndex(0);
    Rgp_Stav->SetItemIndex(0);
    Rgp_PrijataData->SetItemIndex(0);
    Rgp_Zarizeni->SetItemIndex(0);
    Rgp_druhTLG->SetItemIndex(0);
    CreateStatusBar();
}

QLabel* TForm1::NewLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = PlainLabel(text, parent);
    // Numbered in the order of creation, as unrenamed controls are.
    const QByteArray name = "Label" + QByteArray::number(++FLabelCount);
    Named(label, name.constData());
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

int TForm1::HexEditWidth() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("000")) + 12;
}

// Traffic display: three memos, each with its clear button beside it.
QLayout* TForm1::CreateMemos(QWidget* central)
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Hex digits and blanks in a fixed-pitch font look the same unshaped, and shaping was
    // most of the cost of showing a busy bus.
    fixed.setStyleStrategy(QFont::PreferNoShaping);
    auto* memos = new QGridLayout;
    memos->setHorizontalSpacing(6);
    const auto memo = [&](const char* name, int lines, const char* buttonName, QPushButton*& button,
                          int row) {
        auto* edit = Named(new LineMemo(central), name);
        edit->setFont(fixed);
        edit->setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, edit));
        edit->setHorizontalScrollBar(new SteadyScrollBar(Qt::Horizontal, edit));
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // Room for a line of 32 bytes as "XX " each.
        const int margins = 2 * edit->frameWidth() + 2 * LineMemo::Margin + 4;
        edit->setMinimumWidth(int(std::ceil(edit->ColumnWidth() * 3 * 32)) + margins +
                              style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        edit->setFixedHeight(edit->RowHeight() * lines + margins);
        button = Named(new QPushButton(tr("Smaž"), central), buttonName);
        memos->addWidget(edit, row, 0);
        memos->addWidget(button, row, 1, Qt::AlignTop);
        return edit;
    };
    Memo1 = memo("Memo1", 12, "Button1", Button1, 0);
    Memo2 = memo("Memo2", 4, "Button2", Button2, 1);
    Memo3 = memo("Memo3", 6, "Button3", Button3, 2);
    return memos;
}

// The port, its baud rate and state, and the order of the memos' entries.
void TForm1::CreatePortRow(QWidget* central, QHBoxLayout* row)
{
    auto* port = new QGridLayout;
    port->setVerticalSpacing(4);
    Cmb_ComPort = Named(new QComboBox(central), "Cmb_ComPort");
    Cmb_ComPort->setMaxVisibleItems(16);
    Cmb_ComPort->setMinimumContentsLength(6);
    // Room for the marker of an existing device, which may come after the first show.
    Cmb_ComPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Edt_BaudRate = Named(new QLineEdit(QStringLiteral("4800"), central), "Edt_BaudRate");
    Edt_BaudRate->setFixedWidth(Cmb_ComPort->sizeHint().width());
    port->addWidget(NewLabel(tr("Port"), Cmb_ComPort, central), 0, 0);
    port->addWidget(Cmb_ComPort, 1, 0);
    port->addWidget(NewLabel(tr("Baud rate"), Edt_BaudRate, central), 2, 0);
    port->addWidget(Edt_BaudRate, 3, 0);
    port->setRowStretch(4, 1);
    row->addLayout(port);

    Rgp_Razeni =
        Named(new TRadioGroup(tr("Řazení zpráv"),
                              {tr("Nejnovější na začátku"), tr("Nejnovější na konci")}, 1, central),
              "Rgp_Razeni");
    Rgp_Stav =
        Named(new TRadioGroup(tr("Stav COM portu"), {tr("Připojeno"), tr("Odpojeno")}, 1, central),
              "Rgp_Stav");
    row->addWidget(Rgp_Razeni, 0, Qt::AlignTop);
    row->addWidget(Rgp_Stav, 0, Qt::AlignTop);
}

// What the memos show: received data or not, bytes per line, the incoming filter, polls,
// the capture file, time stamps and the overview.
void TForm1::CreateDisplayOptions(QWidget* central, QHBoxLayout* row)
{
    auto* display = new QVBoxLayout;
    Rgp_PrijataData =
        Named(new TRadioGroup(tr("Přijatá data:"), {tr("Zobrazuj"), tr("Nezobrazuj")}, 2, central),
              "Rgp_PrijataData");
    display->addWidget(Rgp_PrijataData);
    auto* perLine = new QHBoxLayout;
    Edt_PocetBytu = Named(new QLineEdit(QStringLiteral("32"), central), "Edt_PocetBytu");
    Edt_PocetBytu->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    perLine->addWidget(NewLabel(tr("Počet bytů na řádku"), Edt_PocetBytu, central));
    perLine->addWidget(Edt_PocetBytu);
    perLine->addStretch(1);
    display->addLayout(perLine);
    display->addStretch(1);
    row->addLayout(display);

    auto* filter = new QGridLayout;
    filter->setVerticalSpacing(4);
    Chk_Filtr = Named(new QCheckBox(tr("Filtruj příchozí"), central), "Chk_Filtr");
    Edt_FiltrOd = Named(new QLineEdit(central), "Edt_FiltrOd");
    Edt_FiltrPro = Named(new QLineEdit(central), "Edt_FiltrPro");
    Edt_FiltrOd->setFixedWidth(HexEditWidth());
    Edt_FiltrPro->setFixedWidth(HexEditWidth());
    filter->addWidget(Chk_Filtr, 0, 0, 1, 5);
    filter->addWidget(NewLabel(tr("Od"), Edt_FiltrOd, central), 1, 0);
    filter->addWidget(Edt_FiltrOd, 1, 1);
    filter->addWidget(NewLabel(tr("Pro"), Edt_FiltrPro, central), 1, 2);
    filter->addWidget(Edt_FiltrPro, 1, 3);
    filter->addWidget(NewLabel(tr("Hex"), nullptr, central), 1, 4);
    filter->setRowStretch(2, 1);
    row->addLayout(filter);

    auto* checks = new QVBoxLayout;
    Chk_NezobrazujVyzvy =
        Named(new QCheckBox(tr("Nezobrazuj výzvy"), central), "Chk_NezobrazujVyzvy");
    Chk_VystupDoSouboru =
        Named(new QCheckBox(tr("Výstup do souboru"), central), "Chk_VystupDoSouboru");
    Chk_CasoveZnacky = Named(new QCheckBox(tr("Časové značky"), central), "Chk_CasoveZnacky");
    Chk_CasoveZnacky->setToolTip(
        tr("Před záznam čas jeho dávky (po 40 ms), u přijatých TLG i odstup od předchozího"));
    Chk_Prehled = Named(new QCheckBox(tr("Přehled sběrnice"), central), "Chk_Prehled");
    checks->setSpacing(2);
    checks->addWidget(Chk_NezobrazujVyzvy);
    checks->addWidget(Chk_VystupDoSouboru);
    checks->addWidget(Chk_CasoveZnacky);
    checks->addWidget(Chk_Prehled);
    checks->addStretch(1);
    row->addLayout(checks);
}

// Telegram composer: the header and block bytes with their small labels above them.
QLayout* TForm1::CreateComposerRow(QWidget* central)
{
    auto* composer = new QGridLayout;
    composer->setHorizontalSpacing(4);
    composer->setVerticalSpacing(2);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    const auto byteEdit = [&](const char* name, const char* text, int col, const char* caption,
                              int span = 1) {
        auto* edit = Named(new QLineEdit(QLatin1String(text), central), name);
        edit->setFixedWidth(HexEditWidth());
        if (caption) {
            QLabel* label = NewLabel(QLatin1String(caption), edit, central);
            label->setFont(small);
            composer->addWidget(label, 0, col, 1, span);
        }
        composer->addWidget(edit, 1, col);
        return edit;
    };
    Edt_Sync = byteEdit("Edt_Sync", "A6", 0, "Sync");
    Edt_To = byteEdit("Edt_To", "00", 1, "To");
    Edt_From = byteEdit("Edt_From", "F0", 2, "From");
    Edt_Dev = byteEdit("Edt_Dev", "00", 3, "Device");
    Edt_RW = byteEdit("Edt_RW", "00", 4, "R/W");
    Edt_CRCHead = byteEdit("Edt_CRCHead", "00", 5, "CRC");
    Edt_DataLen = byteEdit("Edt_DataLen", "00", 6, "DataLen");
    Edt_Addr1 = byteEdit("Edt_Addr1", "00", 7, "Address", 3);
    Edt_Addr2 = byteEdit("Edt_Addr2", "00", 8, nullptr);
    Edt_Addr3 = byteEdit("Edt_Addr3", "00", 9, nullptr);
    Cmb_Data = Named(new QComboBox(central), "Cmb_Data");
    Cmb_Data->setEditable(true);
    Cmb_Data->setInsertPolicy(QComboBox::NoInsert);
    Cmb_Data->setEditText(QStringLiteral("00"));
    Cmb_Data->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    composer->addWidget(Cmb_Data, 1, 10);
    Edt_CRCWrite = byteEdit("Edt_CRCWrite", "00", 11, "CRC8");
    Edt_CRCTLG = byteEdit("Edt_CRCTLG", "00", 12, "CRC");
    composer->setColumnStretch(10, 1);

    auto* count = new QHBoxLayout;
    count->setSpacing(4);
    Lbl_PocetBytu = Named(PlainLabel(QStringLiteral("0"), central), "Lbl_PocetBytu");
    count->addWidget(NewLabel(tr("Počet bytů:"), nullptr, central));
    count->addWidget(Lbl_PocetBytu);
    count->addStretch(1);
    composer->addLayout(count, 2, 10);
    return composer;
}

// The memory area, read or write, the send buttons and the communication test.
QLayout* TForm1::CreateSendButtons(QWidget* central)
{
    auto* sending = new QHBoxLayout;
    sending->setSpacing(10);
    Rgp_Zarizeni =
        Named(new TRadioGroup(tr("Druh čtení/zápisu"), AreaItems(), 2, central), "Rgp_Zarizeni");
    Rgp_druhTLG = Named(new TRadioGroup(tr("Druh TLG"), {tr("Čtení"), tr("Zápis")}, 1, central),
                        "Rgp_druhTLG");
    sending->addWidget(Rgp_Zarizeni, 0, Qt::AlignTop);
    sending->addWidget(Rgp_druhTLG, 0, Qt::AlignTop);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(4);
    Btn_PosliTLG =
        Named(new QPushButton(tr("Pošli TLG (po příchodu výzvy)"), central), "Btn_PosliTLG");
    Button4 = Named(new QPushButton(tr("Pošli TLG (nečekej na výzvu)"), central), "Button4");
    Btn_VymazBuffer = Named(new QPushButton(tr("Vymaž buffer"), central), "Btn_VymazBuffer");
    buttons->addWidget(Btn_PosliTLG);
    buttons->addWidget(Button4);
    buttons->addWidget(Btn_VymazBuffer);
    buttons->addStretch(1);
    sending->addLayout(buttons);

    auto* test = new QVBoxLayout;
    test->setSpacing(4);
    Btn_TestKomunikace =
        Named(new QPushButton(QStringLiteral("START"), central), "Btn_TestKomunikace");
    test->addWidget(NewLabel(tr("Test komunikace"), Btn_TestKomunikace, central), 0,
                    Qt::AlignHCenter);
    test->addWidget(Btn_TestKomunikace);
    test->addStretch(1);
    sending->addLayout(test);
    sending->addStretch(1);
    return sending;
}

// The overview of the bus and the queue, beside the controls, full height.
QWidget* TForm1::CreateOverview(QWidget* central)
{
    Pnl_Prehled = Named(new BusPanel(FStatistics, FQueue, central), "Pnl_Prehled");
    // Room for a log line of the queue, such as the longest below.
    Pnl_Prehled->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral(
                                   "00:00:00.000 Čtení RAMBIT290 0x000000 ×255 → 00")) +
                               40);
    return Pnl_Prehled;
}

void TForm1::CreateStatusBar()
{
    StatusBar1 = Named(statusBar(), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    FStatusPanel = Named(PlainLabel(StatusBar1), "StatusBar1Panel");
    FStatusPanel->setMinimumWidth(200);
    StatusBar1->addWidget(FStatusPanel, 1);
    // The overview's notices in a place of their own.
    StatusBar1->addPermanentWidget(Pnl_Prehled->Notice());
}

} // namespace qtr290
