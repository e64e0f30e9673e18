#include "glowkit/tesscalfile.h"

#include "glowkit/tesscalmath.h"
#include "glowkit/tesscalread.h"
#include "glowkit/tesscalwrite.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace TessCalFile {

namespace {

constexpr uint32_t MeshSet = 7;
constexpr uint32_t CubeSet = 0;
constexpr uint64_t MaxSide = 0xFFFF; // the header holds 16-bit sizes
// Largest mesh read back, per side: 4096 x 4096 cells (16 M) per plane, far
// beyond the few tens of cells a wall module's mesh has.
constexpr uint32_t MaxMeshSide = 4096;
const std::string Suffix = ".klv";

void writeFailed(std::ostream& os)
{
    std::cerr << "TessCal Write error" << '\n';
    os.setstate(std::ios::failbit);
}

void cantOpen(const std::string& path)
{
    const int err = errno;
    std::cerr << "Can't open file " << path << ": " << std::strerror(err) << '\n';
}

uint32_t pixfmtForPlanes(size_t planes)
{
    switch (planes) {
    case 1:
        return 1;
    case 4:
        return 4;
    case 5:
        return 5;
    default:
        return 3;
    }
}

// Unsigned 1.15 fixed point, clamped to the representable range.
uint16_t toSample(float g)
{
    const double s = std::trunc(double(g) * 32768.0);
    if (s <= 0)
        return 0;
    if (s >= 65535)
        return 65535;
    return static_cast<uint16_t>(s);
}

} // namespace

void Handler::writeStream(const Mesh& mesh, std::ostream& os) const
{
    const auto& planes = mesh.planes;
    if (planes.size() > 5) {
        std::cerr << "TessCal mesh has " << planes.size() << " planes, at most 5 fit" << '\n';
        return writeFailed(os);
    }
    const size_t height = planes.empty() ? 0 : planes[0].size();
    const size_t width = height == 0 ? 0 : planes[0][0].size();
    if (width > UINT32_MAX || height > UINT32_MAX) {
        std::cerr << "TessCal mesh too large" << '\n';
        return writeFailed(os);
    }

    // Every plane must have the shape of plane 0, and every gain a number,
    // before anything is read or written.
    for (size_t p = 0; p < planes.size(); ++p) {
        bool ragged = planes[p].size() != height;
        for (size_t r = 0; !ragged && r < height; ++r)
            ragged = planes[p][r].size() != width;
        if (ragged) {
            std::cerr << "TessCal mesh plane " << p << " is not " << height << " rows of " << width << " cells"
                      << '\n';
            return writeFailed(os);
        }
        for (const auto& row : planes[p])
            for (float g : row)
                if (std::isnan(g)) {
                    std::cerr << "TessCal mesh plane " << p << " holds a gain that is not a number" << '\n';
                    return writeFailed(os);
                }
    }

    TessCal::CalData d;
    d.header.pixfmt = pixfmtForPlanes(planes.size());
    TessCal::MeshCorr& m = d.mesh;
    m.name = mesh.name;
    m.width = static_cast<uint32_t>(width);
    m.height = static_cast<uint32_t>(height);
    for (size_t p = 0; p < planes.size(); ++p) {
        auto& samples = m.planes[p];
        samples.reserve(width * height);
        for (const auto& row : planes[p])
            for (float g : row)
                samples.push_back(toSample(g));
    }
    m.geometry = mesh.geometry;
    m.value = {mesh.value, mesh.value};
    m.reserved = 0;

    TessCal::WriteCalData writer(d, TessCal::CalSets{1u << MeshSet, 0});
    if (writer(os) != 0)
        writeFailed(os);
}

Mesh Handler::readStreamMesh(std::istream& is) const
{
    // Memory: the samples as read (about the stream's size), then four bytes
    // per cell and one list per row of the mesh's planes.
    TessCal::CalData d;
    TessCal::CalSets sets;
    if (TessCal::ReadCalData(is, d, sets, 0) != 0) {
        std::cerr << "TessCal Parse error" << '\n';
        return {};
    }
    if (!sets.has(MeshSet)) {
        std::cerr << "TessCal does not contain a mesh" << '\n';
        return {};
    }

    TessCal::MeshCorr& m = d.mesh;
    // Checked before the planes are built: each row is a list of its own, so
    // a tall, narrow mesh costs far more than its samples.
    if (m.width > MaxMeshSide || m.height > MaxMeshSide) {
        std::cerr << "TessCal mesh of " << m.width << " x " << m.height << " cells is larger than " << MaxMeshSide
                  << " x " << MaxMeshSide << '\n';
        return {};
    }

    // A plane keeps its place: one that the stream marks absent (no samples)
    // may only be followed by absent planes, as when a mesh of two planes is
    // written with pixel format 3. A present plane after an absent one could
    // only be handed back in the absent plane's place, so such a mesh is
    // refused.
    const uint32_t count = std::min<uint32_t>(TessCal::PixFmtSubPix(d.header.pixfmt), 5);
    const uint64_t cells = uint64_t(m.width) * m.height;
    uint32_t present = 0;
    for (uint32_t p = 0; p < count; ++p) {
        const bool here = !m.planes[p].empty() && m.planes[p].size() == cells;
        if (here && present < p) {
            std::cerr << "TessCal mesh plane " << p << " follows an absent plane" << '\n';
            return {};
        }
        if (here)
            present = p + 1;
    }

    Mesh mesh;
    mesh.name = m.name;
    mesh.geometry = m.geometry;
    mesh.value = m.value[1] < m.value[0] ? m.value[1] : m.value[0];
    mesh.planes.reserve(present);
    for (uint32_t p = 0; p < present; ++p) {
        auto& samples = m.planes[p];
        std::vector<std::vector<float>> plane(m.height, std::vector<float>(m.width));
        for (uint32_t r = 0; r < m.height; ++r)
            for (uint32_t c = 0; c < m.width; ++c)
                plane[r][c] = float(samples[size_t(r) * m.width + c]) / 32768.0f;
        std::vector<uint16_t>().swap(samples); // its gains are copied: let it go
        mesh.planes.push_back(std::move(plane));
    }
    return mesh;
}

void Handler::writeStream(const Cal::Data& data, std::ostream& os) const
{
    const auto& pixels = data.pixels;
    const uint64_t height = pixels.size();
    const uint64_t width = height == 0 ? 0 : pixels[0].size();
    if (width > MaxSide || height > MaxSide) {
        std::cerr << "TessCal cube of " << width << " x " << height << " pixels is larger than " << MaxSide
                  << " x " << MaxSide << '\n';
        return writeFailed(os);
    }
    for (uint64_t r = 0; r < height; ++r)
        if (pixels[r].size() != width) {
            std::cerr << "TessCal cube row " << r << " is not " << width << " pixels wide" << '\n';
            return writeFailed(os);
        }

    const size_t readings = width == 0 ? 0 : pixels[0][0].size();
    TessCal::CalData d;
    d.header.pixfmt = readings == 1 || readings == 4 || readings == 5 ? uint32_t(readings) : 3;
    d.header.width = uint32_t(width);
    d.header.height = uint32_t(height);
    d.procInfo.w1 = 4;
    d.procInfo.w4 = 0x10000;

    // The per-pixel record's length is a 32-bit number.
    const uint64_t recordBytes = width * height * 12 * std::min<uint32_t>(TessCal::PixFmtSubPix(d.header.pixfmt), 3);
    if (recordBytes > UINT32_MAX - 0xFFFF) {
        std::cerr << "TessCal cube of " << width << " x " << height << " pixels does not fit in a stream" << '\n';
        return writeFailed(os);
    }

    const size_t channels = std::min<size_t>(readings, 3);
    d.pixelsXYZ.reserve(width * height);
    for (const auto& row : pixels)
        for (const auto& px : row) {
            TessCal::PixMeasXYZ xyz;
            // A pixel with fewer readings than pixel (0, 0) is black where it
            // has none.
            for (size_t i = 0; i < channels && i < px.size(); ++i)
                xyz[i] = TessCal::xyy2xyz(TessCal::XYY{px[i].Cx, px[i].Cy, px[i].Lv});
            d.pixelsXYZ.push_back(xyz);
        }

    TessCal::WriteCalData writer(d, TessCal::CalSets{1u << CubeSet, 0});
    if (writer(os) != 0)
        writeFailed(os);
}

Cal::Data Handler::readStream(std::istream& is) const
{
    TessCal::CalData d;
    TessCal::CalSets sets;
    if (TessCal::ReadCalData(is, d, sets, 0) != 0) {
        std::cerr << "TessCal Parse error" << '\n';
        return {};
    }
    const uint32_t width = d.header.width, height = d.header.height;
    const uint64_t cells = uint64_t(width) * height;
    // The grid is sized from the header: only when the stream backs it with
    // data, so that a few header bytes cannot demand a huge cube.
    if (d.pixelsXYZ.size() < cells) {
        std::cerr << "TessCal cube of " << width << " x " << height << " pixels carries " << d.pixelsXYZ.size()
                  << " of them" << '\n';
        std::cerr << "TessCal Parse error" << '\n';
        return {};
    }

    const uint32_t subpix = TessCal::PixFmtSubPix(d.header.pixfmt);
    Cal::Data cube;
    cube.moduleWidth = width;
    cube.moduleHeight = height;
    cube.pixels.assign(height, std::vector<std::vector<Cal::EmitterReading>>(
                                   width, std::vector<Cal::EmitterReading>(subpix)));
    const uint32_t channels = std::min<uint32_t>(subpix, 3);
    for (size_t e = 0; e < d.pixelsXYZ.size() && width != 0; ++e) {
        auto& px = cube.pixels[e / width][e % width];
        for (uint32_t i = 0; i < channels; ++i) {
            const TessCal::XYY v = TessCal::xyz2xyy(d.pixelsXYZ[e][i]);
            px[i].Cx = v.x;
            px[i].Cy = v.y;
            px[i].Lv = v.Y;
        }
    }
    return cube;
}

void Handler::writeFile(const Cal::Data& data, const std::string& path) const
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) {
        cantOpen(path);
        return;
    }
    writeStream(data, f);
}

Cal::Data Handler::readFile(const std::string& path) const
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        cantOpen(path);
        return {};
    }
    return readStream(f);
}

void Handler::writeFiles(const std::map<std::string, Cal::Data>& cubes, const std::string& folder) const
{
    for (const auto& [id, data] : cubes)
        writeFile(data, folder + "/" + id + Suffix);
}

std::map<std::string, Cal::Data> Handler::readFiles(const std::string& folder) const
{
    namespace fs = std::filesystem;
    std::map<std::string, Cal::Data> cubes;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        std::cerr << "Can't open folder " << folder << ": " << ec.message() << '\n';
        return cubes;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc))
            continue;
        const std::string name = it->path().filename().string();
        if (name.size() < Suffix.size() || name.compare(name.size() - Suffix.size(), Suffix.size(), Suffix) != 0)
            continue;
        cubes[name.substr(0, name.size() - Suffix.size())] = readFile(it->path().string());
    }
    if (ec)
        std::cerr << "Can't list folder " << folder << ": " << ec.message() << '\n';
    return cubes;
}

int Handler::validateStream(std::istream& is) const
{
    return TessCal::ValidateCalData(is);
}

void Handler::validateFile(const std::string& path) const
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        cantOpen(path);
        return;
    }
    TessCal::ValidateCalData(f);
}

} // namespace TessCalFile
