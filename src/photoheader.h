#pragma once

#include <QString>

#include <cstdint>

// What a photo file says about itself before it is decoded: its format, its
// size in pixels and, for a JPEG, whether the file holds all of its image
// data (a JPEG cut short decodes without an error, the decoder repeating its
// last rows).
namespace photoheader {

// Largest photo decoded, far above what the supported cameras take (about
// 61 million pixels); a decoded photo of this size takes about 200 MB.
constexpr std::int64_t kMaxPixels = 64000000;

struct Info
{
    enum Format { Unknown, Jpeg, Png };
    Format format = Unknown;
    std::int64_t width = 0; // 0 when the header does not say
    std::int64_t height = 0;
    bool complete = true; // false: a JPEG whose file ends before its end-of-image marker
};

// Reads the header (and, for a JPEG, walks its segments to the end of the
// image) from bytes in memory.
Info inspect(const unsigned char* data, std::int64_t size);

// The same for the file at path (memory-mapped, not read into memory). On an
// error (no such file, an empty file) *error says what is wrong and the
// format is Unknown.
Info inspectFile(const QString& path, QString* error);

// Why a photo of this header must not be decoded: its dimensions are unknown
// or above kMaxPixels, or a JPEG does not hold all of its image data. Empty
// when it may be decoded.
QString refusal(const Info& info);

} // namespace photoheader
