#pragma once

// Calibration cubes from tristimulus camera captures: for every id and emitter
// colour three single-plane FITS images, one per CIE value X, Y and Z, named
// <colour>_<X|Y|Z>_<id>.fit (colour R, G or B).

#include "glowkit/caldata.h"

#include <map>
#include <string>

namespace ColorSpace {

class Handler {
public:
    // Every id with capture files in the folder (not recursively), as a cube of the
    // channels R, G, B. An id whose images cannot be read, or have different sizes, is
    // reported on stderr ("Failed reading captures for id ...") and left out.
    std::map<std::string, Cal::Data> readCaptures(const std::string& folder) const;
    // One colour of one id: readings {X/S, Y/S, Y, 0} with S = X + Y + Z, in the shape
    // of the X image. Throws std::runtime_error when the Y or Z image is smaller, and
    // passes on the FITS library's exceptions.
    Vector2D<Cal::EmitterReading> readCaptures(const std::string& folder, char colour, const std::string& id) const;
    // The primary image as NAXIS2 rows of NAXIS1 values; "wrong size!" on stderr and an
    // empty plane for an image that is not two-dimensional. A header that announces
    // more data than the file holds is a std::runtime_error.
    Vector2D<float> readCapture(const std::string& path) const;
    // The folder's XinRui measurement tables, keyed by id.
    std::map<std::string, Cal::Data> readRaw(const std::string& folder) const;
};

} // namespace ColorSpace
