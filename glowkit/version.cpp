#include "glowkit/version.h"

namespace glowkit {

std::string version()
{
    return "0.2";
}

} // namespace glowkit
