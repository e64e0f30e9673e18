#pragma once

// TessCal: the library's key-length-value calibration container.
//
// A stream is a fixed header, a block of records (U32 key, U32 payload length,
// U8 bank, payload) and a CRC-32 trailer; all numbers are big-endian. This
// header holds the vocabulary shared by the reader, the writer and the colour
// math: value groups, keys and their names, calibration sets, pixel formats,
// the in-memory content of one stream (CalData) and the CRC-32.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace TessCal {

// ---------------------------------------------------------------------------
// Stream constants

inline constexpr uint32_t Magic = 0xCD57AB34u;
// Header fields after the header-length field: word, format, width, height.
inline constexpr uint32_t HeaderLen = 9;
// Largest payload of an unknown record that is kept.
inline constexpr uint32_t UnknownMaxLen = 65536;

// ---------------------------------------------------------------------------
// Keys

namespace Key {
enum : uint32_t {
    CalEmpty = 0x00000000u,
    CalBatchID = 0x00000001u,
    CalTileID = 0x00000004u,
    CalProcInfo = 0x00000005u,
    CalBrightness = 0x00000006u,
    DefaultGamut = 0x00010002u,
    DefaultWhite = 0x00010003u,
    IdealGamut = 0x00010004u,
    MeasTemp = 0x00010010u,
    DriverPar = 0x00010012u,
    LowGray16 = 0x00020002u,
    PixelsXYZ = 0x00030001u,
    OLUTXYY = 0x00030004u,
    LowGray8 = 0x00030005u,
    OLUTDat = 0x00030006u,
    OLUTRef = 0x00030007u,
    CalTemplate = 0x00030008u,
    OLUTIShaper = 0x00030009u,
    OLUTOShaper = 0x0003000Au,
    OLUTGamut = 0x0003000Bu,
    OLUTWhite = 0x0003000Cu,
    OLUTProcInfo = 0x0003000Du,
    OLUTID = 0x0003000Eu,
    CalFactoryCorr = 0x00040001u,
    CalFactoryLow = 0x00050004u,
    BadPixels = 0x00060000u,
    CalMeshCorr = 0x00070001u,
    CalSet = 0xFFFF0001u,
    EndTag = 0xFFFFFFFFu,
    // Deleted keys: recognised and dropped.
    xBlueContrib = 0x00010001u,
    xIdealCache = 0x00020001u,
    xPixelsXYY = 0x00030002u,
    xPixelXYZCmd = 0x00030003u,
    xSeamCorr = 0x00030010u,
    xPixelXYZMod = 0x00040002u,
    xPixAverage = 0x00050001u,
    xIdealTarget = 0x00050002u,
    xBankMeta = 0x00050003u,
};
} // namespace Key

// Name of a known key, nullptr for any other key.
const char* keyname(uint32_t key);
// Name of a calibration set 0..7, nullptr above.
const char* setname(uint32_t set);

// Results of keyset() that are not sets.
inline constexpr uint32_t SetNone = 9;
inline constexpr uint32_t SetDeleted = 10;
inline constexpr uint32_t SetBeyond = 11;
inline constexpr uint32_t SetCount = 8;

// Calibration set of a key: 0..7, or SetNone, SetDeleted, SetBeyond.
uint32_t keyset(uint32_t key);
// True for the nine deleted keys.
bool keydeleted(uint32_t key);

// Sub-pixels per pixel of a pixel format: 1, 3, 4 or 5; 0 for an invalid format.
uint32_t PixFmtSubPix(uint32_t pixfmt);

// ---------------------------------------------------------------------------
// Value groups

struct XY {
    float x = 0, y = 0;
};

struct XYY {
    float x = 0, y = 0, Y = 0;
};

struct XYZ {
    float X = 0, Y = 0, Z = 0;
};

// One chromaticity per channel (3 channels in memory).
struct PixXY {
    std::array<XY, 3> c{};
    XY& operator[](size_t i) { return c[i]; }
    const XY& operator[](size_t i) const { return c[i]; }
};

// One XYZ per channel; also a 3x3 matrix whose row i is channel i.
struct PixMeasXYZ {
    std::array<XYZ, 3> c{};
    XYZ& operator[](size_t i) { return c[i]; }
    const XYZ& operator[](size_t i) const { return c[i]; }
};

// One xyY per channel (5 channels in memory).
struct PixMeasXYY {
    std::array<XYY, 5> c{};
    XYY& operator[](size_t i) { return c[i]; }
    const XYY& operator[](size_t i) const { return c[i]; }
};

// One output look-up entry per channel (5 in memory).
struct LUT3DEnt {
    std::array<uint16_t, 5> v{};
};

// Low-grey entry: one 16-bit value per channel (3 in memory). The low-grey
// table holds unsigned values, the factory low grey signed ones.
template <typename T = uint16_t>
struct LowGrayT {
    std::array<T, 3> v{};
};
using FactoryLowGrayT = LowGrayT<int16_t>;

struct LowGrayVec {
    std::vector<LowGrayT<>> entries;
    bool is16 = false; // written as LowGray16 when set, else as LowGray8
};

struct BadPixel {
    uint16_t x = 0, y = 0;
    uint8_t attr1 = 0, attr2 = 0;
};

struct MeasTemp {
    uint8_t tag = 0;
    std::array<uint32_t, 3> v{};
};

// Process information. On the wire: w2 (U64), w1, w3, w4.
struct ProcInfo {
    uint32_t w1 = 0;
    uint64_t w2 = 0;
    uint32_t w3 = 0;
    uint32_t w4 = 0;
};

struct CalTileID {
    std::array<uint8_t, 6> raw{};
    uint32_t a = 0;
    uint32_t b = 0;
    float c = 0;
    uint8_t d = 0;
};

struct Header {
    uint32_t word = 1;
    uint32_t pixfmt = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Correction mesh: up to five planes of unsigned 1.15 fixed-point gains.
struct MeshCorr {
    std::array<std::vector<uint16_t>, 5> planes;
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    std::array<float, 4> geometry{};
    std::array<float, 2> value{};
    uint32_t reserved = 0;

    // True when anything differs from a default mesh (a NaN counts as set).
    bool hasData() const;
};

using SourceID = uint32_t;

// A record of a key this library does not know, kept as opaque bytes.
struct UnknownKLV {
    uint32_t key = 0;
    uint32_t len = 0;
    std::shared_ptr<const uint8_t[]> data;
    SourceID source = 0;
};

struct DriverPar {
    std::string name;
    std::variant<uint32_t, float, uint64_t> value;
};

// Selection of calibration sets: bit n (0..7) selects set n; bit 31 asks the
// writer to also emit every kept unknown record of `source`.
struct CalSets {
    static constexpr uint32_t SetMask = 0xFFu;
    static constexpr uint32_t SourceBit = 0x80000000u;

    uint32_t mask = 0;
    SourceID source = 0;

    bool has(uint32_t set) const { return set < SetCount && (mask >> set) & 1u; }

    template <typename F>
    void foreach(F&& f) const
    {
        for (uint32_t n = 0; n < SetCount; ++n)
            if (has(n))
                f(n);
    }
};

// ---------------------------------------------------------------------------
// Content of one stream

struct CalData {
    Header header;                       //
    PixMeasXYZ factoryMatrix;            // set 4
    FactoryLowGrayT factoryLowGray;      // set 5
    std::string batchID;                 // set 0
    CalTileID tileID;                    // set 0
    ProcInfo procInfo;                   // set 0
    float brightness = 0;                // set 0
    PixXY defaultGamut;                  // set 0
    XY defaultWhite;                     // set 0
    PixMeasXYZ idealGamut;               // set 0
    std::vector<MeasTemp> measTemp;      // set 0
    std::vector<PixMeasXYZ> pixelsXYZ;   // set 0
    std::vector<PixMeasXYY> olutXYY;     // set 0
    std::string calTemplate;             // set 0
    LowGrayVec lowGray;                  // set 2
    std::string olutID;                  // set 3
    ProcInfo olutProcInfo;               // set 3
    PixXY olutGamut;                     // set 3
    XY olutWhite;                        // set 3
    std::vector<LUT3DEnt> olutDat;       // set 3
    PixMeasXYY olutRef;                  // set 3
    std::vector<uint16_t> olutIShaper;   // set 3
    std::vector<uint16_t> olutOShaper;   // set 3
    std::vector<BadPixel> badPixels;     // set 6
    MeshCorr mesh;                       // set 7
    std::vector<UnknownKLV> unknown;

    // Empties or zeroes every member of a set 0..7 and drops the unknown
    // records of that set.
    void clearSet(uint32_t set);
};

// ---------------------------------------------------------------------------
// CRC-32 (reflected 0x04C11DB7, the checksum of zlib and PNG). The register
// starts at 0xFFFFFFFF; the checksum is its complement.

inline constexpr uint32_t CrcInit = 0xFFFFFFFFu;
// The 256-entry table, built once on first use (thread-safe).
const std::array<uint32_t, 256>& crc32_table();
inline uint32_t crc32_update(uint32_t reg, uint8_t byte)
{
    return crc32_table()[(reg ^ byte) & 0xFFu] ^ (reg >> 8);
}
uint32_t crc32_update(uint32_t reg, const void* data, size_t n);
// Checksum of a whole buffer.
uint32_t crc32(const void* data, size_t n);

} // namespace TessCal
