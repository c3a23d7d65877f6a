#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Localized.h"
#include "LocationSource.h"
#include "Log.h"
#include "SettingsStore.h"
#include "WXWeather.h"

#include <cmath>
#include <limits>

using namespace nimbara;

namespace {

const QString kStatus = QStringLiteral("status");
const QString kError = QStringLiteral("error");
const QString kData = QStringLiteral("data");
const QString kTemp = QStringLiteral("temp");
const QString kCelsius = QStringLiteral("celsius");
const QString kCondition = QStringLiteral("condition");
const QString kLocation = QStringLiteral("location");

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

bool isText(const QVariant &value)
{
    return value.typeId() == QMetaType::QString;
}

bool fitsInt32(double number)
{
    return number >= double(std::numeric_limits<qint32>::min()) &&
           number <= double(std::numeric_limits<qint32>::max());
}

// A temperature cut toward zero; what is not a number, or does not fit, reads as 0 like a missing one.
qint32 temperatureIn(const QVariant &data, bool celsius)
{
    const QVariant value = data.toMap().value(celsius ? kCelsius : kTemp);
    if (!isNumber(value))
        return 0;
    const double number = std::trunc(value.toDouble());
    return fitsInt32(number) ? qint32(number) : 0;
}

// A member's text upper-cased (language-independent); what is not text reads as empty like a missing one.
QString upperTextIn(const QVariant &data, const QString &member)
{
    const QVariant value = data.toMap().value(member);
    return isText(value) ? value.toString().toUpper() : QString();
}

QString weatherLine(qint32 temperature, const QString &condition)
{
    return QStringLiteral("%1\u00B0, %2").arg(QString::number(temperature), localized(condition));
}

// The service error code; a missing or unreadable one is -1, a code the widget does nothing for.
int errorCodeOf(const QVariantMap &envelope)
{
    const QVariant value = envelope.value(kError);
    if (isNumber(value)) {
        const double number = value.toDouble();
        if (number == std::trunc(number) && fitsInt32(number))
            return int(number);
    }
    log(QStringLiteral(" ! ERROR : service error without a readable code"));
    return -1;
}

// Says in the log what in an answer does not have the expected type; the display treats such a
// member as missing.
void logWrongTypes(const QVariantMap &envelope)
{
    if (envelope.contains(kData) && envelope.value(kData).typeId() != QMetaType::QVariantMap) {
        log(QStringLiteral(" ! ERROR : weather data is not an object"));
        return;
    }
    const QVariantMap data = envelope.value(kData).toMap();
    for (const QString &member : {kTemp, kCelsius}) {
        if (!data.contains(member))
            continue;
        if (!isNumber(data.value(member)))
            log(QStringLiteral(" ! ERROR : weather data member %1 is not a number").arg(member));
        else if (!fitsInt32(std::trunc(data.value(member).toDouble())))
            log(QStringLiteral(" ! ERROR : weather data member %1 is out of range").arg(member));
    }
    for (const QString &member : {kCondition, kLocation}) {
        if (data.contains(member) && !isText(data.value(member)))
            log(QStringLiteral(" ! ERROR : weather data member %1 is not text").arg(member));
    }
}

} // namespace

void WXDesktopWindow::getWeather(const std::optional<QGeoCoordinate> &location)
{
    log(QStringLiteral("updating weather"));
    if (!cachedLocation || !location || isUpdating || isUpdated)
        return;
    isUpdating = true;

    const QVariant answer = WXWeather::getWeatherByLatitude(location->latitude(), location->longitude());
    if (answer.typeId() != QMetaType::QVariantMap) {
        // Nothing, or a JSON array: no envelope either way.
        if (!answer.isNull())
            log(QStringLiteral(" ! ERROR : weather answer is not an object"));
        errors = true;
        isUpdating = false;
        return;
    }
    const QVariantMap envelope = answer.toMap();
    data = envelope.value(kData);

    const QVariant status = envelope.value(kStatus);
    if (isText(status) && status.toString() == kError) {
        switch (errorCodeOf(envelope)) {
        case 0:
            ui->title->setText(localized("OUTDATED_VERSION"));
            ui->subtitle->setText(localized("PLEASE_UPDATE_APPLICATION"));
            break;
        case 1:
            ui->title->setText(localized("BLACKLIST"));
            ui->subtitle->setText(localized("DATA_DOWNLOAD_ERROR"));
            errors = true;
            break;
        case 3:
            errors = true;
            break;
        default:
            break;
        }
        isUpdating = false;
        return;
    }

    logWrongTypes(envelope);
    const bool celsius = SettingsStore::boolForKey(key::celsius);
    ui->title->setText(weatherLine(temperatureIn(data, celsius), upperTextIn(data, kCondition)));
    ui->subtitle->setText(upperTextIn(data, kLocation));
    isUpdated = true;
    if (locationManager)
        locationManager->stopUpdatingLocation();
    errors = false;
    isUpdating = false;
}

void WXDesktopWindow::didPressReloadButton(QObject * /*sender*/)
{
    const bool celsius = SettingsStore::boolForKey(key::celsius);
    ui->title->setText(weatherLine(temperatureIn(data, celsius), upperTextIn(data, kCondition)));
}
