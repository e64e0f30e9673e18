#include "glowkit/version.h"

namespace glowkit {

std::string version()
{
    return "1.0.0";
}

} // namespace glowkit
