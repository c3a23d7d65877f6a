#pragma once

#include "core/Reply.h"

namespace nimbara::server {

// The product page at GET /: what the service is, and the sources of its data with their licences.
Reply homePage();

} // namespace nimbara::server
