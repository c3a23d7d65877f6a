<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>Nimbara</name>
    <message>
        <source>TOUR_WINDOW_TITLE</source>
        <translation>Visite guidée</translation>
    </message>
    <message>
        <source>LOCK_BUTTON</source>
        <translation>Verrouiller</translation>
    </message>
    <message>
        <source>UNITS_BUTTON</source>
        <translation>°C / °F</translation>
    </message>
    <message>
        <source>DATE_BUTTON</source>
        <translation>Horloge</translation>
    </message>
    <message>
        <source>LOCATION_BUTTON</source>
        <translation>Lieu</translation>
    </message>
    <message>
        <source>ALIGN_BUTTON</source>
        <translation>Alignement</translation>
    </message>
    <message>
        <source>COLOR_BUTTON</source>
        <translation>Couleur</translation>
    </message>
    <message>
        <source>UPDATING_WEATHER</source>
        <translation>MISE À JOUR DE LA MÉTÉO</translation>
    </message>
    <message>
        <source>PLEASE_WAIT</source>
        <translation>VEUILLEZ PATIENTER</translation>
    </message>
    <message>
        <source>OUTDATED_VERSION</source>
        <translation>VERSION OBSOLÈTE</translation>
    </message>
    <message>
        <source>PLEASE_UPDATE_APPLICATION</source>
        <translation>VEUILLEZ METTRE NIMBARA À JOUR</translation>
    </message>
    <message>
        <source>BLACKLIST</source>
        <translation>SERVICE REFUSÉ</translation>
    </message>
    <message>
        <source>DATA_DOWNLOAD_ERROR</source>
        <translation>MÉTÉO INDISPONIBLE</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_DISABLED</source>
        <translation>LOCALISATION DÉSACTIVÉE</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_ENABLE</source>
        <translation>CLIC DROIT POUR CHOISIR UN LIEU</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_TITLE</source>
        <translation>LOCALISATION REFUSÉE</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_SUBTITLE</source>
        <translation>AUTORISEZ NIMBARA À UTILISER VOTRE POSITION</translation>
    </message>
    <message>
        <source>STEP_1</source>
        <translation>Nimbara se place sur votre bureau, sous vos fenêtres, et affiche l’heure, la météo et le lieu. Survolez-le pour voir le bouton de verrouillage. Un clic droit ouvre son menu : Position › Choisir un lieu… fixe le lieu par son nom.</translation>
    </message>
    <message>
        <source>STEP_2</source>
        <translation>Déverrouillez le widget pour le déplacer, le redimensionner et choisir sa couleur, ses unités, l’horloge, le lieu et l’alignement. Verrouillez-le pour le garder en place.</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_1</source>
        <translation>Étape 1 sur 2</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_2</source>
        <translation>Étape 2 sur 2</translation>
    </message>
    <message>
        <source>SKIP_BUTTON</source>
        <translation>Passer</translation>
    </message>
    <message>
        <source>NEXT_BUTTON</source>
        <translation>Suivant</translation>
    </message>
    <message>
        <source>FINISH_BUTTON</source>
        <translation>Terminer</translation>
    </message>
    <message>
        <source>CLEAR</source>
        <translation>DÉGAGÉ</translation>
    </message>
    <message>
        <source>PARTLY-CLOUDY</source>
        <translation>PARTIELLEMENT NUAGEUX</translation>
    </message>
    <message>
        <source>CLOUDY</source>
        <translation>NUAGEUX</translation>
    </message>
    <message>
        <source>FOG</source>
        <translation>BROUILLARD</translation>
    </message>
    <message>
        <source>DRIZZLE</source>
        <translation>BRUINE</translation>
    </message>
    <message>
        <source>FREEZING-RAIN</source>
        <translation>PLUIE VERGLAÇANTE</translation>
    </message>
    <message>
        <source>RAIN</source>
        <translation>PLUIE</translation>
    </message>
    <message>
        <source>SHOWERS</source>
        <translation>AVERSES</translation>
    </message>
    <message>
        <source>SNOW</source>
        <translation>NEIGE</translation>
    </message>
    <message>
        <source>THUNDERSTORM</source>
        <translation>ORAGE</translation>
    </message>
    <message>
        <source>FORECAST_MENU</source>
        <translation>Prévisions</translation>
    </message>
    <message>
        <source>FORECAST_WINDOW_TITLE</source>
        <translation>Prévisions météo</translation>
    </message>
    <message>
        <source>UPDATED_AT_FROM</source>
        <translation>Mis à jour %1 · %2</translation>
    </message>
    <message>
        <source>UPDATED_AT</source>
        <translation>Mis à jour %1</translation>
    </message>
    <message>
        <source>UPDATED_HOURS_AGO</source>
        <translation>Mis à jour il y a %1 h</translation>
    </message>
    <message>
        <source>TODAY_HIGH_LOW</source>
        <translation>Max. %1 · Min. %2</translation>
    </message>
    <message>
        <source>SUNRISE_SUNSET</source>
        <translation>Lever %1 · Coucher %2</translation>
    </message>
    <message>
        <source>FORECAST_NOT_AVAILABLE</source>
        <translation>Pas encore de prévisions</translation>
    </message>
    <message>
        <source>FEELS_LIKE</source>
        <translation>Ressenti %1</translation>
    </message>
    <message>
        <source>WIND</source>
        <translation>Vent %1</translation>
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
        <translation>Humidité %1 %</translation>
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
        <translation>Auj.</translation>
    </message>
    <message>
        <source>PRECIPITATION_MM</source>
        <translation>%1 mm</translation>
    </message>
    <message>
        <source>SERVICE_UNREACHABLE</source>
        <translation>Le service météo est injoignable (depuis %1)</translation>
    </message>
    <message>
        <source>ABOUT_MENU</source>
        <translation>À propos de Nimbara</translation>
    </message>
    <message>
        <source>FEEDBACK_MENU</source>
        <translation>Envoyer un avis…</translation>
    </message>
    <message>
        <source>QUIT_MENU</source>
        <translation>Quitter Nimbara</translation>
    </message>
    <message>
        <source>START_AT_LOGIN</source>
        <translation>Lancer à l’ouverture de session</translation>
    </message>
    <message>
        <source>FEEDBACK_WINDOW_TITLE</source>
        <translation>Avis</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_BUG</source>
        <translation>Bogue</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_IDEA</source>
        <translation>Idée</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_QUESTION</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_OTHER</source>
        <translation>Autre</translation>
    </message>
    <message>
        <source>FEEDBACK_NAME</source>
        <translation>Nom</translation>
    </message>
    <message>
        <source>FEEDBACK_EMAIL</source>
        <translation>Courriel</translation>
    </message>
    <message>
        <source>FEEDBACK_MESSAGE</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>FEEDBACK_SEND</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>FEEDBACK_NOT_SENT</source>
        <translation>Votre message n’a pas pu être envoyé. Veuillez réessayer.</translation>
    </message>
    <message>
        <source>FEEDBACK_BLANK</source>
        <translation>Un nom ou un message fait uniquement d’espaces ne peut pas être envoyé.</translation>
    </message>
    <message>
        <source>ABOUT_WINDOW_TITLE</source>
        <translation>À propos de Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_WEBSITE_BUTTON</source>
        <translation>Site de Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_FORECAST_BUTTON</source>
        <translation>Données météo : Open-Meteo</translation>
    </message>
    <message>
        <source>ABOUT_ATTRIBUTION</source>
        <translation>Données météo d’Open-Meteo.com (CC BY 4.0) et de MET Norway (CC BY 4.0). Noms de lieux de GeoNames (CC BY 4.0). Géolocalisation IP de DB-IP (CC BY 4.0).</translation>
    </message>
    <message>
        <source>LOCATION_MENU</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>LOCATION_AUTOMATIC_MENU</source>
        <translation>Automatique (service de localisation)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_MENU</source>
        <translation>Approximative (adresse réseau)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_UNKNOWN_MENU</source>
        <translation>Approximative (le service ne peut pas le dire)</translation>
    </message>
    <message>
        <source>LOCATION_CUSTOM_MENU</source>
        <translation>Personnalisée</translation>
    </message>
    <message>
        <source>LOCATION_CHOOSE_MENU</source>
        <translation>Choisir un lieu…</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_TITLE</source>
        <translation>Choisir un lieu</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_PLACEHOLDER</source>
        <translation>Nom d’une ville</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_NONE</source>
        <translation>Aucun lieu de ce nom.</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_FAILED</source>
        <translation>Le service météo est injoignable. Réessayez dans un instant.</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_TITLE</source>
        <translation>POSITION INCONNUE</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_SUBTITLE</source>
        <translation>CHOISISSEZ UN LIEU DANS LE MENU</translation>
    </message>
    <message>
        <source>WIDGET_ACCESSIBLE_NAME</source>
        <translation>Météo Nimbara</translation>
    </message>
    <message>
        <source>UPDATING_ACCESSIBLE_NAME</source>
        <translation>Mise à jour de la météo</translation>
    </message>
    <message>
        <source>UNLOCK_ACCESSIBLE_NAME</source>
        <translation>Déverrouiller le widget</translation>
    </message>
    <message>
        <source>LOCK_ACCESSIBLE_NAME</source>
        <translation>Verrouiller le widget</translation>
    </message>
    <message>
        <source>CHART_ACCESSIBLE_NAME</source>
        <translation>Prévisions des prochaines 24 heures</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RANGE</source>
        <translation>De %1 à %2 : minimum %3 à %4, maximum %5 à %6.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_DRY</source>
        <translation>Aucune précipitation prévue.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RAIN</source>
        <translation>Précipitations à partir de %1, %2 mm au total.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_CHANCE</source>
        <translation>Probabilité de précipitations jusqu’à %1 %.</translation>
    </message>
    <message>
        <source>LINES_ACCESSIBLE_NAME</source>
        <translation>Heure, météo et lieu</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_CLEAR</source>
        <translation>Effacer</translation>
    </message>
</context>
</TS>
