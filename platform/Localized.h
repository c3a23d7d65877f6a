#pragma once

#include <QLocale>
#include <QString>

namespace nimbara {

// The localized text of a key; a key without an entry in the string table shows as the key itself.
QString localized(const QString &key);
inline QString localized(const char *key)
{
    return localized(QString::fromLatin1(key));
}

// Loads the string table that best fits the locale's languages (uiLanguages() order) into the
// application, replacing one loaded before. Returns the language loaded, or an empty text when only
// the keys remain.
QString installTranslations(const QLocale &locale);
QString installTranslations();

} // namespace nimbara
