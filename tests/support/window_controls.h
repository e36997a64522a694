// The window's controls as an operator or an assistive tool names them: by object name.
// Tests reach controls only this way, so that nothing inside the window is their interface.
#pragma once

#include <QWidget>
#include <QtGlobal>

namespace qtr290::test {

// The control of that name and type; a test that names a missing control stops here.
template <class Widget> Widget* control(const QWidget& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QLatin1String(name));
    if (!widget)
        qFatal("no control named %s of the expected type", name);
    return widget;
}

} // namespace qtr290::test
