#pragma once

#include <optional>
#include <string_view>

namespace nimbara::server {

// The condition names the widget knows (it upper-cases them and looks them up as localized keys):
// clear, partly-cloudy, cloudy, fog, drizzle, freezing-rain, rain, showers, snow, thunderstorm.

// WMO weather interpretation code, as Open-Meteo reports it in "weather_code".
std::optional<std::string_view> conditionForWmoCode(int code);

// MET Norway symbol code ("lightrainshowers_day", "fog", ...); the day/night suffix is ignored.
std::optional<std::string_view> conditionForMetSymbol(std::string_view symbol);

} // namespace nimbara::server
