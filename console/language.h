// The window's language: Czech, as its texts are written in the code, or a translation
// embedded in the program (qtr290_<code>.qm under ":/i18n"). The operator chooses it; the
// system's locale does not.
#pragma once

#include <QString>

class QTranslator;

namespace qtr290 {

inline constexpr char DefaultLanguage[] = "cs";

// The command line's choice when it made one, else the settings'; lower case, trimmed.
QString RequestedLanguage(const QString& commandLine, const QString& setting);

// Loads the translation into the language; true when the window can speak it (Czech needs
// none). A code that is not two or three letters names no translation.
bool LoadTranslation(QTranslator& translator, const QString& language);

// The code as a status-bar note may show it: printable, no markup characters, at most 16.
QString ShownLanguageCode(const QString& language);

} // namespace qtr290
