#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Localized.h"
#include "LocationSource.h"
#include "Log.h"
#include "SettingsStore.h"
#include "WXWeather.h"

#include <cmath>
#include <limits>
#include <optional>

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

// The temperature in the unit chosen, cut toward zero; none when it is missing, not a number or
// does not fit.
std::optional<qint32> knownTemperatureIn(const QVariant &data, bool celsius)
{
    const QVariant value = data.toMap().value(celsius ? kCelsius : kTemp);
    if (!isNumber(value))
        return std::nullopt;
    const double number = std::trunc(value.toDouble());
    if (!fitsInt32(number))
        return std::nullopt;
    return qint32(number);
}

// As the weather line reads it: an unknown temperature is 0.
qint32 temperatureIn(const QVariant &data, bool celsius)
{
    return knownTemperatureIn(data, celsius).value_or(0);
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
// The answer's text is in the log already, from the exchange.
int errorCodeOf(const QVariantMap &envelope)
{
    const QVariant value = envelope.value(kError);
    if (isNumber(value)) {
        const double number = value.toDouble();
        if (number == std::trunc(number) && fitsInt32(number))
            return int(number);
    }
    return -1;
}

} // namespace

void WXDesktopWindow::getWeather(const std::optional<QGeoCoordinate> &location)
{
    log(QStringLiteral("updating weather"));
    if (!cachedLocation || !location || isUpdating || isUpdated)
        return;
    isUpdating = true;

    const QVariant answer = WXWeather::getWeatherByLatitude(location->latitude(), location->longitude());
    m_fetchReachedService = !answer.isNull();
    // Nothing, or a JSON array: no envelope either way.
    if (answer.typeId() != QMetaType::QVariantMap) {
        errors = true;
        isUpdating = false;
        return;
    }
    const QVariantMap envelope = answer.toMap();

    const QVariant status = envelope.value(kStatus);
    if (isText(status) && status.toString() == kError) {
        data = envelope.value(kData);
        switch (errorCodeOf(envelope)) {
        case 0:
            weatherShown = false;
            ui->title->setText(localized("OUTDATED_VERSION"));
            ui->subtitle->setText(localized("PLEASE_UPDATE_APPLICATION"));
            break;
        case 1:
            weatherShown = false;
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

    // A success that carries no weather is a failed update: nothing to show, nothing made current,
    // and the positions keep coming.
    if (envelope.value(kData).typeId() != QMetaType::QVariantMap) {
        errors = true;
        isUpdating = false;
        return;
    }

    data = envelope.value(kData);
    const bool celsius = SettingsStore::boolForKey(key::celsius);
    ui->title->setText(weatherLine(temperatureIn(data, celsius), upperTextIn(data, kCondition)));
    ui->subtitle->setText(upperTextIn(data, kLocation));
    weatherLocation = *location;
    weatherShown = true;
    isUpdated = true;
    if (locationManager)
        locationManager->stopUpdatingLocation();
    errors = false;
    isUpdating = false;
    shownData = data;
    emit weatherDidChange();
}

void WXDesktopWindow::didPressReloadButton(QObject * /*sender*/)
{
    // What is on screen is the last weather answer's (an error answer after it changes neither the
    // lines nor the Forecast panel): that is what turns to the other unit.
    if (shownData.typeId() != QMetaType::QVariantMap)
        return;
    const bool celsius = SettingsStore::boolForKey(key::celsius);
    const QString condition = upperTextIn(shownData, kCondition);
    // The weather line turns only while it shows that weather (in either unit), not a notice such as
    // an outdated version; without a temperature in the new unit it keeps what it shows.
    const QString shown = ui->title->text();
    const bool showsWeather = shown == weatherLine(temperatureIn(shownData, true), condition) ||
                              shown == weatherLine(temperatureIn(shownData, false), condition);
    const std::optional<qint32> temperature = knownTemperatureIn(shownData, celsius);
    if (showsWeather && temperature)
        ui->title->setText(weatherLine(*temperature, condition));
    emit weatherDidChange();
}
