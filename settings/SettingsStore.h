#pragma once

#include <QString>

namespace nimbara {

// The ten keys of the per-user settings store, defined once. Names are case-sensitive.
namespace key {
inline const QString initialized = QStringLiteral("initialized");
inline const QString originX = QStringLiteral("originX");
inline const QString originY = QStringLiteral("originY");
inline const QString sizeWidth = QStringLiteral("sizeWidth");
inline const QString sizeHeight = QStringLiteral("sizeHeight");
inline const QString locationEnabled = QStringLiteral("locationEnabled");
inline const QString whiteColor = QStringLiteral("whiteColor");
inline const QString textAlign = QStringLiteral("textAlign");
inline const QString dateEnabled = QStringLiteral("dateEnabled");
inline const QString celsius = QStringLiteral("celsius");
// Optional: where positions come from ("nmea:PATH", "fixed:LAT,LON", "network" for the service's
// guess from the network address; GeoClue2 when absent). Hand-written, or set by the Location menu.
inline const QString positionSource = QStringLiteral("positionSource");
// Optional: the name of the place chosen in the Location menu, shown there; absent for any other source.
inline const QString positionName = QStringLiteral("positionName");
} // namespace key

// The store: QSettings of organization "Nimbara", application "Nimbara"
// (~/.config/Nimbara/Nimbara.conf). No defaults are registered: a key never written reads as false or
// 0.0. Every call reads the store afresh; nothing here caches a value.
class SettingsStore
{
public:
    static bool boolForKey(const QString &key);
    static float floatForKey(const QString &key);
    static QString stringForKey(const QString &key);
    static void setBool(const QString &key, bool value);
    static void setFloat(const QString &key, float value);
    static void setString(const QString &key, const QString &value);
    static void removeKey(const QString &key);
    // Flips a boolean key; the setting buttons do this before their action runs.
    static void toggleBool(const QString &key);
    // Persists pending writes; the result is not looked at.
    static void synchronize();
};

} // namespace nimbara
