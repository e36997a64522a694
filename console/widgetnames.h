// A control's name as the tests and accessibility tools find it: its object name and its
// accessible description.
#pragma once

#include <QString>

namespace qtr290 {

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleDescription(QLatin1String(name));
    return widget;
}

} // namespace qtr290
