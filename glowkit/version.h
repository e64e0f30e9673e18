#pragma once

#include <string>

namespace glowkit {

// Version of the library, "major.minor".
std::string version();

} // namespace glowkit
