#include "LocationSource.h"

namespace nimbara {

LocationSource::LocationSource(QObject *parent)
    : QObject(parent)
{}

LocationSource::~LocationSource() = default;

void LocationSource::setPurpose(const QString &purpose)
{
    m_purpose = purpose;
}

void LocationSource::recheckServices() {}

QString LocationSource::purpose() const
{
    return m_purpose;
}

} // namespace nimbara
