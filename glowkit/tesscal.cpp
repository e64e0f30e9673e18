#include "glowkit/tesscal.h"

#include <algorithm>

namespace TessCal {

namespace {

struct KeyName {
    uint32_t key;
    const char* name;
};

constexpr KeyName keyNames[] = {
    {Key::CalEmpty, "CalEmpty"},
    {Key::CalBatchID, "CalBatchID"},
    {Key::CalTileID, "CalTileID"},
    {Key::CalProcInfo, "CalProcInfo"},
    {Key::CalBrightness, "CalBrightness"},
    {Key::DefaultGamut, "DefaultGamut"},
    {Key::DefaultWhite, "DefaultWhite"},
    {Key::IdealGamut, "IdealGamut"},
    {Key::MeasTemp, "MeasTemp"},
    {Key::DriverPar, "DriverPar"},
    {Key::LowGray16, "LowGray16"},
    {Key::PixelsXYZ, "PixelsXYZ"},
    {Key::OLUTXYY, "OLUTXYY"},
    {Key::LowGray8, "LowGray8"},
    {Key::OLUTDat, "OLUTDat"},
    {Key::OLUTRef, "OLUTRef"},
    {Key::CalTemplate, "CalTemplate"},
    {Key::OLUTIShaper, "OLUTIShaper"},
    {Key::OLUTOShaper, "OLUTOShaper"},
    {Key::OLUTGamut, "OLUTGamut"},
    {Key::OLUTWhite, "OLUTWhite"},
    {Key::OLUTProcInfo, "OLUTProcInfo"},
    {Key::OLUTID, "OLUTID"},
    {Key::CalFactoryCorr, "CalFactoryCorr"},
    {Key::CalFactoryLow, "CalFactoryLow"},
    {Key::BadPixels, "BadPixels"},
    {Key::CalMeshCorr, "CalMeshCorr"},
    {Key::CalSet, "CalSet"},
    {Key::EndTag, "EndTag"},
    {Key::xBlueContrib, "xBlueContrib"},
    {Key::xIdealCache, "xIdealCache"},
    {Key::xPixelsXYY, "xPixelsXYY"},
    {Key::xPixelXYZCmd, "xPixelXYZCmd"},
    {Key::xSeamCorr, "xSeamCorr"},
    {Key::xPixelXYZMod, "xPixelXYZMod"},
    {Key::xPixAverage, "xPixAverage"},
    {Key::xIdealTarget, "xIdealTarget"},
    {Key::xBankMeta, "xBankMeta"},
};
static_assert(std::size(keyNames) == 38);

constexpr uint32_t deletedKeys[] = {
    Key::xBlueContrib, Key::xIdealCache, Key::xPixelsXYY,   Key::xPixelXYZCmd, Key::xSeamCorr,
    Key::xPixelXYZMod, Key::xPixAverage, Key::xIdealTarget, Key::xBankMeta,
};

// Keys whose upper 16 bits do not give their set.
constexpr uint32_t specialSet0Keys[] = {
    Key::DefaultGamut, Key::DefaultWhite, Key::IdealGamut, Key::MeasTemp,
    Key::PixelsXYZ,    Key::OLUTXYY,      Key::CalTemplate,
};

constexpr const char* setNames[SetCount] = {
    "HighGray", "Driver", "LowGray", "OLUT", "FactCorrHigh", "FactCorrLow", "BadPixels", "FactCorrMesh",
};

template <typename C>
bool contains(const C& c, uint32_t key)
{
    return std::find(std::begin(c), std::end(c), key) != std::end(c);
}

} // namespace

const char* keyname(uint32_t key)
{
    for (const auto& k : keyNames)
        if (k.key == key)
            return k.name;
    return nullptr;
}

const char* setname(uint32_t set)
{
    return set < SetCount ? setNames[set] : nullptr;
}

bool keydeleted(uint32_t key)
{
    return contains(deletedKeys, key);
}

uint32_t keyset(uint32_t key)
{
    if (key == 0)
        return SetNone;
    if (keydeleted(key))
        return SetDeleted;
    if (contains(specialSet0Keys, key))
        return 0;
    if (key == Key::LowGray8)
        return 2;
    if ((key >> 16) == 0xFFFFu)
        return SetNone;
    if (key >= 0x00080000u)
        return SetBeyond;
    return key >> 16;
}

uint32_t PixFmtSubPix(uint32_t pixfmt)
{
    switch (pixfmt) {
    case 1:
    case 3:
    case 4:
    case 5:
        return pixfmt;
    default:
        return 0;
    }
}

bool MeshCorr::hasData() const
{
    for (const auto& p : planes)
        if (!p.empty())
            return true;
    if (!name.empty() || width != 0 || height != 0 || reserved != 0)
        return true;
    for (float g : geometry)
        if (g != 0)
            return true;
    for (float v : value)
        if (v != 0)
            return true;
    return false;
}

void CalData::clearSet(uint32_t set)
{
    switch (set) {
    case 0:
        batchID.clear();
        calTemplate.clear();
        measTemp.clear();
        pixelsXYZ.clear();
        olutXYY.clear();
        tileID = {};
        procInfo = {};
        brightness = 0;
        defaultGamut = {};
        defaultWhite = {};
        idealGamut = {};
        break;
    case 2:
        lowGray = {};
        break;
    case 3:
        olutID.clear();
        olutDat.clear();
        olutIShaper.clear();
        olutOShaper.clear();
        olutProcInfo = {};
        olutGamut = {};
        olutWhite = {};
        olutRef = {};
        break;
    case 4:
        factoryMatrix = {};
        break;
    case 5:
        factoryLowGray = {};
        break;
    case 6:
        badPixels.clear();
        break;
    case 7:
        mesh = {};
        break;
    default: // set 1 holds nothing; other numbers are no sets
        break;
    }
    if (set >= SetCount)
        return;
    std::erase_if(unknown, [set](const UnknownKLV& u) { return keyset(u.key) == set; });
    unknown.shrink_to_fit();
}

const std::array<uint32_t, 256>& crc32_table()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint32_t crc32_update(uint32_t reg, const void* data, size_t n)
{
    const auto& t = crc32_table();
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i)
        reg = t[(reg ^ p[i]) & 0xFFu] ^ (reg >> 8);
    return reg;
}

uint32_t crc32(const void* data, size_t n)
{
    return ~crc32_update(CrcInit, data, n);
}

} // namespace TessCal
