// Texts from outside the program (device names, the adapters' descriptor strings, file paths,
// the settings file) are shown as they are written. A label or tooltip that took one for
// markup would show something else and make Qt open the files its images name, on the
// window's thread. The habit: every QLabel is made by PlainLabel, and every tooltip that is not
// a literal of the program goes through PlainToolTip.
#pragma once

#include <QLabel>
#include <QString>
#include <QTextDocument>

#include <utility>

namespace qtr290 {

// A new QLabel (QLabel's own arguments) that never reads its text as markup.
template <class... Args> QLabel* PlainLabel(Args&&... args)
{
    auto* label = new QLabel(std::forward<Args>(args)...);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A tooltip that shows `text` as written: a text that a tooltip would take for markup is
// escaped; any other stays as it is.
inline QString PlainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace qtr290
