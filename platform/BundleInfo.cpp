#include "BundleInfo.h"

#include "BuildInfo.h"

#include <QCoreApplication>
#include <QVariant>

namespace nimbara {

namespace {
const QString kShortVersionKey = QStringLiteral("CFBundleShortVersionString");
const QString kBuildNumberKey = QStringLiteral("CFBundleVersion");
} // namespace

QString bundleValue(const QString &key)
{
    if (key == kShortVersionKey)
        return QCoreApplication::applicationVersion();
    if (auto app = QCoreApplication::instance())
        return app->property(key.toLatin1().constData()).toString();
    return {};
}

void initBundleInfo()
{
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBARA_VERSION));
    if (auto app = QCoreApplication::instance())
        app->setProperty(kBuildNumberKey.toLatin1().constData(), QStringLiteral(NIMBARA_BUILD_NUMBER));
}

QString bundlePath()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace nimbara
