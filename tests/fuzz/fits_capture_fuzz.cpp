// libFuzzer target: arbitrary bytes as a FITS capture image, read the way the
// capture folder reader reads each file. The FITS library opens files by name,
// so every input goes through one scratch file. A plane that reads must have
// the shape the reader promises: equal rows, none empty.

#include "glowkit/colorspace.h"

#include <CCfits/CCfits>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

std::string scratchFile()
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/fits_capture_fuzz_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        std::abort();
    close(fd);
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchFile();
    static const bool quiet = [] {
        std::cout.setstate(std::ios::failbit); // the reader names every file it opens
        std::cerr.setstate(std::ios::failbit);
        return std::atexit([] { std::remove(path.c_str()); }) == 0;
    }();
    (void)quiet;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();

    try {
        const Vector2D<float> plane = ColorSpace::Handler().readCapture(path);
        for (const auto& row : plane)
            if (row.empty() || row.size() != plane.front().size())
                std::abort();
    } catch (const CCfits::FitsException&) {
        // Unreadable files are refused with the library's exception...
    } catch (const std::exception&) {
        // ...or ours (a header announcing more data than the file holds).
    }
    return 0;
}
