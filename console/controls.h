// Small things the window's controls share: a control's name as the tests and accessibility
// tools find it (its object name and accessible description), and the colour of a warning.
#pragma once

#include <QColor>
#include <QString>

namespace qtr290 {

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleDescription(QLatin1String(name));
    return widget;
}

// Text that tells of something to look at: a composer field that does not say the byte sent,
// a problem noted in the status bar.
inline QColor WarningTextColor()
{
    return QColor(0xC0, 0x40, 0x00);
}

} // namespace qtr290
