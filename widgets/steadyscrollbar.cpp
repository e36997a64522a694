#include "widgets/steadyscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace qtr290 {

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
{
}

SteadyScrollBar::Look SteadyScrollBar::Current() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    // A change the eye cannot see is not painted; an update already on its way paints the
    // latest numbers anyway.
    if (FPaintedOnce && isVisible() && Current() == FPainted)
        return;
    QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event)
{
    FPainted = Current();
    FPaintedOnce = true;
    QScrollBar::paintEvent(event);
}

} // namespace qtr290
