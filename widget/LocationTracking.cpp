#include "WXDesktopWindow.h"

nimbara::LocationSource *WXDesktopWindow::makeLocationManager()
{
    return nullptr;
}

void WXDesktopWindow::updateLocation() {}

void WXDesktopWindow::locationManagerDidUpdateToLocation(nimbara::LocationSource * /*manager*/,
                                                         const QGeoCoordinate & /*newLocation*/,
                                                         const QGeoCoordinate & /*oldLocation*/)
{}

void WXDesktopWindow::locationManagerDidChangeAuthorizationStatus(nimbara::LocationSource * /*manager*/,
                                                                  qint32 /*status*/)
{}
