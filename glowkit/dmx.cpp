#include "glowkit/dmx.h"

#include <ostream>

namespace Dmx {

std::ostream& operator<<(std::ostream& os, const Universe& universe)
{
    os << "Universe: ";
    for (size_t i = 0; i < universe.channels.size(); ++i)
        if (universe.channels[i] != 0)
            os << '@' << i + 1 << '=' << unsigned(universe.channels[i]) << ' ';
    return os;
}

} // namespace Dmx
