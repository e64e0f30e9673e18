#include "glowkit/colorspace.h"

#include "glowkit/xinrui.h"

#include <CCfits/CCfits>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <set>
#include <stdexcept>
#include <valarray>

namespace ColorSpace {

namespace {

bool isCaptureName(const std::string& name)
{
    static const std::string suffix = ".fit";
    return name.size() >= 4 + suffix.size() && (name[0] == 'R' || name[0] == 'G' || name[0] == 'B')
           && name[1] == '_' && (name[2] == 'X' || name[2] == 'Y' || name[2] == 'Z') && name[3] == '_'
           && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The header's axes say how much data to read, and the FITS library allocates all of
// it before it reads: refuse a header that announces more than the file holds.
void requireAnnouncedData(const CCfits::FITS& file, const CCfits::PHDU& image, const std::string& path)
{
    std::uint64_t bytes = image.axes() > 0 ? static_cast<std::uint64_t>(std::abs(image.bitpix()) / 8) : 0;
    bool fits = true;
    for (int i = 0; i < image.axes() && fits; ++i) {
        const long n = image.axis(i);
        fits = n >= 0 && (n == 0 || bytes <= std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(n));
        if (fits)
            bytes *= static_cast<std::uint64_t>(n);
    }
    fitsfile* f = file.fitsPointer();
    int status = 0;
    LONGLONG headStart = 0;
    LONGLONG dataStart = 0;
    LONGLONG dataEnd = 0;
    fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);
    // The logical size is that of the decompressed file where the library unpacked one.
    const LONGLONG available = f->Fptr->logfilesize - dataStart;
    if (!fits || status != 0 || available < 0 || bytes > static_cast<std::uint64_t>(available))
        throw std::runtime_error(path + " holds less data than its header announces");
}

bool covers(const Vector2D<float>& p, std::size_t rows, std::size_t cols)
{
    if (p.size() < rows)
        return false;
    for (std::size_t r = 0; r < rows; ++r)
        if (p[r].size() < cols)
            return false;
    return true;
}

} // namespace

std::map<std::string, Cal::Data> Handler::readCaptures(const std::string& folder) const
{
    namespace fs = std::filesystem;
    std::map<std::string, Cal::Data> result;
    std::set<std::string> ids;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        std::cerr << "Can't read folder " << folder << ": " << ec.message() << std::endl;
        return result;
    }
    for (const auto& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError))
            continue;
        const std::string name = entry.path().filename().string();
        if (isCaptureName(name))
            ids.insert(name.substr(4, name.size() - 8));
    }
    for (const auto& id : ids) {
        try {
            Cal::Data data;
            data.addChannel(readCaptures(folder, 'R', id));
            data.addChannel(readCaptures(folder, 'G', id));
            data.addChannel(readCaptures(folder, 'B', id));
            result[id] = std::move(data);
        } catch (const std::exception& e) {
            std::cerr << "Failed reading captures for id " << id << ": " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "Failed reading captures for id" << id << std::endl;
        }
    }
    return result;
}

Vector2D<Cal::EmitterReading> Handler::readCaptures(const std::string& folder, char colour,
                                                    const std::string& id) const
{
    const std::string stem = folder + "/" + colour + "_";
    const Vector2D<float> X = readCapture(stem + "X_" + id + ".fit");
    const Vector2D<float> Y = readCapture(stem + "Y_" + id + ".fit");
    const Vector2D<float> Z = readCapture(stem + "Z_" + id + ".fit");
    const std::size_t rows = X.size();
    const std::size_t cols = X.empty() ? 0 : X.front().size();
    if (!covers(Y, rows, cols) || !covers(Z, rows, cols))
        throw std::runtime_error(std::string("Y or Z image of colour ") + colour + " smaller than its X image");

    Vector2D<Cal::EmitterReading> plane(rows, std::vector<Cal::EmitterReading>(cols));
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            const float x = r < X.size() && c < X[r].size() ? X[r][c] : 0.0f;
            const float y = Y[r][c];
            const float z = Z[r][c];
            const float s = x + y + z;
            plane[r][c] = Cal::EmitterReading{x / s, y / s, y, 0.0f};
        }
    }
    return plane;
}

Vector2D<float> Handler::readCapture(const std::string& path) const
{
    std::cout << path << std::endl;
    CCfits::FITS file(path, CCfits::Read, false);
    CCfits::PHDU& image = file.pHDU();
    image.readAllKeys();
    requireAnnouncedData(file, image, path);
    std::valarray<float> values;
    image.read(values);
    const long width = image.axes() >= 2 ? image.axis(0) : 0;
    const long height = image.axes() >= 2 ? image.axis(1) : 0;
    if (image.axes() < 2 || width <= 0 || height <= 0 || values.size() != static_cast<std::size_t>(width * height)) {
        std::cerr << "wrong size!" << std::endl;
        return {};
    }
    Vector2D<float> plane(static_cast<std::size_t>(height), std::vector<float>(static_cast<std::size_t>(width)));
    for (std::size_t i = 0; i < values.size(); ++i)
        plane[i / static_cast<std::size_t>(width)][i % static_cast<std::size_t>(width)] = values[i];
    return plane;
}

std::map<std::string, Cal::Data> Handler::readRaw(const std::string& folder) const
{
    return XinRui_Raw::Handler().readFiles(folder);
}

} // namespace ColorSpace
