#pragma once

#include "WeatherService.h"
#include "http/HttpServer.h"

namespace nimbara::server {

// The service's routes, every one in this one place, with its error envelopes and its access log
// (a line per request when accessLog is true).
void addRoutes(HttpServer &server, WeatherService &service, bool accessLog = true);

} // namespace nimbara::server
