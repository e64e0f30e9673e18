// libFuzzer target: arbitrary bytes as a XinRui measurement table. A table
// that reads is written and read again; its grid must keep its shape. The
// grid is bounded by the lines of the input, so no input of the target's size
// cap can ask for a large one.

#include "glowkit/xinrui.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const XinRui_Raw::Handler handler;
    std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
    const Cal::Data d = handler.readStream(is);
    if (d.pixels.empty())
        return 0;
    std::ostringstream os;
    handler.writeStream(d, os, 3);
    std::istringstream again(os.str());
    const Cal::Data back = handler.readStream(again);
    // Only named pixels are written, so the grid can only shrink to what they span.
    if (back.pixels.size() > d.pixels.size())
        std::abort();
    // Never more pixels than the lines allow.
    std::size_t lines = 0;
    for (const char* p = reinterpret_cast<const char*>(data); p < reinterpret_cast<const char*>(data) + size; ++p)
        lines += *p == '\n';
    if (d.pixels.size() * d.pixels.front().size() > XinRui_Raw::pixelsPerLine * (lines + 1))
        std::abort();
    return 0;
}
