// A scroll bar that repaints only when what it shows changes. A memo on a busy bus changes its
// range at every tick, while its handle, long past its shortest, stays where it is; each such
// repaint costs as much as drawing a memo's text.
#pragma once

#include <QRect>
#include <QScrollBar>

namespace qtr290 {

class SteadyScrollBar : public QScrollBar {
public:
    explicit SteadyScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What the style draws from the slider's numbers.
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look Current() const;

    Look FPainted;
    bool FPaintedOnce = false;
};

} // namespace qtr290
