<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Nimbara</name>
    <message>
        <source>TOUR_WINDOW_TITLE</source>
        <translation>Quick Tour</translation>
    </message>
    <message>
        <source>LOCK_BUTTON</source>
        <translation>Lock</translation>
    </message>
    <message>
        <source>UNITS_BUTTON</source>
        <translation>°C / °F</translation>
    </message>
    <message>
        <source>DATE_BUTTON</source>
        <translation>Clock</translation>
    </message>
    <message>
        <source>LOCATION_BUTTON</source>
        <translation>Place</translation>
    </message>
    <message>
        <source>ALIGN_BUTTON</source>
        <translation>Align</translation>
    </message>
    <message>
        <source>COLOR_BUTTON</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>UPDATING_WEATHER</source>
        <translation>UPDATING WEATHER</translation>
    </message>
    <message>
        <source>PLEASE_WAIT</source>
        <translation>PLEASE WAIT</translation>
    </message>
    <message>
        <source>OUTDATED_VERSION</source>
        <translation>OUTDATED VERSION</translation>
    </message>
    <message>
        <source>PLEASE_UPDATE_APPLICATION</source>
        <translation>PLEASE UPDATE NIMBARA</translation>
    </message>
    <message>
        <source>BLACKLIST</source>
        <translation>SERVICE REFUSED</translation>
    </message>
    <message>
        <source>DATA_DOWNLOAD_ERROR</source>
        <translation>WEATHER NOT AVAILABLE</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_DISABLED</source>
        <translation>LOCATION SERVICES OFF</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_ENABLE</source>
        <translation>RIGHT-CLICK TO CHOOSE A PLACE</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_TITLE</source>
        <translation>LOCATION NOT ALLOWED</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_SUBTITLE</source>
        <translation>ALLOW NIMBARA TO USE YOUR LOCATION</translation>
    </message>
    <message>
        <source>STEP_1</source>
        <translation>Nimbara sits on your desktop below your windows and shows the time, the weather and the place. Point at it to see the lock button. Right-click it for its menu: Location › Choose a place… sets the place by name.</translation>
    </message>
    <message>
        <source>STEP_2</source>
        <translation>Unlock the widget to move it, resize it and choose its colour, units, clock, place and alignment. Lock it again to keep it in place.</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_1</source>
        <translation>Step 1 of 2</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_2</source>
        <translation>Step 2 of 2</translation>
    </message>
    <message>
        <source>SKIP_BUTTON</source>
        <translation>Skip</translation>
    </message>
    <message>
        <source>NEXT_BUTTON</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>FINISH_BUTTON</source>
        <translation>Finish</translation>
    </message>
    <message>
        <source>CLEAR</source>
        <translation>CLEAR</translation>
    </message>
    <message>
        <source>PARTLY-CLOUDY</source>
        <translation>PARTLY CLOUDY</translation>
    </message>
    <message>
        <source>CLOUDY</source>
        <translation>CLOUDY</translation>
    </message>
    <message>
        <source>FOG</source>
        <translation>FOG</translation>
    </message>
    <message>
        <source>DRIZZLE</source>
        <translation>DRIZZLE</translation>
    </message>
    <message>
        <source>FREEZING-RAIN</source>
        <translation>FREEZING RAIN</translation>
    </message>
    <message>
        <source>RAIN</source>
        <translation>RAIN</translation>
    </message>
    <message>
        <source>SHOWERS</source>
        <translation>SHOWERS</translation>
    </message>
    <message>
        <source>SNOW</source>
        <translation>SNOW</translation>
    </message>
    <message>
        <source>THUNDERSTORM</source>
        <translation>THUNDERSTORM</translation>
    </message>
    <message>
        <source>FORECAST_MENU</source>
        <translation>Forecast</translation>
    </message>
    <message>
        <source>FORECAST_WINDOW_TITLE</source>
        <translation>Forecast</translation>
    </message>
    <message>
        <source>UPDATED_AT_FROM</source>
        <translation>Updated %1 · %2</translation>
    </message>
    <message>
        <source>UPDATED_AT</source>
        <translation>Updated %1</translation>
    </message>
    <message>
        <source>UPDATED_HOURS_AGO</source>
        <translation>Updated %1 h ago</translation>
    </message>
    <message>
        <source>TODAY_HIGH_LOW</source>
        <translation>High %1 · Low %2</translation>
    </message>
    <message>
        <source>SUNRISE_SUNSET</source>
        <translation>Sunrise %1 · Sunset %2</translation>
    </message>
    <message>
        <source>FORECAST_NOT_AVAILABLE</source>
        <translation>No forecast yet</translation>
    </message>
    <message>
        <source>FEELS_LIKE</source>
        <translation>Feels like %1</translation>
    </message>
    <message>
        <source>WIND</source>
        <translation>Wind %1</translation>
    </message>
    <message>
        <source>WIND_KMH</source>
        <translation>%1 km/h</translation>
    </message>
    <message>
        <source>WIND_MPH</source>
        <translation>%1 mph</translation>
    </message>
    <message>
        <source>WIND_MS</source>
        <translation>%1 m/s</translation>
    </message>
    <message>
        <source>HUMIDITY</source>
        <translation>Humidity %1 %</translation>
    </message>
    <message>
        <source>WIND_FROM_N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>WIND_FROM_NE</source>
        <translation>NE</translation>
    </message>
    <message>
        <source>WIND_FROM_E</source>
        <translation>E</translation>
    </message>
    <message>
        <source>WIND_FROM_SE</source>
        <translation>SE</translation>
    </message>
    <message>
        <source>WIND_FROM_S</source>
        <translation>S</translation>
    </message>
    <message>
        <source>WIND_FROM_SW</source>
        <translation>SW</translation>
    </message>
    <message>
        <source>WIND_FROM_W</source>
        <translation>W</translation>
    </message>
    <message>
        <source>WIND_FROM_NW</source>
        <translation>NW</translation>
    </message>
    <message>
        <source>WEEK_TODAY</source>
        <translation>Today</translation>
    </message>
    <message>
        <source>PRECIPITATION_MM</source>
        <translation>%1 mm</translation>
    </message>
    <message>
        <source>SERVICE_UNREACHABLE</source>
        <translation>The weather service cannot be reached (since %1)</translation>
    </message>
    <message>
        <source>ABOUT_MENU</source>
        <translation>About Nimbara</translation>
    </message>
    <message>
        <source>FEEDBACK_MENU</source>
        <translation>Send Feedback…</translation>
    </message>
    <message>
        <source>QUIT_MENU</source>
        <translation>Quit Nimbara</translation>
    </message>
    <message>
        <source>START_AT_LOGIN</source>
        <translation>Start at Login</translation>
    </message>
    <message>
        <source>FEEDBACK_WINDOW_TITLE</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_BUG</source>
        <translation>Bug</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_IDEA</source>
        <translation>Idea</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_QUESTION</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_OTHER</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>FEEDBACK_NAME</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>FEEDBACK_EMAIL</source>
        <translation>E-mail</translation>
    </message>
    <message>
        <source>FEEDBACK_MESSAGE</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>FEEDBACK_SEND</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>FEEDBACK_NOT_SENT</source>
        <translation>Your message could not be sent. Please try again.</translation>
    </message>
    <message>
        <source>FEEDBACK_BLANK</source>
        <translation>A name or message of spaces alone cannot be sent.</translation>
    </message>
    <message>
        <source>ABOUT_WINDOW_TITLE</source>
        <translation>About Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_WEBSITE_BUTTON</source>
        <translation>Nimbara website</translation>
    </message>
    <message>
        <source>ABOUT_FORECAST_BUTTON</source>
        <translation>Weather data: Open-Meteo</translation>
    </message>
    <message>
        <source>ABOUT_ATTRIBUTION</source>
        <translation>Weather data by Open-Meteo.com (CC BY 4.0) and MET Norway (CC BY 4.0). Place names from GeoNames (CC BY 4.0). IP geolocation by DB-IP (CC BY 4.0).</translation>
    </message>
    <message>
        <source>LOCATION_MENU</source>
        <translation>Location</translation>
    </message>
    <message>
        <source>LOCATION_AUTOMATIC_MENU</source>
        <translation>Automatic (location service)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_MENU</source>
        <translation>Approximate (network address)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_UNKNOWN_MENU</source>
        <translation>Approximate (the service cannot tell)</translation>
    </message>
    <message>
        <source>LOCATION_CUSTOM_MENU</source>
        <translation>Custom</translation>
    </message>
    <message>
        <source>LOCATION_CHOOSE_MENU</source>
        <translation>Choose a place…</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_TITLE</source>
        <translation>Choose a place</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_PLACEHOLDER</source>
        <translation>Name of a town</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_NONE</source>
        <translation>No place of that name.</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_FAILED</source>
        <translation>The weather service cannot be reached. Try again in a moment.</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_TITLE</source>
        <translation>LOCATION UNKNOWN</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_SUBTITLE</source>
        <translation>CHOOSE A PLACE IN THE MENU</translation>
    </message>
    <message>
        <source>WIDGET_ACCESSIBLE_NAME</source>
        <translation>Nimbara weather</translation>
    </message>
    <message>
        <source>UPDATING_ACCESSIBLE_NAME</source>
        <translation>Updating the weather</translation>
    </message>
    <message>
        <source>UNLOCK_ACCESSIBLE_NAME</source>
        <translation>Unlock the widget</translation>
    </message>
    <message>
        <source>LOCK_ACCESSIBLE_NAME</source>
        <translation>Lock the widget</translation>
    </message>
    <message>
        <source>CHART_ACCESSIBLE_NAME</source>
        <translation>Forecast for the next 24 hours</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RANGE</source>
        <translation>From %1 to %2: lowest %3 at %4, highest %5 at %6.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_DRY</source>
        <translation>No precipitation expected.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RAIN</source>
        <translation>Precipitation from %1, %2 mm in all.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_CHANCE</source>
        <translation>Chance of precipitation up to %1%.</translation>
    </message>
    <message>
        <source>LINES_ACCESSIBLE_NAME</source>
        <translation>Time, weather and place</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_CLEAR</source>
        <translation>Clear</translation>
    </message>
</context>
</TS>
