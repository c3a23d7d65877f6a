#include "SettingsStore.h"

#include <QSettings>
#include <QVariant>

#include <cmath>

namespace nimbara {

namespace {
QSettings store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Nimbara"),
                     QStringLiteral("Nimbara"));
}
} // namespace

bool SettingsStore::boolForKey(const QString &key)
{
    // After a reload booleans come back as the words true/false; anything else reads as false.
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return value.toString().trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

float SettingsStore::floatForKey(const QString &key)
{
    bool ok = false;
    const float value = store().value(key).toFloat(&ok);
    // A damaged file may hold any text: read what is not a finite number as absent.
    return ok && std::isfinite(value) ? value : 0.0f;
}

QString SettingsStore::stringForKey(const QString &key)
{
    // A hand-written value with unquoted commas ("fixed:51.5,-0.1") reads back as a list of its pieces.
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SettingsStore::setBool(const QString &key, bool value)
{
    store().setValue(key, value);
}

void SettingsStore::setFloat(const QString &key, float value)
{
    store().setValue(key, value);
}

void SettingsStore::setString(const QString &key, const QString &value)
{
    store().setValue(key, value);
}

void SettingsStore::removeKey(const QString &key)
{
    store().remove(key);
}

void SettingsStore::toggleBool(const QString &key)
{
    setBool(key, !boolForKey(key));
}

void SettingsStore::synchronize()
{
    store().sync();
}

} // namespace nimbara
