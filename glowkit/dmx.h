#pragma once

// A DMX512 universe: one value per channel, channels counted from 1.

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace Dmx {

struct Universe {
    std::vector<uint8_t> channels;
};

// "Universe: " and "@<channel>=<value> " for every channel that is not 0,
// without a newline.
std::ostream& operator<<(std::ostream& os, const Universe& universe);

} // namespace Dmx
