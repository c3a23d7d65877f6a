#pragma once

#include <QObject>
#include <QString>

namespace nimbara {

// The machine's location service as the widget sees it: whether positioning is available at all,
// start and stop of deliveries, and reports of positions and of the permission state. Tests put a
// fake in its place.
class LocationSource : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocationSource)

public:
    // Numbered as the widget numbers permission states.
    enum AuthorizationStatus : int { NotDetermined = 0, Restricted = 1, Denied = 2, Authorized = 3 };

    explicit LocationSource(QObject *parent = nullptr);
    ~LocationSource() override;

    // True when a positioning source exists and reports at least one positioning method.
    virtual bool locationServicesEnabled() const = 0;
    // Asks for the most precise position the source can give.
    virtual void setDesiredAccuracyBest() = 0;
    virtual void startUpdatingLocation() = 0;
    virtual void stopUpdatingLocation() = 0;
    // Forgets that the location service did not answer, so that locationServicesEnabled() asks it
    // again: it may have come since. Sources that always answer have nothing to forget.
    virtual void recheckServices();

    // The reason shown to the user with a permission request, where the platform shows one.
    void setPurpose(const QString &purpose);
    QString purpose() const;

signals:
    void positionUpdated(double latitude, double longitude);
    void authorizationChanged(int status);
    // The source asked and was told that nobody can say where the machine is (the service's guess
    // from the network address found nothing).
    void locationUnknown();
    // locationServicesEnabled() may answer differently now: the location service did not answer a
    // request, or it has come onto the bus.
    void servicesChanged();

private:
    QString m_purpose;
};

} // namespace nimbara
