#pragma once

#include "weather/Providers.h"

#include <string>

namespace nimbara::server {

// The forecast members of the gate's weather data as JSON text, each with a leading comma, to
// follow the three lines' members: "updated", "provider", "today", "sunrise", "sunset", "now", "daily",
// "hourly", each only where the reading has it. Written directly rather than built as a JSON tree, which
// would cost the cached gate many times the rest of its answer; made once per upstream answer.
std::string forecastJson(const Reading &reading);

// Whole degrees rounded half away from zero, so that the client's integer read and its cut toward
// zero agree.
long wholeDegrees(double value);
double fahrenheit(double celsius);

} // namespace nimbara::server
