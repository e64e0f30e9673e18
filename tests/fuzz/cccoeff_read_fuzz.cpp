// libFuzzer target: arbitrary bytes as a coefficient file. A set that reads
// must write and read back with the same size and entries.

#include "glowkit/cccoeff.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string in = "/tmp/cccoeff-fuzz-in-" + std::to_string(getpid());
    static const std::string out = "/tmp/cccoeff-fuzz-out-" + std::to_string(getpid());
    std::ofstream(in, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
    const ccCoeffHandler handler;
    const ccCoeffFile set = handler.readFile(in);
    if (set.width == 0 && set.height == 0 && set.entries.empty())
        return 0;
    if (handler.writeFile(set, out) != 0)
        std::abort();
    const ccCoeffFile back = handler.readFile(out);
    if (back.width != set.width || back.height != set.height || back.entries.size() != set.entries.size())
        std::abort();
    for (std::size_t i = 0; i < set.entries.size(); ++i)
        if (back.entries[i].x != set.entries[i].x || back.entries[i].y != set.entries[i].y)
            std::abort();
    (void)(set * back);
    return 0;
}
