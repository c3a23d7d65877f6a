#pragma once

#include "feedback/Feedback.h"
#include "http/HttpServer.h"
#include "weather/Gate.h"

namespace nimbara::server {

// The service's routes, every one in this one place, with its error envelopes and its access log
// (a line per request when accessLog is true).
void addRoutes(HttpServer &server, Gate &gate, FeedbackService &feedback, bool accessLog = true);

class PlacesService;

// The place routes of the widget's Location menu: GET /api/0.5/places (search by name) and GET
// /api/0.5/locate (the place of the client's address).
void addPlaceRoutes(HttpServer &server, const PlacesService &places);

} // namespace nimbara::server
