#pragma once

#include "LocationSource.h"

#include <QGeoCoordinate>

#include <optional>

// The location service replaced for widget tests: it reports what the test tells it and counts
// what the widget asks of it.
class FakeLocationSource : public nimbara::LocationSource
{
public:
    explicit FakeLocationSource(bool enabled = true, QObject *parent = nullptr)
        : LocationSource(parent)
        , enabled(enabled)
    {}

    bool locationServicesEnabled() const override { return enabled; }
    void setDesiredAccuracyBest() override { bestAccuracy = true; }
    void startUpdatingLocation() override
    {
        ++starts;
        updating = true;
        // Like a real source, it reports where the machine is as soon as it is started.
        if (position)
            deliver(position->latitude(), position->longitude());
    }
    void stopUpdatingLocation() override
    {
        ++stops;
        updating = false;
    }

    void deliver(double latitude, double longitude) { emit positionUpdated(latitude, longitude); }
    void report(int status) { emit authorizationChanged(status); }
    // The location service leaves the bus (or does not answer), or comes onto it.
    void switchServices(bool on)
    {
        enabled = on;
        emit servicesChanged();
    }

    bool enabled = true;
    bool bestAccuracy = false;
    bool updating = false;
    int starts = 0;
    int stops = 0;
    // Where the machine is; none: the fake reports only what deliver() is told.
    std::optional<QGeoCoordinate> position;
};
