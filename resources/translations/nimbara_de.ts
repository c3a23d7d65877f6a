<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Nimbara</name>
    <message>
        <source>TOUR_WINDOW_TITLE</source>
        <translation>Kurze Einführung</translation>
    </message>
    <message>
        <source>LOCK_BUTTON</source>
        <translation>Sperren</translation>
    </message>
    <message>
        <source>UNITS_BUTTON</source>
        <translation>°C / °F</translation>
    </message>
    <message>
        <source>DATE_BUTTON</source>
        <translation>Uhr</translation>
    </message>
    <message>
        <source>LOCATION_BUTTON</source>
        <translation>Ort</translation>
    </message>
    <message>
        <source>ALIGN_BUTTON</source>
        <translation>Ausrichtung</translation>
    </message>
    <message>
        <source>COLOR_BUTTON</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>UPDATING_WEATHER</source>
        <translation>WETTER WIRD GELADEN</translation>
    </message>
    <message>
        <source>PLEASE_WAIT</source>
        <translation>BITTE WARTEN</translation>
    </message>
    <message>
        <source>OUTDATED_VERSION</source>
        <translation>VERALTETE VERSION</translation>
    </message>
    <message>
        <source>PLEASE_UPDATE_APPLICATION</source>
        <translation>BITTE NIMBARA AKTUALISIEREN</translation>
    </message>
    <message>
        <source>BLACKLIST</source>
        <translation>DIENST VERWEIGERT</translation>
    </message>
    <message>
        <source>DATA_DOWNLOAD_ERROR</source>
        <translation>WETTER NICHT VERFÜGBAR</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_DISABLED</source>
        <translation>ORTUNGSDIENSTE AUS</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_ENABLE</source>
        <translation>RECHTSKLICK: ORT WÄHLEN</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_TITLE</source>
        <translation>ORTUNG NICHT ERLAUBT</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_SUBTITLE</source>
        <translation>ERLAUBEN SIE NIMBARA DEN ZUGRIFF AUF IHREN ORT</translation>
    </message>
    <message>
        <source>STEP_1</source>
        <translation>Nimbara liegt auf Ihrem Schreibtisch unter Ihren Fenstern und zeigt Uhrzeit, Wetter und Ort. Zeigen Sie darauf, um den Schloss-Knopf zu sehen. Ein Rechtsklick öffnet sein Menü: Unter Standort › Ort wählen… legen Sie den Ort mit seinem Namen fest.</translation>
    </message>
    <message>
        <source>STEP_2</source>
        <translation>Entsperren Sie das Widget, um es zu verschieben, zu vergrößern und Farbe, Einheit, Uhr, Ort und Ausrichtung zu wählen. Sperren Sie es wieder, damit es an seinem Platz bleibt.</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_1</source>
        <translation>Schritt 1 von 2</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_2</source>
        <translation>Schritt 2 von 2</translation>
    </message>
    <message>
        <source>SKIP_BUTTON</source>
        <translation>Überspringen</translation>
    </message>
    <message>
        <source>NEXT_BUTTON</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>FINISH_BUTTON</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>CLEAR</source>
        <translation>KLAR</translation>
    </message>
    <message>
        <source>PARTLY-CLOUDY</source>
        <translation>TEILWEISE BEWÖLKT</translation>
    </message>
    <message>
        <source>CLOUDY</source>
        <translation>BEWÖLKT</translation>
    </message>
    <message>
        <source>FOG</source>
        <translation>NEBEL</translation>
    </message>
    <message>
        <source>DRIZZLE</source>
        <translation>NIESELREGEN</translation>
    </message>
    <message>
        <source>FREEZING-RAIN</source>
        <translation>GEFRIERENDER REGEN</translation>
    </message>
    <message>
        <source>RAIN</source>
        <translation>REGEN</translation>
    </message>
    <message>
        <source>SHOWERS</source>
        <translation>SCHAUER</translation>
    </message>
    <message>
        <source>SNOW</source>
        <translation>SCHNEE</translation>
    </message>
    <message>
        <source>THUNDERSTORM</source>
        <translation>GEWITTER</translation>
    </message>
    <message>
        <source>FORECAST_MENU</source>
        <translation>Vorhersage</translation>
    </message>
    <message>
        <source>FORECAST_WINDOW_TITLE</source>
        <translation>Wettervorhersage</translation>
    </message>
    <message>
        <source>UPDATED_AT_FROM</source>
        <translation>Aktualisiert %1 · %2</translation>
    </message>
    <message>
        <source>UPDATED_AT</source>
        <translation>Aktualisiert %1</translation>
    </message>
    <message>
        <source>UPDATED_HOURS_AGO</source>
        <translation>Aktualisiert vor %1 Std.</translation>
    </message>
    <message>
        <source>TODAY_HIGH_LOW</source>
        <translation>Höchstwert %1 · Tiefstwert %2</translation>
    </message>
    <message>
        <source>SUNRISE_SUNSET</source>
        <translation>Sonnenaufgang %1 · Sonnenuntergang %2</translation>
    </message>
    <message>
        <source>FORECAST_NOT_AVAILABLE</source>
        <translation>Noch keine Vorhersage</translation>
    </message>
    <message>
        <source>FEELS_LIKE</source>
        <translation>Gefühlt %1</translation>
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
        <translation>Luftfeuchtigkeit %1 %</translation>
    </message>
    <message>
        <source>WIND_FROM_N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>WIND_FROM_NE</source>
        <translation>NO</translation>
    </message>
    <message>
        <source>WIND_FROM_E</source>
        <translation>O</translation>
    </message>
    <message>
        <source>WIND_FROM_SE</source>
        <translation>SO</translation>
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
        <translation>Heute</translation>
    </message>
    <message>
        <source>PRECIPITATION_MM</source>
        <translation>%1 mm</translation>
    </message>
    <message>
        <source>SERVICE_UNREACHABLE</source>
        <translation>Der Wetterdienst ist nicht erreichbar (seit %1)</translation>
    </message>
    <message>
        <source>ABOUT_MENU</source>
        <translation>Über Nimbara</translation>
    </message>
    <message>
        <source>FEEDBACK_MENU</source>
        <translation>Rückmeldung senden…</translation>
    </message>
    <message>
        <source>QUIT_MENU</source>
        <translation>Nimbara beenden</translation>
    </message>
    <message>
        <source>START_AT_LOGIN</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message>
        <source>FEEDBACK_WINDOW_TITLE</source>
        <translation>Rückmeldung</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_BUG</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_IDEA</source>
        <translation>Idee</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_QUESTION</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_OTHER</source>
        <translation>Sonstiges</translation>
    </message>
    <message>
        <source>FEEDBACK_NAME</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>FEEDBACK_EMAIL</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>FEEDBACK_MESSAGE</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>FEEDBACK_SEND</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>FEEDBACK_NOT_SENT</source>
        <translation>Ihre Nachricht konnte nicht gesendet werden. Bitte versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>FEEDBACK_BLANK</source>
        <translation>Ein Name oder eine Nachricht nur aus Leerzeichen kann nicht gesendet werden.</translation>
    </message>
    <message>
        <source>ABOUT_WINDOW_TITLE</source>
        <translation>Über Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_WEBSITE_BUTTON</source>
        <translation>Nimbara-Website</translation>
    </message>
    <message>
        <source>ABOUT_FORECAST_BUTTON</source>
        <translation>Wetterdaten: Open-Meteo</translation>
    </message>
    <message>
        <source>ABOUT_ATTRIBUTION</source>
        <translation>Wetterdaten von Open-Meteo.com (CC BY 4.0) und MET Norway (CC BY 4.0). Ortsnamen von GeoNames (CC BY 4.0). IP-Geolokalisierung von DB-IP (CC BY 4.0).</translation>
    </message>
    <message>
        <source>LOCATION_MENU</source>
        <translation>Standort</translation>
    </message>
    <message>
        <source>LOCATION_AUTOMATIC_MENU</source>
        <translation>Automatisch (Ortungsdienst)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_MENU</source>
        <translation>Ungefähr (Netzwerkadresse)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_UNKNOWN_MENU</source>
        <translation>Ungefähr (der Dienst kann es nicht sagen)</translation>
    </message>
    <message>
        <source>LOCATION_CUSTOM_MENU</source>
        <translation>Eigene Einstellung</translation>
    </message>
    <message>
        <source>LOCATION_CHOOSE_MENU</source>
        <translation>Ort wählen…</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_TITLE</source>
        <translation>Ort wählen</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_PLACEHOLDER</source>
        <translation>Name eines Ortes</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_NONE</source>
        <translation>Kein Ort dieses Namens.</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_FAILED</source>
        <translation>Der Wetterdienst ist nicht erreichbar. Bitte gleich noch einmal versuchen.</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_TITLE</source>
        <translation>STANDORT UNBEKANNT</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_SUBTITLE</source>
        <translation>ORT IM MENÜ WÄHLEN</translation>
    </message>
    <message>
        <source>WIDGET_ACCESSIBLE_NAME</source>
        <translation>Nimbara-Wetter</translation>
    </message>
    <message>
        <source>UPDATING_ACCESSIBLE_NAME</source>
        <translation>Das Wetter wird aktualisiert</translation>
    </message>
    <message>
        <source>UNLOCK_ACCESSIBLE_NAME</source>
        <translation>Widget entsperren</translation>
    </message>
    <message>
        <source>LOCK_ACCESSIBLE_NAME</source>
        <translation>Widget sperren</translation>
    </message>
    <message>
        <source>CHART_ACCESSIBLE_NAME</source>
        <translation>Vorhersage für die nächsten 24 Stunden</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RANGE</source>
        <translation>Von %1 bis %2: am kältesten %3 um %4, am wärmsten %5 um %6.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_DRY</source>
        <translation>Kein Niederschlag erwartet.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RAIN</source>
        <translation>Niederschlag ab %1, insgesamt %2 mm.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_CHANCE</source>
        <translation>Niederschlagswahrscheinlichkeit bis %1 %.</translation>
    </message>
    <message>
        <source>LINES_ACCESSIBLE_NAME</source>
        <translation>Uhrzeit, Wetter und Ort</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_CLEAR</source>
        <translation>Leeren</translation>
    </message>
</context>
</TS>
