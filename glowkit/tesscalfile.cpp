#include "glowkit/tesscalfile.h"

#include "glowkit/tesscalread.h"
#include "glowkit/tesscalwrite.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>

namespace TessCalFile {

namespace {

constexpr uint32_t MeshSet = 7;

void writeFailed(std::ostream& os)
{
    std::cerr << "TessCal Write error" << '\n';
    os.setstate(std::ios::failbit);
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

    const TessCal::MeshCorr& m = d.mesh;
    Mesh mesh;
    mesh.name = m.name;
    mesh.geometry = m.geometry;
    mesh.value = m.value[1] < m.value[0] ? m.value[1] : m.value[0];

    const uint32_t count = std::min<uint32_t>(TessCal::PixFmtSubPix(d.header.pixfmt), 5);
    const uint64_t cells = uint64_t(m.width) * m.height;
    for (uint32_t p = 0; p < count; ++p) {
        const auto& samples = m.planes[p];
        if (samples.empty() || samples.size() != cells)
            continue; // absent
        std::vector<std::vector<float>> plane(m.height, std::vector<float>(m.width));
        for (uint32_t r = 0; r < m.height; ++r)
            for (uint32_t c = 0; c < m.width; ++c)
                plane[r][c] = float(samples[size_t(r) * m.width + c]) / 32768.0f;
        mesh.planes.push_back(std::move(plane));
    }
    return mesh;
}

} // namespace TessCalFile
