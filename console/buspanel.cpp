#include "console/buspanel.h"

#include "console/controls.h"
#include "console/pendingtext.h"
#include "widgets/plaintext.h"

#include <QDir>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace qtr290 {

namespace {

constexpr std::uint64_t NotShown = ~std::uint64_t{0};

// A counter: its number right-aligned and centred upright, drawn as the one line it is. A
// label lays its text out as a paragraph at every paint, most of what a new number cost; the
// pixels are the same.
class CounterLabel : public QLabel {
public:
    explicit CounterLabel(QWidget* parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        // Digits look the same unshaped, and shaping was most of the rest.
        QFont digits = font();
        digits.setStyleStrategy(QFont::PreferNoShaping);
        setFont(digits);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetricsF metrics(font());
        const QRectF area = contentsRect();
        const QString number = text();
        painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
        painter.drawText(
            QPointF(area.x() + area.width() - metrics.horizontalAdvance(number),
                    area.y() + (area.height() - metrics.height()) / 2 + metrics.ascent()),
            number);
    }
};

} // namespace

BusPanel::BusPanel(const BusStatistics& statistics, const PendingQueue& queue, QWidget* parent)
    : QGroupBox(tr("Přehled sběrnice"), parent), FStatistics(statistics), FQueue(queue)
{
    FShown.fill(NotShown);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(4);
    AddCounters(column);
    Btn_StatVynulovat = Named(new QPushButton(tr("Vynulovat"), this), "Btn_StatVynulovat");
    Btn_StatVynulovat->setToolTip(tr("Vynuluje počítadla kromě fronty"));
    column->addWidget(Btn_StatVynulovat, 0, Qt::AlignRight);
    AddLists(column);

    FNotice = Named(PlainLabel(), "StatusBar1Prehled");
    QPalette palette = FNotice->palette();
    palette.setColor(QPalette::WindowText, WarningTextColor());
    FNotice->setPalette(palette);
    FNotice->hide();

    FLater.setSingleShot(true);
    connect(&FLater, &QTimer::timeout, this, &BusPanel::Refresh);
    FListsLater.setSingleShot(true);
    connect(&FListsLater, &QTimer::timeout, this, &BusPanel::RefreshLists);
}

void BusPanel::AddCounters(QVBoxLayout* column)
{
    auto* counters = new QGridLayout;
    counters->setHorizontalSpacing(8);
    counters->setVerticalSpacing(1);
    counters->setColumnStretch(0, 1);
    int at = 0;
    const auto counter = [&](const char* name, const QString& caption, const QString& tip) {
        auto* value = Named(new CounterLabel(this), name);
        // A label of fixed size changes its text without laying out the window again.
        value->setText(QStringLiteral("0000000000000"));
        value->setFixedSize(value->sizeHint());
        value->setText(QStringLiteral("0"));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setToolTip(tip);
        auto* label = PlainLabel(caption, this);
        label->setBuddy(value);
        label->setToolTip(tip);
        counters->addWidget(label, at, 0);
        counters->addWidget(value, at, 1);
        ++at;
        return value;
    };
    Lbl_StatTelegramy = counter("Lbl_StatTelegramy", tr("Telegramy"),
                                tr("Přijaté neporušené telegramy včetně výzev"));
    Lbl_StatVyzvy =
        counter("Lbl_StatVyzvy", tr("Výzvy"), tr("Přijaté výzvy, ať vyzývají kohokoli"));
    Lbl_StatOdpovedi =
        counter("Lbl_StatOdpovedi", tr("Odpovědi"), tr("Výzvy, na které šel TLG z fronty"));
    Lbl_StatOdeslano =
        counter("Lbl_StatOdeslano", tr("Odesláno"), tr("Odeslané TLG, na výzvu i bez ní"));
    Lbl_StatChybyHlavicky =
        counter("Lbl_StatChybyHlavicky", tr("Chyby hlavičky"), tr("Řádky „Vadne CRC hlavicky“"));
    Lbl_StatChybyDat = counter("Lbl_StatChybyDat", tr("Chyby dat"), tr("Řádky „Vadne CRC dat“"));
    Lbl_StatFronta = counter("Lbl_StatFronta", tr("Ve frontě"), tr("TLG čekající ve frontě"));
    Lbl_StatBajty = counter("Lbl_StatBajty", tr("Bajty"), tr("Přijaté bajty"));
    column->addLayout(counters);
}

void BusPanel::AddLists(QVBoxLayout* column)
{
    const auto list = [&](const char* name, const QString& caption, const QString& tip) {
        auto* view = Named(new QListWidget(this), name);
        view->setSelectionMode(QAbstractItemView::NoSelection);
        view->setFocusPolicy(Qt::NoFocus);
        view->setToolTip(tip);
        view->setAlternatingRowColors(true);
        // Every item of a list has as many lines: laying out a long queue anew then costs
        // nothing per item.
        view->setUniformItemSizes(true);
        QFont font = view->font();
        font.setStyleStrategy(QFont::PreferNoShaping);
        view->setFont(font);
        auto* label = PlainLabel(caption, this);
        label->setBuddy(view);
        column->addWidget(label);
        column->addWidget(view, 1);
        return view;
    };
    Lst_Fronta = list("Lst_Fronta", tr("Fronta TLG"),
                      tr("Čekající TLG od nejstaršího; odchází na výzvu a zůstává, "
                         "dokud ho neodebere další neporušený TLG, který není výzva"));
    Lst_ZaznamFronty = list("Lst_ZaznamFronty", tr("Záznam fronty"),
                            tr("Proč TLG z fronty odešly, nejnovější nahoře; doba "
                               "odpovědi se měří k dávce, která ji přinesla (po 40 ms)"));
}

void BusPanel::RequestRefresh()
{
    const qint64 wait =
        FSinceRefresh.isValid() ? RefreshIntervalMs - FSinceRefresh.elapsed() : qint64(0);
    if (wait <= 0) {
        Refresh();
        return;
    }
    if (!FLater.isActive() || FLater.remainingTime() > wait)
        FLater.start(int(wait));
}

void BusPanel::Refresh()
{
    FLater.stop();
    FSinceRefresh.restart();
    RefreshNotice();
    // Hidden, the panel waits for its next show.
    if (isHidden())
        return;
    const BusCounts& counts = FStatistics.Counts();
    const std::array<std::pair<QLabel*, std::uint64_t>, 8> values = {{
        {Lbl_StatTelegramy, counts.telegrams},
        {Lbl_StatVyzvy, counts.polls},
        {Lbl_StatOdpovedi, counts.answers},
        {Lbl_StatChybyHlavicky, counts.headerErrors},
        {Lbl_StatChybyDat, counts.blockErrors},
        {Lbl_StatOdeslano, counts.sent},
        {Lbl_StatFronta, FQueue.Pending().size()},
        {Lbl_StatBajty, counts.bytes},
    }};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (FShown[i] == values[i].second)
            continue;
        FShown[i] = values[i].second;
        values[i].first->setText(QString::number(values[i].second));
    }
    // On a busy bus the lists change with every telegram; they are read at a slower pace.
    if (!ListsBehind())
        return;
    if (FSinceLists.isValid() && FSinceLists.elapsed() < ListIntervalMs) {
        if (!FListsLater.isActive())
            FListsLater.start(int(ListIntervalMs - FSinceLists.elapsed()));
        return;
    }
    RefreshLists();
}

bool BusPanel::ListsBehind() const
{
    // Telegrams join at the back and leave from the front, all of them at once when the
    // queue is emptied: its ends and its length tell whether the list shows it.
    const auto& pending = FQueue.Pending();
    if (FQueue.Departures() != FDeparturesShown || pending.size() != FRows.size())
        return true;
    return !pending.empty() && (pending.front().id != FRows.front().first ||
                                pending.front().sends != FRows.front().second ||
                                pending.back().id != FRows.back().first);
}

void BusPanel::RefreshLists()
{
    FListsLater.stop();
    if (isHidden())
        return;
    FSinceLists.restart();
    RefreshQueue();
    RefreshLog();
}

void BusPanel::showEvent(QShowEvent* event)
{
    QGroupBox::showEvent(event);
    MatchCounterBackgrounds();
    Refresh();
}

void BusPanel::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    MatchCounterBackgrounds();
}

void BusPanel::changeEvent(QEvent* event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange)
        MatchCounterBackgrounds();
}

void BusPanel::MatchCounterBackgrounds()
{
    // A counter is opaque, filled with what the panel paints behind it, so that a new number
    // repaints the counter alone instead of the panel and the window under it. Hidden, it
    // waits for its show; render() sends a hidden panel's pending resize, which comes back here.
    if (!isVisible() || FMatchingBackgrounds)
        return;
    FMatchingBackgrounds = true;
    const qreal ratio = devicePixelRatioF();
    for (QLabel* value : {Lbl_StatTelegramy, Lbl_StatVyzvy, Lbl_StatOdpovedi, Lbl_StatChybyHlavicky,
                          Lbl_StatChybyDat, Lbl_StatOdeslano, Lbl_StatFronta, Lbl_StatBajty}) {
        QPixmap behind(value->size() * ratio);
        behind.setDevicePixelRatio(ratio);
        render(&behind, QPoint(), QRegion(value->geometry()), QWidget::DrawWindowBackground);
        // A plain colour fills faster than a pattern, where the panel is plain behind it.
        const QImage image = behind.toImage();
        const QRgb first = image.isNull() ? 0 : image.pixel(0, 0);
        bool plain = !image.isNull();
        for (int y = 0; plain && y < image.height(); ++y)
            for (int x = 0; plain && x < image.width(); ++x)
                plain = image.pixel(x, y) == first;
        QPalette palette = value->palette();
        palette.setBrush(QPalette::Window,
                         plain ? QBrush(QColor::fromRgba(first)) : QBrush(behind));
        value->setPalette(palette);
        value->setAutoFillBackground(true);
    }
    FMatchingBackgrounds = false;
}

void BusPanel::RefreshQueue()
{
    // Telegrams leave from the front (or all at once) and join at the back: the rows that went
    // and the rows that came are each one step for the list, and only the oldest telegram can
    // have been sent since.
    const auto& pending = FQueue.Pending();
    std::size_t gone = 0;
    while (gone < FRows.size() && (pending.empty() || FRows[gone].first < pending.front().id))
        ++gone;
    if (gone > 0) {
        Lst_Fronta->model()->removeRows(0, int(gone));
        FRows.erase(FRows.begin(), FRows.begin() + std::ptrdiff_t(gone));
    }
    if (!FRows.empty() && FRows.front().second != pending.front().sends) {
        FRows.front().second = pending.front().sends;
        Lst_Fronta->item(0)->setText(PendingText(pending.front()));
    }
    const std::size_t first = FRows.size();
    QStringList added;
    for (std::size_t row = first; row < pending.size(); ++row) {
        added << PendingText(pending[row]);
        FRows.emplace_back(pending[row].id, pending[row].sends);
    }
    if (added.isEmpty())
        return;
    Lst_Fronta->addItems(added);
    // A long write is cut in the list; its tooltip holds all of it.
    for (std::size_t row = first; row < pending.size(); ++row)
        if (pending[row].telegram.size() > PendingHexBytes)
            Lst_Fronta->item(int(row))->setToolTip(
                ShortHex(pending[row].telegram, pending[row].telegram.size()));
}

void BusPanel::RefreshLog()
{
    const auto& log = FQueue.Log();
    const std::size_t fresh =
        std::size_t(std::min<std::uint64_t>(FQueue.Departures() - FDeparturesShown, log.size()));
    FDeparturesShown = FQueue.Departures();
    if (fresh == 0)
        return;
    QStringList lines; // newest first
    for (std::size_t i = log.size(); i-- > log.size() - fresh;)
        lines << DepartureText(log[i]);
    Lst_ZaznamFronty->insertItems(0, lines);
    const int over = Lst_ZaznamFronty->count() - int(PendingQueue::LogLimit);
    if (over > 0)
        Lst_ZaznamFronty->model()->removeRows(int(PendingQueue::LogLimit), over);
}

void BusPanel::SetSettingsUnreadable(const QString& path)
{
    FSettingsUnreadable = path;
    FLostShown = NotShown;
    RefreshNotice();
}

void BusPanel::SetLanguageUnavailable(const QString& language)
{
    FLanguageUnavailable = language;
    FLostShown = NotShown;
    RefreshNotice();
}

void BusPanel::SetCaptureFile(const QString& path)
{
    FCaptureFile = path;
}

void BusPanel::RefreshNotice()
{
    const std::uint64_t lost = FStatistics.Counts().captureLost;
    if (lost == FLostShown)
        return;
    FLostShown = lost;
    QStringList texts;
    QStringList tips;
    if (!FSettingsUnreadable.isEmpty()) {
        texts << tr("Nastavení nelze přečíst: platí výchozí, soubor se nepřepíše");
        tips << QDir::toNativeSeparators(FSettingsUnreadable);
    }
    if (!FLanguageUnavailable.isEmpty())
        texts << tr("Jazyk „%1“ program nemá, okno je česky").arg(FLanguageUnavailable);
    if (lost > 0) {
        texts << tr("Výstup do souboru: ztracené řádky %1").arg(lost);
        tips << tr("%1 držel jiný program nebo nešel zapsat; "
                   "zápis pokračuje, jakmile to jde")
                    .arg(QDir::toNativeSeparators(FCaptureFile));
    }
    FNotice->setText(texts.join(QStringLiteral("  |  ")));
    FNotice->setToolTip(PlainToolTip(tips.join(QLatin1Char('\n'))));
    FNotice->setVisible(!texts.isEmpty());
}

} // namespace qtr290
