// What an upstream provider answers, read by each provider's reader. A reading that parses must
// also turn into the gate's forecast members and come back from the cache's JSON form.
#include "weather/ForecastJson.h"
#include "weather/Providers.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

void exercise(const nimbara::server::Reading &reading)
{
    (void)nimbara::server::forecastJson(reading);
    const nlohmann::json json = reading;
    (void)json.get<nimbara::server::Reading>();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    using namespace nimbara::server;
    const std::string_view body(reinterpret_cast<const char *>(data), size);
    static const auto offsets = MetNorwayProvider::nauticalOffsets();
    std::string error;
    if (auto reading = OpenMeteoProvider::parse(body, error))
        exercise(*reading);
    if (auto reading = MetNorwayProvider::parse(body, 51.5074, -0.1278, offsets, error))
        exercise(*reading);
    return 0;
}
