<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>Nimbara</name>
    <message>
        <source>TOUR_WINDOW_TITLE</source>
        <translation>Краткий обзор</translation>
    </message>
    <message>
        <source>LOCK_BUTTON</source>
        <translation>Закрепить</translation>
    </message>
    <message>
        <source>UNITS_BUTTON</source>
        <translation>°C / °F</translation>
    </message>
    <message>
        <source>DATE_BUTTON</source>
        <translation>Часы</translation>
    </message>
    <message>
        <source>LOCATION_BUTTON</source>
        <translation>Место</translation>
    </message>
    <message>
        <source>ALIGN_BUTTON</source>
        <translation>Выравнивание</translation>
    </message>
    <message>
        <source>COLOR_BUTTON</source>
        <translation>Цвет</translation>
    </message>
    <message>
        <source>UPDATING_WEATHER</source>
        <translation>ОБНОВЛЕНИЕ ПОГОДЫ</translation>
    </message>
    <message>
        <source>PLEASE_WAIT</source>
        <translation>ПОДОЖДИТЕ</translation>
    </message>
    <message>
        <source>OUTDATED_VERSION</source>
        <translation>УСТАРЕВШАЯ ВЕРСИЯ</translation>
    </message>
    <message>
        <source>PLEASE_UPDATE_APPLICATION</source>
        <translation>ОБНОВИТЕ NIMBARA</translation>
    </message>
    <message>
        <source>BLACKLIST</source>
        <translation>СЕРВИС ОТКАЗАЛ</translation>
    </message>
    <message>
        <source>DATA_DOWNLOAD_ERROR</source>
        <translation>ПОГОДА НЕДОСТУПНА</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_DISABLED</source>
        <translation>ГЕОЛОКАЦИЯ ВЫКЛЮЧЕНА</translation>
    </message>
    <message>
        <source>LOCATION_SERVICES_ENABLE</source>
        <translation>ПРАВЫЙ ЩЕЛЧОК — ВЫБОР МЕСТА</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_TITLE</source>
        <translation>ДОСТУП К МЕСТУ ЗАПРЕЩЁН</translation>
    </message>
    <message>
        <source>LOCATION_DENIED_SUBTITLE</source>
        <translation>РАЗРЕШИТЕ NIMBARA ОПРЕДЕЛЯТЬ МЕСТО</translation>
    </message>
    <message>
        <source>STEP_1</source>
        <translation>Nimbara располагается на рабочем столе под окнами и показывает время, погоду и место. Наведите на него указатель, чтобы увидеть кнопку замка. Щелчок правой кнопкой открывает его меню: Местоположение › Выбрать место… задаёт место по названию.</translation>
    </message>
    <message>
        <source>STEP_2</source>
        <translation>Разблокируйте виджет, чтобы переместить его, изменить размер и выбрать цвет, единицы, часы, место и выравнивание. Заблокируйте снова, чтобы закрепить.</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_1</source>
        <translation>Шаг 1 из 2</translation>
    </message>
    <message>
        <source>PROGRESS_STEP_2</source>
        <translation>Шаг 2 из 2</translation>
    </message>
    <message>
        <source>SKIP_BUTTON</source>
        <translation>Пропустить</translation>
    </message>
    <message>
        <source>NEXT_BUTTON</source>
        <translation>Далее</translation>
    </message>
    <message>
        <source>FINISH_BUTTON</source>
        <translation>Готово</translation>
    </message>
    <message>
        <source>CLEAR</source>
        <translation>ЯСНО</translation>
    </message>
    <message>
        <source>PARTLY-CLOUDY</source>
        <translation>ПЕРЕМЕННАЯ ОБЛАЧНОСТЬ</translation>
    </message>
    <message>
        <source>CLOUDY</source>
        <translation>ОБЛАЧНО</translation>
    </message>
    <message>
        <source>FOG</source>
        <translation>ТУМАН</translation>
    </message>
    <message>
        <source>DRIZZLE</source>
        <translation>МОРОСЬ</translation>
    </message>
    <message>
        <source>FREEZING-RAIN</source>
        <translation>ЛЕДЯНОЙ ДОЖДЬ</translation>
    </message>
    <message>
        <source>RAIN</source>
        <translation>ДОЖДЬ</translation>
    </message>
    <message>
        <source>SHOWERS</source>
        <translation>ЛИВНИ</translation>
    </message>
    <message>
        <source>SNOW</source>
        <translation>СНЕГ</translation>
    </message>
    <message>
        <source>THUNDERSTORM</source>
        <translation>ГРОЗА</translation>
    </message>
    <message>
        <source>FORECAST_MENU</source>
        <translation>Прогноз</translation>
    </message>
    <message>
        <source>FORECAST_WINDOW_TITLE</source>
        <translation>Прогноз погоды</translation>
    </message>
    <message>
        <source>UPDATED_AT_FROM</source>
        <translation>Обновлено %1 · %2</translation>
    </message>
    <message>
        <source>UPDATED_AT</source>
        <translation>Обновлено %1</translation>
    </message>
    <message>
        <source>UPDATED_HOURS_AGO</source>
        <translation>Обновлено %1 ч назад</translation>
    </message>
    <message>
        <source>TODAY_HIGH_LOW</source>
        <translation>Макс. %1 · Мин. %2</translation>
    </message>
    <message>
        <source>SUNRISE_SUNSET</source>
        <translation>Восход %1 · Закат %2</translation>
    </message>
    <message>
        <source>FORECAST_NOT_AVAILABLE</source>
        <translation>Прогноза пока нет</translation>
    </message>
    <message>
        <source>FEELS_LIKE</source>
        <translation>Ощущается как %1</translation>
    </message>
    <message>
        <source>WIND</source>
        <translation>Ветер %1</translation>
    </message>
    <message>
        <source>WIND_KMH</source>
        <translation>%1 км/ч</translation>
    </message>
    <message>
        <source>WIND_MPH</source>
        <translation>%1 миль/ч</translation>
    </message>
    <message>
        <source>WIND_MS</source>
        <translation>%1 м/с</translation>
    </message>
    <message>
        <source>HUMIDITY</source>
        <translation>Влажность %1 %</translation>
    </message>
    <message>
        <source>WIND_FROM_N</source>
        <translation>С</translation>
    </message>
    <message>
        <source>WIND_FROM_NE</source>
        <translation>СВ</translation>
    </message>
    <message>
        <source>WIND_FROM_E</source>
        <translation>В</translation>
    </message>
    <message>
        <source>WIND_FROM_SE</source>
        <translation>ЮВ</translation>
    </message>
    <message>
        <source>WIND_FROM_S</source>
        <translation>Ю</translation>
    </message>
    <message>
        <source>WIND_FROM_SW</source>
        <translation>ЮЗ</translation>
    </message>
    <message>
        <source>WIND_FROM_W</source>
        <translation>З</translation>
    </message>
    <message>
        <source>WIND_FROM_NW</source>
        <translation>СЗ</translation>
    </message>
    <message>
        <source>WEEK_TODAY</source>
        <translation>Сегодня</translation>
    </message>
    <message>
        <source>PRECIPITATION_MM</source>
        <translation>%1 мм</translation>
    </message>
    <message>
        <source>SERVICE_UNREACHABLE</source>
        <translation>Сервис погоды недоступен (с %1)</translation>
    </message>
    <message>
        <source>ABOUT_MENU</source>
        <translation>О программе Nimbara</translation>
    </message>
    <message>
        <source>FEEDBACK_MENU</source>
        <translation>Отправить отзыв…</translation>
    </message>
    <message>
        <source>QUIT_MENU</source>
        <translation>Выйти из Nimbara</translation>
    </message>
    <message>
        <source>START_AT_LOGIN</source>
        <translation>Запускать при входе</translation>
    </message>
    <message>
        <source>FEEDBACK_WINDOW_TITLE</source>
        <translation>Отзыв</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_BUG</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_IDEA</source>
        <translation>Идея</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_QUESTION</source>
        <translation>Вопрос</translation>
    </message>
    <message>
        <source>FEEDBACK_TYPE_OTHER</source>
        <translation>Другое</translation>
    </message>
    <message>
        <source>FEEDBACK_NAME</source>
        <translation>Имя</translation>
    </message>
    <message>
        <source>FEEDBACK_EMAIL</source>
        <translation>Эл. почта</translation>
    </message>
    <message>
        <source>FEEDBACK_MESSAGE</source>
        <translation>Сообщение</translation>
    </message>
    <message>
        <source>FEEDBACK_SEND</source>
        <translation>Отправить</translation>
    </message>
    <message>
        <source>FEEDBACK_NOT_SENT</source>
        <translation>Не удалось отправить сообщение. Попробуйте ещё раз.</translation>
    </message>
    <message>
        <source>FEEDBACK_BLANK</source>
        <translation>Имя или сообщение из одних пробелов отправить нельзя.</translation>
    </message>
    <message>
        <source>ABOUT_WINDOW_TITLE</source>
        <translation>О программе Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_WEBSITE_BUTTON</source>
        <translation>Сайт Nimbara</translation>
    </message>
    <message>
        <source>ABOUT_FORECAST_BUTTON</source>
        <translation>Данные о погоде: Open-Meteo</translation>
    </message>
    <message>
        <source>ABOUT_ATTRIBUTION</source>
        <translation>Данные о погоде: Open-Meteo.com (CC BY 4.0) и MET Norway (CC BY 4.0). Названия мест: GeoNames (CC BY 4.0). Геолокация по IP: DB-IP (CC BY 4.0).</translation>
    </message>
    <message>
        <source>LOCATION_MENU</source>
        <translation>Местоположение</translation>
    </message>
    <message>
        <source>LOCATION_AUTOMATIC_MENU</source>
        <translation>Автоматически (служба геолокации)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_MENU</source>
        <translation>Приблизительно (по сетевому адресу)</translation>
    </message>
    <message>
        <source>LOCATION_APPROXIMATE_UNKNOWN_MENU</source>
        <translation>Приблизительно (служба не может определить)</translation>
    </message>
    <message>
        <source>LOCATION_CUSTOM_MENU</source>
        <translation>Своя настройка</translation>
    </message>
    <message>
        <source>LOCATION_CHOOSE_MENU</source>
        <translation>Выбрать место…</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_TITLE</source>
        <translation>Выбор места</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_PLACEHOLDER</source>
        <translation>Название города</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_NONE</source>
        <translation>Мест с таким названием нет.</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_FAILED</source>
        <translation>Метеослужба недоступна. Попробуйте ещё раз чуть позже.</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_TITLE</source>
        <translation>МЕСТОПОЛОЖЕНИЕ НЕИЗВЕСТНО</translation>
    </message>
    <message>
        <source>LOCATION_UNKNOWN_SUBTITLE</source>
        <translation>ВЫБЕРИТЕ МЕСТО В МЕНЮ</translation>
    </message>
    <message>
        <source>WIDGET_ACCESSIBLE_NAME</source>
        <translation>Погода Nimbara</translation>
    </message>
    <message>
        <source>UPDATING_ACCESSIBLE_NAME</source>
        <translation>Обновление погоды</translation>
    </message>
    <message>
        <source>UNLOCK_ACCESSIBLE_NAME</source>
        <translation>Разблокировать виджет</translation>
    </message>
    <message>
        <source>LOCK_ACCESSIBLE_NAME</source>
        <translation>Заблокировать виджет</translation>
    </message>
    <message>
        <source>CHART_ACCESSIBLE_NAME</source>
        <translation>Прогноз на ближайшие 24 часа</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RANGE</source>
        <translation>С %1 до %2: минимум %3 в %4, максимум %5 в %6.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_DRY</source>
        <translation>Осадков не ожидается.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_RAIN</source>
        <translation>Осадки с %1, всего %2 мм.</translation>
    </message>
    <message>
        <source>CHART_DESCRIPTION_CHANCE</source>
        <translation>Вероятность осадков до %1%.</translation>
    </message>
    <message>
        <source>LINES_ACCESSIBLE_NAME</source>
        <translation>Время, погода и место</translation>
    </message>
    <message>
        <source>CHOOSE_PLACE_CLEAR</source>
        <translation>Очистить</translation>
    </message>
</context>
</TS>
