#include "Localized.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>

namespace nimbara {

namespace {
constexpr char kContext[] = "Nimbara";
}

QString localized(const QString &key)
{
    const QByteArray utf8 = key.toUtf8();
    // translate() gives back the source text, that is the key, when the table has no entry.
    return QCoreApplication::translate(kContext, utf8.constData());
}

QString installTranslations()
{
    return installTranslations(QLocale::system());
}

QString installTranslations(const QLocale &locale)
{
    static QTranslator *translator = nullptr;
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
    // The tables are compiled into the executable; an installed copy under share/nimbara/translations
    // takes precedence so that a packager may ship updated texts.
    const QStringList dirs = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/nimbara/translations"),
        QStringLiteral(":/i18n"),
    };
    for (const QString &dir : dirs) {
        auto candidate = new QTranslator;
        if (candidate->load(locale, QStringLiteral("nimbara"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(candidate);
            translator = candidate;
            return candidate->language();
        }
        delete candidate;
    }
    return {};
}

} // namespace nimbara
