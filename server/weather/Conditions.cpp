#include "weather/Conditions.h"

#include <array>
#include <utility>

namespace nimbara::server {

std::optional<std::string_view> conditionForWmoCode(int code)
{
    switch (code) {
    case 0:
    case 1: // mainly clear
        return "clear";
    case 2:
        return "partly-cloudy";
    case 3:
        return "cloudy";
    case 45:
    case 48:
        return "fog";
    case 51:
    case 53:
    case 55:
        return "drizzle";
    case 56:
    case 57: // freezing drizzle
    case 66:
    case 67:
        return "freezing-rain";
    case 61:
    case 63:
    case 65:
        return "rain";
    case 80:
    case 81:
    case 82:
        return "showers";
    case 71:
    case 73:
    case 75:
    case 77: // snow grains
    case 85:
    case 86: // snow showers
        return "snow";
    case 95:
    case 96:
    case 99:
        return "thunderstorm";
    default:
        return std::nullopt;
    }
}

std::optional<std::string_view> conditionForMetSymbol(std::string_view symbol)
{
    if (auto suffix = symbol.find('_'); suffix != std::string_view::npos)
        symbol = symbol.substr(0, suffix);
    if (symbol.find("thunder") != std::string_view::npos)
        return "thunderstorm";

    // Sleet (rain and snow mixed) has no name of its own in the widget; it reads as snow, as WMO's
    // snow showers do.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 23> table{{
        {"clearsky", "clear"},
        {"fair", "clear"},
        {"partlycloudy", "partly-cloudy"},
        {"cloudy", "cloudy"},
        {"fog", "fog"},
        {"lightrain", "rain"},
        {"rain", "rain"},
        {"heavyrain", "rain"},
        {"lightrainshowers", "showers"},
        {"rainshowers", "showers"},
        {"heavyrainshowers", "showers"},
        {"lightsleet", "snow"},
        {"sleet", "snow"},
        {"heavysleet", "snow"},
        {"lightsleetshowers", "snow"},
        {"sleetshowers", "snow"},
        {"heavysleetshowers", "snow"},
        {"lightsnow", "snow"},
        {"snow", "snow"},
        {"heavysnow", "snow"},
        {"lightsnowshowers", "snow"},
        {"snowshowers", "snow"},
        {"heavysnowshowers", "snow"},
    }};
    for (const auto &[code, name] : table) {
        if (code == symbol)
            return name;
    }
    return std::nullopt;
}

} // namespace nimbara::server
