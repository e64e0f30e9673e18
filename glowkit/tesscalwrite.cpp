#include "glowkit/tesscalwrite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace TessCal {

namespace {

bool any(float v)
{
    return v != 0; // NaN counts as data
}
bool any(int16_t v)
{
    return v != 0;
}
bool any(const XY& v)
{
    return v.x != 0 || v.y != 0;
}
bool any(const XYY& v)
{
    return v.x != 0 || v.y != 0 || v.Y != 0;
}
bool any(const XYZ& v)
{
    return v.X != 0 || v.Y != 0 || v.Z != 0;
}
template <typename T, size_t N>
bool any(const std::array<T, N>& a)
{
    return std::any_of(a.begin(), a.end(), [](const T& v) { return any(v); });
}
bool any(const PixXY& v)
{
    return any(v.c);
}
bool any(const PixMeasXYZ& v)
{
    return any(v.c);
}
bool any(const PixMeasXYY& v)
{
    return any(v.c);
}
bool any(const FactoryLowGrayT& v)
{
    return any(v.v);
}
bool any(const ProcInfo& v)
{
    return v.w1 != 0 || v.w2 != 0;
}
bool any(const CalTileID& v)
{
    return std::any_of(v.raw.begin(), v.raw.end(), [](uint8_t b) { return b != 0; }) || v.a != 0 || v.b != 0 ||
           v.c != 0 || v.d != 0;
}

// A list record: its count method, then its entry method per entry.
template <typename T, typename Num, typename Data>
int writeList(Write& w, const std::vector<T>& list, Num num, Data data)
{
    if ((w.*num)(uint32_t(list.size())))
        return 3;
    for (size_t i = 0; i < list.size(); ++i)
        if ((w.*data)(uint32_t(i), list[i]))
            return 3;
    return 0;
}

} // namespace

Write::Write(std::ostream& os, uint32_t strcap)
    : os_(os)
    , strcap_(strcap)
{
}

Write::~Write() = default;

// ---------------------------------------------------------------------------
// Primitives

int Write::write_buf(const void* data, size_t n)
{
    if (n == 0)
        return 0;
    os_.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
    if (os_.fail()) {
        if (!quiet_)
            std::fprintf(stderr, "*** ERROR L%d: Write Error\n", 1070);
        quiet_ = true;
        return fail();
    }
    crc_ = crc32_update(crc_, data, n);
    pos_ += n;
    return 0;
}

int Write::write_u8(uint8_t v)
{
    return write_buf(&v, 1);
}

int Write::write_u16(uint16_t v)
{
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    return write_buf(b, 2);
}

int Write::write_u32(uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return write_buf(b, 4);
}

int Write::write_u64(uint64_t v)
{
    if (write_u32(uint32_t(v >> 32)))
        return 3;
    return write_u32(uint32_t(v));
}

int Write::write_f32(float v)
{
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return write_u32(u);
}

size_t Write::strbytes(const std::string& s) const
{
    return std::min<size_t>(s.size(), strcap_);
}

int Write::write_str(const std::string& s)
{
    const size_t n = strbytes(s);
    if (n > 0xFFFF) {
        std::fprintf(stderr, "*** ERROR L%d: String too long: %zu\n", 1118, s.size());
        return fail();
    }
    if (write_u16(uint16_t(n)))
        return 3;
    return write_buf(s.data(), n);
}

int Write::write_klv(uint32_t key, uint32_t len)
{
    counted_ += 9 + uint64_t(len);
    if (write_u32(key) || write_u32(len))
        return 3;
    return write_u8(0);
}

int Write::write_xy(const XY& v)
{
    if (write_f32(v.x))
        return 3;
    return write_f32(v.y);
}

int Write::write_xyy(const XYY& v)
{
    if (write_f32(v.x) || write_f32(v.y))
        return 3;
    return write_f32(v.Y);
}

int Write::write_xyz(const XYZ& v)
{
    if (write_f32(v.X) || write_f32(v.Y))
        return 3;
    return write_f32(v.Z);
}

int Write::write_pix(const PixXY& v)
{
    for (uint32_t i = 0; i < sub3(); ++i)
        if (write_xy(v[i]))
            return 3;
    return 0;
}

int Write::write_pix(const PixMeasXYZ& v)
{
    for (uint32_t i = 0; i < sub3(); ++i)
        if (write_xyz(v[i]))
            return 3;
    return 0;
}

int Write::write_pix(const PixMeasXYY& v)
{
    for (uint32_t i = 0; i < sub5(); ++i)
        if (write_xyy(v[i]))
            return 3;
    return 0;
}

// ---------------------------------------------------------------------------
// Records

int Write::CBHeader(const Header& h, uint32_t totlen, uint32_t blklen)
{
    subpix_ = PixFmtSubPix(h.pixfmt);
    if (write_u32(Magic) || write_u32(totlen))
        return 3;
    posTotlen_ = pos_;
    if (write_u16(HeaderLen) || write_u32(h.word) || write_u8(uint8_t(h.pixfmt)) || write_u16(uint16_t(h.width)) ||
        write_u16(uint16_t(h.height)) || write_u32(blklen))
        return 3;
    posBlklen_ = pos_;
    return 0;
}

int Write::CBCalSet(const CalSets& sets)
{
    int r = 0;
    sets.foreach([&](uint32_t n) {
        if (r == 0 && (write_klv(Key::CalSet, 2) || write_u16(uint16_t(n))))
            r = 3;
    });
    return r;
}

int Write::CBCalBatchID(const std::string& s, bool olut)
{
    if (write_klv(olut ? Key::OLUTID : Key::CalBatchID, uint32_t(strbytes(s) + 2)))
        return 3;
    return write_str(s);
}

int Write::CBCalTileID(const CalTileID& v)
{
    if (write_klv(Key::CalTileID, 19) || write_buf(v.raw.data(), v.raw.size()) || write_u32(v.a) || write_u32(v.b) ||
        write_f32(v.c))
        return 3;
    return write_u8(v.d);
}

int Write::CBCalProcInfo(const ProcInfo& v, bool olut)
{
    if (write_klv(olut ? Key::OLUTProcInfo : Key::CalProcInfo, 20) || write_u64(v.w2) || write_u32(v.w1) ||
        write_u32(v.w3))
        return 3;
    return write_u32(v.w4);
}

int Write::CBCalBrightness(float v)
{
    if (write_klv(Key::CalBrightness, 4))
        return 3;
    return write_f32(v);
}

int Write::CBDefGamut(const PixXY& v, bool olut)
{
    if (write_klv(olut ? Key::OLUTGamut : Key::DefaultGamut, 8 * sub3()))
        return 3;
    return write_pix(v);
}

int Write::CBDefWhite(const XY& v, bool olut)
{
    if (write_klv(olut ? Key::OLUTWhite : Key::DefaultWhite, 8))
        return 3;
    return write_xy(v);
}

int Write::CBIdeal(const PixMeasXYZ& v)
{
    if (write_klv(Key::IdealGamut, 12 * sub3()))
        return 3;
    return write_pix(v);
}

int Write::CBMeasTemp(const std::vector<MeasTemp>& list)
{
    if (list.size() > 255) {
        std::fprintf(stderr, "*** ERROR L%d: Too many MeasTemp entries: %zu\n", 868, list.size());
        return fail();
    }
    return writeList(*this, list, &Write::CBMeasTempNum, &Write::CBMeasTempData);
}

int Write::CBMeasTempNum(uint32_t n)
{
    if (write_klv(Key::MeasTemp, 1 + n * (1 + 4 * sub3())))
        return 3;
    return write_u8(uint8_t(n));
}

int Write::CBMeasTempData(uint32_t, const MeasTemp& v)
{
    if (write_u8(v.tag))
        return 3;
    for (uint32_t i = 0; i < sub3(); ++i)
        if (write_u32(v.v[i]))
            return 3;
    return 0;
}

int Write::CBDriverPar(const DriverPar& v)
{
    const uint32_t extra = std::holds_alternative<uint64_t>(v.value) ? 4 : 0;
    if (write_klv(Key::DriverPar, uint32_t(strbytes(v.name) + 7 + extra)) || write_str(v.name) ||
        write_u8(uint8_t(v.value.index())))
        return 3;
    if (const auto* u = std::get_if<uint32_t>(&v.value))
        return write_u32(*u);
    if (const auto* f = std::get_if<float>(&v.value))
        return write_f32(*f);
    return write_u64(std::get<uint64_t>(v.value));
}

int Write::CBPixXYZ(const std::vector<PixMeasXYZ>& list)
{
    return writeList(*this, list, &Write::CBPixXYZNum, &Write::CBPixXYZData);
}

int Write::CBPixXYZNum(uint32_t n)
{
    return write_klv(Key::PixelsXYZ, n * 12 * sub3());
}

int Write::CBPixXYZData(uint32_t, const PixMeasXYZ& v)
{
    return write_pix(v);
}

int Write::CBOLUTXYY(const std::vector<PixMeasXYY>& list)
{
    return writeList(*this, list, &Write::CBOLUTXYYNum, &Write::CBOLUTXYYData);
}

int Write::CBOLUTXYYNum(uint32_t n)
{
    return write_klv(Key::OLUTXYY, n * 12 * sub5());
}

int Write::CBOLUTXYYData(uint32_t, const PixMeasXYY& v)
{
    return write_pix(v);
}

int Write::CBLowGray(const LowGrayVec& v)
{
    const uint32_t n = uint32_t(v.entries.size());
    const uint32_t len = n * sub3() * (v.is16 ? 2 : 1);
    if (write_klv(v.is16 ? Key::LowGray16 : Key::LowGray8, len))
        return 3;
    for (const auto& e : v.entries)
        for (uint32_t i = 0; i < sub3(); ++i)
            if (v.is16 ? write_u16(e.v[i]) : write_u8(uint8_t(e.v[i])))
                return 3;
    return 0;
}

int Write::CBOLUTDat(const std::vector<LUT3DEnt>& list)
{
    return writeList(*this, list, &Write::CBOLUTDatNum, &Write::CBOLUTDatData);
}

int Write::CBOLUTDatNum(uint32_t n)
{
    return write_klv(Key::OLUTDat, n * 2 * sub5());
}

int Write::CBOLUTDatData(uint32_t, const LUT3DEnt& v)
{
    for (uint32_t i = 0; i < sub5(); ++i)
        if (write_u16(v.v[i]))
            return 3;
    return 0;
}

int Write::CBOLUTRef(const PixMeasXYY& v)
{
    if (write_klv(Key::OLUTRef, 12 * sub5()))
        return 3;
    return write_pix(v);
}

int Write::CBCalTemplate(const std::string& s)
{
    if (write_klv(Key::CalTemplate, uint32_t(s.size())))
        return 3;
    return write_buf(s.data(), s.size());
}

int Write::CBOLUTIS(const std::vector<uint16_t>& list)
{
    return writeList(*this, list, &Write::CBOLUTISNum, &Write::CBOLUTISData);
}

int Write::CBOLUTISNum(uint32_t n)
{
    return write_klv(Key::OLUTIShaper, 2 * n);
}

int Write::CBOLUTISData(uint32_t, uint16_t v)
{
    return write_u16(v);
}

int Write::CBOLUTOS(const std::vector<uint16_t>& list)
{
    return writeList(*this, list, &Write::CBOLUTOSNum, &Write::CBOLUTOSData);
}

int Write::CBOLUTOSNum(uint32_t n)
{
    return write_klv(Key::OLUTOShaper, 2 * n);
}

int Write::CBOLUTOSData(uint32_t, uint16_t v)
{
    return write_u16(v);
}

int Write::CBFactoryMatrix(const PixMeasXYZ& v)
{
    if (write_klv(Key::CalFactoryCorr, 12 * sub3()))
        return 3;
    return write_pix(v);
}

int Write::CBFactoryLowGray(const FactoryLowGrayT& v)
{
    if (write_klv(Key::CalFactoryLow, 2 * sub3()))
        return 3;
    for (uint32_t i = 0; i < sub3(); ++i)
        if (write_u16(uint16_t(v.v[i])))
            return 3;
    return 0;
}

int Write::CBBadPix(const std::vector<BadPixel>& list)
{
    return writeList(*this, list, &Write::CBBadPixNum, &Write::CBBadPixData);
}

int Write::CBBadPixNum(uint32_t n)
{
    return write_klv(Key::BadPixels, 6 * n);
}

int Write::CBBadPixData(uint32_t, const BadPixel& v)
{
    if (write_u16(v.x) || write_u16(v.y) || write_u8(v.attr1))
        return 3;
    return write_u8(v.attr2);
}

int Write::invalidMeshPlane(const MeshCorr& m, uint32_t subpix)
{
    const uint32_t s5 = std::min<uint32_t>(subpix, 5);
    const uint64_t samples = uint64_t(m.width) * m.height;
    for (uint32_t p = 0; p < s5; ++p)
        if (!m.planes[p].empty() && m.planes[p].size() != samples)
            return int(p);
    return -1;
}

void Write::reportInvalidMesh(const MeshCorr& m, int plane)
{
    std::fprintf(stderr, "*** ERROR L%d: Invalid mesh size, cc: %u, %u != %u x %u\n", 925, unsigned(plane),
                 unsigned(m.planes[size_t(plane)].size()), m.width, m.height);
}

int Write::CBMeshCorr(const MeshCorr& v)
{
    if (const int bad = invalidMeshPlane(v, subpix_); bad >= 0) {
        reportInvalidMesh(v, bad);
        return fail();
    }
    const uint32_t s5 = sub5();
    uint64_t present = 0;
    for (uint32_t p = 0; p < s5; ++p)
        present += v.planes[p].empty() ? 0 : 1;
    const uint64_t len = 38 + strbytes(v.name) + s5 + 2 * uint64_t(v.width) * v.height * present;

    if (write_klv(Key::CalMeshCorr, uint32_t(len)) || write_str(v.name) || write_u32(v.width) ||
        write_u32(v.height))
        return 3;
    for (float g : v.geometry)
        if (write_f32(g))
            return 3;
    for (float x : v.value)
        if (write_f32(x))
            return 3;
    if (write_u32(v.reserved))
        return 3;

    std::vector<uint8_t> bytes;
    for (uint32_t p = 0; p < s5; ++p) {
        const auto& plane = v.planes[p];
        if (write_u8(plane.empty() ? 0 : 1))
            return 3;
        bytes.resize(2 * plane.size());
        for (size_t i = 0; i < plane.size(); ++i) {
            bytes[2 * i] = uint8_t(plane[i] >> 8);
            bytes[2 * i + 1] = uint8_t(plane[i]);
        }
        if (write_buf(bytes.data(), bytes.size()))
            return 3;
    }
    return 0;
}

int Write::CBUnknown(const UnknownKLV& v)
{
    if (v.len != 0 && !v.data) {
        std::fprintf(stderr, "*** ERROR L%d: Unknown key 0x%08x without payload, len: %u\n", 955, v.key, v.len);
        return fail();
    }
    if (write_klv(v.key, v.len))
        return 3;
    return write_buf(v.data.get(), v.len);
}

int Write::CBEndTag()
{
    return write_klv(Key::EndTag, 0);
}

int Write::CBDone()
{
    totlen_ = uint32_t(pos_ - posTotlen_);
    blklen_ = uint32_t(pos_ - posBlklen_);
    if (blklen_ != counted_) {
        std::fprintf(stderr, "*** ERROR L%d: KLV lengths don't add up: %u, %u\n", 981, blklen_, unsigned(counted_));
        return fail();
    }
    write_u32(~crc_);
    os_.flush();
    if (os_.fail()) {
        // Printed even when an earlier write failure was reported: the quiet
        // flag covers the write primitive's own line only.
        std::fprintf(stderr, "*** ERROR L%d: Write Error\n", 989);
        return fail();
    }
    return error_ ? 3 : 0;
}

// ---------------------------------------------------------------------------

WCBNull::WCBNull()
    : std::ostream(nullptr)
{
    rdbuf(&buf_);
}

WriteCalData::WriteCalData(const CalData& data, CalSets sets)
    : data_(data)
    , sets_(sets)
{
}

int WriteCalData::write(Write& w)
{
    const CalData& d = data_;
    const uint32_t subpix = PixFmtSubPix(d.header.pixfmt);
    if (subpix == 0) {
        std::fprintf(stderr, "*** ERROR L%d: Invalid pixel format: %u\n", 1167, d.header.pixfmt);
        return 4;
    }
    // An invalid mesh is refused before anything is written: its set marker
    // alone would tell a receiver to clear the mesh it holds.
    if (sets_.has(7)) {
        if (const int bad = Write::invalidMeshPlane(d.mesh, subpix); bad >= 0) {
            Write::reportInvalidMesh(d.mesh, bad);
            return 3;
        }
    }

    w.CBHeader(d.header, totlen_, blklen_);
    w.CBCalSet(sets_);

    if (sets_.has(4) && any(d.factoryMatrix))
        w.CBFactoryMatrix(d.factoryMatrix);
    if (sets_.has(5) && any(d.factoryLowGray))
        w.CBFactoryLowGray(d.factoryLowGray);
    if (sets_.has(0)) {
        if (any(d.tileID))
            w.CBCalTileID(d.tileID);
        if (!d.batchID.empty())
            w.CBCalBatchID(d.batchID);
        if (any(d.procInfo))
            w.CBCalProcInfo(d.procInfo);
        if (any(d.brightness))
            w.CBCalBrightness(d.brightness);
        if (any(d.defaultGamut))
            w.CBDefGamut(d.defaultGamut);
        if (any(d.defaultWhite))
            w.CBDefWhite(d.defaultWhite);
        if (any(d.idealGamut))
            w.CBIdeal(d.idealGamut);
        if (!d.measTemp.empty())
            w.CBMeasTemp(d.measTemp);
        if (!d.pixelsXYZ.empty())
            w.CBPixXYZ(d.pixelsXYZ);
        if (!d.olutXYY.empty())
            w.CBOLUTXYY(d.olutXYY);
        if (!d.calTemplate.empty())
            w.CBCalTemplate(d.calTemplate);
    }
    if (sets_.has(2) && !d.lowGray.entries.empty())
        w.CBLowGray(d.lowGray);
    if (sets_.has(3)) {
        if (any(d.olutProcInfo))
            w.CBCalProcInfo(d.olutProcInfo, true);
        if (!d.olutID.empty())
            w.CBCalBatchID(d.olutID, true);
        if (any(d.olutGamut))
            w.CBDefGamut(d.olutGamut, true);
        if (any(d.olutWhite))
            w.CBDefWhite(d.olutWhite, true);
        if (!d.olutDat.empty())
            w.CBOLUTDat(d.olutDat);
        if (any(d.olutRef))
            w.CBOLUTRef(d.olutRef);
        if (!d.olutIShaper.empty())
            w.CBOLUTIS(d.olutIShaper);
        if (!d.olutOShaper.empty())
            w.CBOLUTOS(d.olutOShaper);
    }
    if (sets_.has(6) && !d.badPixels.empty())
        w.CBBadPix(d.badPixels);
    if (sets_.has(7) && d.mesh.hasData())
        w.CBMeshCorr(d.mesh);

    for (const auto& u : d.unknown) {
        const bool bySource = (sets_.mask & CalSets::SourceBit) && u.source == sets_.source;
        if (bySource || sets_.has(keyset(u.key)))
            w.CBUnknown(u);
    }

    w.CBDone();
    return w.error() ? 3 : 0;
}

uint32_t WriteCalData::get_totlen()
{
    if (size_ != 0)
        return size_;
    WCBNull null;
    Write w(null, cap());
    countStatus_ = uint32_t(write(w));
    if (countStatus_ == 0) {
        size_ = uint32_t(w.position());
        totlen_ = w.totlen();
        blklen_ = w.blklen();
    }
    return size_;
}

int WriteCalData::operator()(std::ostream& os)
{
    get_totlen();
    if (countStatus_ != 0)
        return int(countStatus_);
    Write w(os, cap());
    return write(w);
}

} // namespace TessCal
