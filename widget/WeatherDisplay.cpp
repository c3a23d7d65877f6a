#include "WXDesktopWindow.h"

void WXDesktopWindow::getWeather(const std::optional<QGeoCoordinate> & /*location*/) {}

void WXDesktopWindow::didPressReloadButton(QObject * /*sender*/) {}
