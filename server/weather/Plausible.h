#pragma once

// What the providers' readers share: the checks that keep a broken answer's numbers out of a reading,
// and the sizes of the forecast they keep. Private to weather/.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

inline constexpr size_t forecastHours = 24;
inline constexpr size_t forecastDays = 7;
// Offsets beyond ±18 hours are no place's.
inline constexpr int maxOffsetSeconds = 18 * 3600;

// Sanity limits of a surface air temperature; anything outside is a broken answer.
bool plausibleCelsius(double celsius);
std::optional<double> plausible(std::optional<double> celsius);
// An amount of precipitation in mm, and its probability in percent; nothing for nonsense.
std::optional<double> precipitationAmount(std::optional<double> mm);
std::optional<double> percentage(std::optional<double> percent);
// A wind speed in km/h (the strongest gusts measured stay below 410) and a direction in degrees.
std::optional<double> windSpeed(std::optional<double> kmh);
std::optional<double> windDirection(std::optional<double> degrees);

// The answer as a JSON object, or nothing with the reason in error.
std::optional<nlohmann::json> parseObject(std::string_view body, std::string &error);

} // namespace nimbara::server
