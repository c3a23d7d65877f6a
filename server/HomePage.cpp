#include "HomePage.h"

namespace nimbara::server {

Reply homePage()
{
    static const std::string page = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Nimbara</title>
<style>
body { font-family: sans-serif; max-width: 40em; margin: 3em auto; padding: 0 1em; line-height: 1.5; color: #222; }
h1 { font-weight: 300; }
footer { margin-top: 3em; font-size: 0.9em; color: #555; }
</style>
</head>
<body>
<h1>Nimbara</h1>
<p>Nimbara is a desktop weather widget for Linux. It sits on your desktop below your windows and shows
the time, the current weather and the name of the place you are in.</p>
<p>This is <code>nimbara-weatherd</code>, Nimbara's weather service. The widget asks it for the weather at
its position; the service answers from its cache or from its weather providers, names the place from an
offline table of cities, and keeps the feedback that users send from the widget.</p>
<footer>
<h2>Data sources</h2>
<ul>
<li>Weather data by <a href="https://open-meteo.com/">Open-Meteo.com</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
<li>Weather data from <a href="https://www.met.no/">MET Norway</a>
(<a href="https://api.met.no/">api.met.no</a>), licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a> and the
<a href="https://data.norge.no/nlod/en/2.0">Norwegian Licence for Open Government Data (NLOD) 2.0</a>.</li>
<li>Place names from <a href="https://www.geonames.org/">GeoNames</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
<li><a href="https://db-ip.com/">IP Geolocation by DB-IP</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
</ul>
</footer>
</body>
</html>
)";
    return {200, page, "text/html; charset=utf-8"};
}

} // namespace nimbara::server
