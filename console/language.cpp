#include "console/language.h"

#include <QFile>
#include <QTranslator>

namespace qtr290 {

QString RequestedLanguage(const QString& commandLine, const QString& setting)
{
    const QString chosen = commandLine.trimmed().isEmpty() ? setting : commandLine;
    const QString language = chosen.trimmed().toLower();
    return language.isEmpty() ? QString::fromLatin1(DefaultLanguage) : language;
}

bool LoadTranslation(QTranslator& translator, const QString& language)
{
    if (language == QLatin1String(DefaultLanguage))
        return true;
    // Only letters reach the resource name: no other file can be named this way.
    if (language.size() < 2 || language.size() > 3)
        return false;
    for (const QChar c : language)
        if (c < QLatin1Char('a') || c > QLatin1Char('z'))
            return false;
    // The exact name: QTranslator's fallbacks to shorter names are not wanted here.
    const QString path = QStringLiteral(":/i18n/qtr290_%1.qm").arg(language);
    return QFile::exists(path) && translator.load(path);
}

QString ShownLanguageCode(const QString& language)
{
    QString shown;
    for (const QChar c : language) {
        if (shown.size() == 16)
            break;
        // No markup: a label could take '<' or '&' for rich text.
        if (c.isPrint() && c != QLatin1Char('<') && c != QLatin1Char('>') && c != QLatin1Char('&'))
            shown += c;
    }
    return shown;
}

} // namespace qtr290
