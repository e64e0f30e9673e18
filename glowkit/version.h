#pragma once

#include <string>

namespace glowkit {

// Version text of the library, "major.minor.patch".
std::string version();

} // namespace glowkit
