// libFuzzer target: arbitrary bytes as the start of a photo file. The header
// reader walks a JPEG's segments to its end; whatever it finds, the refusal
// text must agree with what it found.

#include "photoheader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const photoheader::Info info = photoheader::inspect(data, std::int64_t(size));
    if (info.width < 0 || info.height < 0)
        std::abort();
    if (info.format != photoheader::Info::Jpeg && !info.complete)
        std::abort(); // only a JPEG can be cut short
    const bool refused = !photoheader::refusal(info).isEmpty();
    const bool fits = info.width > 0 && info.height > 0 && info.width <= photoheader::kMaxPixels / info.height;
    if (refused == (fits && info.complete))
        std::abort();
    return 0;
}
