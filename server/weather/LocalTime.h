#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

using Seconds = std::chrono::sys_seconds;

// The offset from UTC, in seconds, of the place at a position at an instant.
using ZoneOffsets = std::function<int(double latitude, double longitude, Seconds at)>;

// The offset of an IANA time zone ("Asia/Kolkata") at an instant, or nothing for an unknown zone.
std::optional<int> zoneOffset(std::string_view zone, Seconds at);
// Nautical time: whole hours from the longitude, what ships keep far from any coast.
int nauticalOffset(double longitude);

class Geocoder;
// The UTC offset at an instant of the place at a position, from its time zone; nautical time
// where no place is near or its zone is unknown.
int utcOffset(const Geocoder &geocoder, double latitude, double longitude, Seconds at);

// "2024-05-01T13:00", with optional seconds and an optional "Z", read as a civil time (no zone);
// nothing for any other text or an impossible date.
std::optional<Seconds> parseCivilTime(std::string_view text);
// "2024-05-01T13:00+05:30": the local civil time at an instant with its offset.
std::string localTimeText(Seconds at, int offsetSeconds);
// "06:12": the local time of day at an instant.
std::string localClockText(Seconds at, int offsetSeconds);
// Days since 1970-01-01 of the local date at an instant.
long localDay(Seconds at, int offsetSeconds);

struct SunTimes
{
    enum class Kind { risesAndSets, alwaysUp, alwaysDown };
    Kind kind = Kind::risesAndSets;
    Seconds sunrise{};
    Seconds sunset{};
};

// Sunrise and sunset (upper limb on the horizon, with refraction) on a day at a position, by the
// sunrise equation: good to about a minute outside the polar regions. day: days since 1970-01-01 of
// the local date.
SunTimes sunTimes(double latitude, double longitude, long day);

} // namespace nimbara::server
