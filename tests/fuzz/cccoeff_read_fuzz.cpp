// libFuzzer target: arbitrary bytes as a coefficient file. A set that reads
// must write and read back with the same size and entries.
//
// The handler reads and writes files by name: both files are anonymous
// memory files, named through /proc/self/fd, so nothing is left on disk, not
// even when the target stops on a finding.

#include "glowkit/cccoeff.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// An anonymous file that stays open for the life of the process.
std::string memoryFile(const char* name)
{
    const int fd = memfd_create(name, 0);
    if (fd < 0)
        std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string in = memoryFile("cccoeff-fuzz-in");
    static const std::string out = memoryFile("cccoeff-fuzz-out");
    {
        std::FILE* f = std::fopen(in.c_str(), "w");
        if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
            std::abort();
    }
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
