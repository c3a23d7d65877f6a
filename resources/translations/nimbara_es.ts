<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>Nimbara</name>
    <message>
        <source>TOUR_WINDOW_TITLE</source>
        <translation>Recorrido rápido</translation>
    </message>
    <message>
        <source>LOCK_BUTTON</source>
        <translation>Bloquear</translation>
    </message>
    <message>
        <source>UNITS_BUTTON</source>
        <translation>°C / °F</translation>
    </message>
    <message>
        <source>DATE_BUTTON</source>
        <translation>Reloj</translation>
    </message>
    <message>
        <source>LOCATION_BUTTON</source>
        <translation>Lugar</translation>
    </message>
    <message>
        <source>ALIGN_BUTTON</source>
        <translation>Alinear</translation>
    </message>
    <message>
        <source>COLOR_BUTTON</source>
        <translation>Color</translation>
    </message>
    <message>
        <source>UPDATING_WEATHER</source>
        <translation>ACTUALIZANDO EL TIEMPO</translation>
    </message>
    <message>
        <source>PLEASE_WAIT</source>
        <translation>ESPERE, POR FAVOR</translation>
    </message>
    <message>
        <source>OUTDATED_VERSION</source>
        <translation>VERSIÓN ANTIGUA</translation>
    </message>
    <message>
        <source>PLEASE_UPDATE_APPLICATION</source>
        <translation>ACTUALICE NIMBARA</translation>
    </message>
    <message>
        <source>BLACKLIST</source>
        <translation>SERVICIO DENEGADO</translation>
    </message>
    <message>
        <source>DATA_DOWNLOAD_ERROR</source>
        <translation>TIEMPO NO DISPONIBLE</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_DISABLED</source>
        <translation>UBICACIÓN DESACTIVADA</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_ENABLE</source>
        <translation>CLIC DERECHO PARA ELEGIR UN LUGAR</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_TITLE</source>
        <translation>UBICACIÓN NO PERMITIDA</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_SUBTITLE</source>
        <translation>PERMITA QUE NIMBARA USE SU UBICACIÓN</translation>
    </message>
    <message>
        <source>STEP_1</source>
        <translation>Nimbara se coloca en el escritorio, debajo de sus ventanas, y muestra la hora, el tiempo y el lugar. Pase el puntero por encima para ver el botón de bloqueo. Con un clic derecho se abre su menú: Ubicación › Elegir un lugar… fija el lugar por su nombre.</translation>
    </message>
    <message>
        <source>STEP_2</source>
        <translation>Desbloquee el widget para moverlo, cambiar su tamaño y elegir color, unidades, reloj, lugar y alineación. Vuelva a bloquearlo para dejarlo fijo.</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_1</source>
        <translation>Paso 1 de 2</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_2</source>
        <translation>Paso 2 de 2</translation>
    </message>
    <message>
        <source>SKIP_BUTTON</source>
        <translation>Omitir</translation>
    </message>
    <message>
        <source>NEXT_BUTTON</source>
        <translation>Siguiente</translation>
    </message>
    <message>
        <source>FINISH_BUTTON</source>
        <translation>Finalizar</translation>
    </message>
    <message>
        <source>CLEAR</source>
        <translation>DESPEJADO</translation>
    </message>
    <message>
        <source>PARTLY-CLOUDY</source>
        <translation>PARCIALMENTE NUBLADO</translation>
    </message>
    <message>
        <source>CLOUDY</source>
        <translation>NUBLADO</translation>
    </message>
    <message>
        <source>FOG</source>
        <translation>NIEBLA</translation>
    </message>
    <message>
        <source>DRIZZLE</source>
        <translation>LLOVIZNA</translation>
    </message>
    <message>
        <source>FREEZING-RAIN</source>
        <translation>LLUVIA HELADA</translation>
    </message>
    <message>
        <source>RAIN</source>
        <translation>LLUVIA</translation>
    </message>
    <message>
        <source>SHOWERS</source>
        <translation>CHUBASCOS</translation>
    </message>
    <message>
        <source>SNOW</source>
        <translation>NIEVE</translation>
    </message>
    <message>
        <source>THUNDERSTORM</source>
        <translation>TORMENTA</translation>
    </message>
    <message>
        <source>FORECAST_MENU</source>
        <translation>Pronóstico</translation>
    </message>
    <message>
        <source>FORECAST_WINDOW_TITLE</source>
        <translation>Pronóstico del tiempo</translation>
    </message>
    <message>
        <source>UPDATED_AT_FROM</source>
        <translation>Actualizado %1 · %2</translation>
    </message>
    <message>
        <source>UPDATED_AT</source>
        <translation>Actualizado %1</translation>
    </message>
    <message>
        <source>UPDATED_HOURS_AGO</source>
        <translation>Actualizado hace %1 h</translation>
    </message>
    <message>
        <source>TODAY_HIGH_LOW</source>
        <translation>Máx. %1 · Mín. %2</translation>
    </message>
    <message>
        <source>SUNRISE_SUNSET</source>
        <translation>Amanecer %1 · Atardecer %2</translation>
    </message>
    <message>
        <source>FORECAST_NOT_AVAILABLE</source>
        <translation>Aún no hay pronóstico</translation>
    </message>
    <message>
        <source>FEELS_LIKE</source>
        <translation>Sensación %1</translation>
    </message>
    <message>
        <source>WIND</source>
        <translation>Viento %1</translation>
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
        <translation>Humedad %1 %</translation>
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
        <translation>SO</translation>
    </message>
    <message>
        <source>WIND_FROM_W</source>
        <translation>O</translation>
    </message>
    <message>
        <source>WIND_FROM_NW</source>
        <translation>NO</translation>
    </message>
    <message>
        <source>WEEK_TODAY</source>
        <translation>Hoy</translation>
    </message>
    <message>
        <source>PRECIPITATION_MM</source>
        <translation>%1 mm</translation>
    </message>
    <message>
        <source>SERVICE_UNREACHABLE</source>
        <translation>No se puede contactar con el servicio meteorológico (desde las %1)</translation>
    </message>
    <message>
        <source>ABOUT_MENU</source>
        <translation>Acerca de Nimbara</translation>
    </message>
    <message>
        <source>FEEDBACK_MENU</source>
        <translation>Enviar comentarios…</translation>
    </message>
    <message>
        <source>QUIT_MENU</source>
        <translation>Salir de Nimbara</translation>
    </message>
    <message>
        <source>START_AT_LOGIN</source>
        <translation>Iniciar al entrar</translation>
    </message>
    <message>
        <source>FEEDBACK_WINDOW_TITLE</source>
        <translation>Comentarios</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_BUG</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_IDEA</source>
        <translation>Idea</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_QUESTION</source>
        <translation>Pregunta</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_OTHER</source>
        <translation>Otro</translation>
    </message>
    <message>
        <source>FEEDBACK_NAME</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>FEEDBACK_EMAIL</source>
        <translation>Correo electrónico</translation>
    </message>
    <message>
        <source>FEEDBACK_MESSAGE</source>
        <translation>Mensaje</translation>
    </message>
    <message>
        <source>FEEDBACK_SEND</source>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>FEEDBACK_NOT_SENT</source>
        <translation>No se pudo enviar su mensaje. Inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>FEEDBACK_BLANK</source>
        <translation>Un nombre o un mensaje hecho solo de espacios no se puede enviar.</translation>
    </message>
    <message>
        <source>ABOUT_WINDOW_TITLE</source>
        <translation>Acerca de Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_WEBSITE_BUTTON</source>
        <translation>Sitio web de Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_FORECAST_BUTTON</source>
        <translation>Datos meteorológicos: Open-Meteo</translation>
    </message>
    <message>
        <source>ABOUT_ATTRIBUTION</source>
        <translation>Datos meteorológicos de Open-Meteo.com (CC BY 4.0) y MET Norway (CC BY 4.0). Nombres de lugares de GeoNames (CC BY 4.0). Geolocalización IP de DB-IP (CC BY 4.0).</translation>
    </message>
    <message>
        <source>LOCATION_MENU</source>
        <translation>Ubicación</translation>
    </message>
    <message>
        <source>LOCATION_AUTOMATIC_MENU</source>
        <translation>Automática (servicio de ubicación)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_MENU</source>
        <translation>Aproximada (dirección de red)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_UNKNOWN_MENU</source>
        <translation>Aproximada (el servicio no puede saberlo)</translation>
    </message>
    <message>
        <source>LOCATION_CUSTOM_MENU</source>
        <translation>Personalizada</translation>
    </message>
    <message>
        <source>LOCATION_CHOOSE_MENU</source>
        <translation>Elegir un lugar…</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_TITLE</source>
        <translation>Elegir un lugar</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_PLACEHOLDER</source>
        <translation>Nombre de una ciudad</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_NONE</source>
        <translation>Ningún lugar con ese nombre.</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_FAILED</source>
        <translation>No se puede contactar con el servicio meteorológico. Inténtelo de nuevo en un momento.</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_TITLE</source>
        <translation>UBICACIÓN DESCONOCIDA</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_SUBTITLE</source>
        <translation>ELIJA UN LUGAR EN EL MENÚ</translation>
    </message>
    <message>
        <source>WIDGET_ACCESSIBLE_NAME</source>
        <translation>Tiempo de Nimbara</translation>
    </message>
    <message>
        <source>UPDATING_ACCESSIBLE_NAME</source>
        <translation>Actualizando el tiempo</translation>
    </message>
    <message>
        <source>UNLOCK_ACCESSIBLE_NAME</source>
        <translation>Desbloquear el widget</translation>
    </message>
    <message>
        <source>LOCK_ACCESSIBLE_NAME</source>
        <translation>Bloquear el widget</translation>
    </message>
    <message>
        <source>CHART_ACCESSIBLE_NAME</source>
        <translation>Previsión para las próximas 24 horas</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RANGE</source>
        <translation>De %1 a %2: mínima de %3 a las %4, máxima de %5 a las %6.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_DRY</source>
        <translation>No se esperan precipitaciones.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RAIN</source>
        <translation>Precipitaciones desde las %1, %2 mm en total.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_CHANCE</source>
        <translation>Probabilidad de precipitación de hasta el %1 %.</translation>
    </message>
    <message>
        <source>LINES_ACCESSIBLE_NAME</source>
        <translation>Hora, tiempo y lugar</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_CLEAR</source>
        <translation>Borrar</translation>
    </message>
</context>
</TS>
