#pragma once

#include <QString>

namespace Version {

// "Ostrel"
QString title();
// "1.0.0": major, minor and revision from the build.
QString number();
// The window caption: title, a blank, the version.
QString caption();

} // namespace Version
