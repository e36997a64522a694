// The overview panel of the main window: the bus counters, the pending queue and the log of
// why telegrams left it; and a status-bar notice of problems that would otherwise pass in
// silence (capture lines lost, a settings file that could not be read). It shows what
// BusStatistics and PendingQueue hold, refreshed at most once per interval.
#pragma once

#include "station/busstatistics.h"
#include "station/pendingqueue.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <deque>

class QLabel;
class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace qtr290 {

class BusPanel : public QGroupBox {
    Q_OBJECT
public:
    // The counters: once per 40 ms tick at most. The ticks come 40 ms apart give or take a
    // few, so a tick that came early is shown at once instead of by a timer of its own.
    static constexpr int RefreshIntervalMs = 30;
    static constexpr int ListIntervalMs = 200; // the queue list and its log

    BusPanel(const BusStatistics& statistics, const PendingQueue& queue, QWidget* parent);

    // Refreshes now when the last refresh is an interval ago, else once at its end; the
    // lists at most once per ListIntervalMs, and only when they are behind the queue. Each has
    // a timer of its own: a list refresh between two ticks leaves the counters' pace alone.
    void RequestRefresh();
    void Refresh();

    // For the status bar: it stays there when the panel is hidden.
    QLabel* Notice() const { return FNotice; }
    void SetSettingsUnreadable(const QString& path);
    // The language asked for has no translation: the window speaks Czech, and says so.
    void SetLanguageUnavailable(const QString& language);
    void SetCaptureFile(const QString& path);

    // The counters: the decimal number alone.
    QLabel* Lbl_StatTelegramy;
    QLabel* Lbl_StatVyzvy;
    QLabel* Lbl_StatOdpovedi;
    QLabel* Lbl_StatChybyHlavicky;
    QLabel* Lbl_StatChybyDat;
    QLabel* Lbl_StatOdeslano;
    QLabel* Lbl_StatFronta;
    QLabel* Lbl_StatBajty;
    QPushButton* Btn_StatVynulovat;
    QListWidget* Lst_Fronta;       // the pending telegrams, oldest first
    QListWidget* Lst_ZaznamFronty; // why each one left, newest first

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void AddCounters(QVBoxLayout* column);
    void AddLists(QVBoxLayout* column);
    bool ListsBehind() const;
    void RefreshLists();
    void RefreshQueue();
    void RefreshLog();
    void RefreshNotice();
    void MatchCounterBackgrounds();
    bool FMatchingBackgrounds = false; // render() may resize a panel not shown yet

    const BusStatistics& FStatistics;
    const PendingQueue& FQueue;
    QLabel* FNotice;
    QElapsedTimer FSinceRefresh;
    QElapsedTimer FSinceLists;
    QTimer FLater;
    QTimer FListsLater;
    std::array<std::uint64_t, 8> FShown;             // the counters' numbers as shown
    std::deque<std::pair<std::uint64_t, int>> FRows; // Lst_Fronta: item id, sends shown
    std::uint64_t FDeparturesShown = 0;
    QString FSettingsUnreadable; // the file's path; empty: it was read
    QString FLanguageUnavailable;
    QString FCaptureFile;
    std::uint64_t FLostShown = 0;
};

} // namespace qtr290
