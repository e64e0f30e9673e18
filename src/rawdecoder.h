#pragma once

#include <cstdint>

#include <libraw/libraw_types.h>
#include <opencv2/core.hpp>

class LibRaw;

// Decoding of camera raw files into 16-bit linear images, through one
// process-wide LibRaw processor. Decodes are serialised, so any thread may call.
namespace rawdecoder {

// Files larger than this are refused before LibRaw sees them.
constexpr std::int64_t maxFileBytes = std::int64_t(512) << 20;
// LibRaw's own ceiling for the memory it allocates for one raw image.
constexpr unsigned maxRawMemoryMb = 1024;

// Sets the processor's output parameters for a decode with these modes:
// linear 16-bit output in the camera's white balance.
void applyParameters(LibRaw& processor, unsigned interpolation, unsigned highlight);

// Decodes the raw file at `path` into a CV_16UC3 image (blue, green, red,
// linear). `interpolation` is LibRaw's demosaicing quality, `highlight` its
// highlight mode. Returns an empty image after a log line when the file is too
// large, cannot be opened, unpacked or processed, is truncated or corrupt, or
// does not decode to three 16-bit channels.
cv::Mat rawImage(const char* path, unsigned interpolation, unsigned highlight, bool verbose);

// Copies a processed LibRaw memory image into a new CV_16UC3 image, swapping
// red and blue. Empty (after a log line) unless it holds three 16-bit colours
// and as many bytes as its size says.
cv::Mat fromMemImage(const libraw_processed_image_t& image, const char* path);

} // namespace rawdecoder
