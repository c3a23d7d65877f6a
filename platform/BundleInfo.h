#pragma once

#include <QString>

namespace nimbara {

// The application's bundle information: "CFBundleShortVersionString" is the project version,
// "CFBundleVersion" the build number. Both live on the application object, so that tests can
// set other values.
QString bundleValue(const QString &key);

// Puts the configured version and build number on the application object (main() calls it).
void initBundleInfo();

// The running executable's path, from which a relaunch starts the application again.
QString bundlePath();

} // namespace nimbara
