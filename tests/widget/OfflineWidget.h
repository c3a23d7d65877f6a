#pragma once

// The widget for programs that show it without a location service and without a network: it
// starts and keeps the texts it shows before any weather ("LOCATION SERVICES OFF" and its hint).

#include "FakeLocationSource.h"
#include "WXDesktopWindow.h"

#include <QRectF>

inline void startOffline(WXDesktopWindow &widget, const QRectF &frame)
{
    widget.makeLocationSource = [](QObject *parent) {
        return new FakeLocationSource(false, parent);
    };
    widget.isConnected = [] {
        return false;
    };
    widget.awakeFromNib();
    widget.setFrame(frame, true);
}
