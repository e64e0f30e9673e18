#include "glowkit/tesscalread.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

// Fuzz builds may read past a wrong CRC, so that mutated records reach the end
// of a successful read (and the writer behind it).
#ifdef GLOWKIT_FUZZ_NO_CRC
static constexpr bool skipCrcCheck = true;
#else
static constexpr bool skipCrcCheck = false;
#endif

namespace TessCal {

namespace {

// Largest piece read at once into a growing buffer, so that a declared length
// never allocates more than the stream actually delivers.
constexpr uint64_t Chunk = 65536;

unsigned u32of(uint64_t v)
{
    return static_cast<unsigned>(std::min<uint64_t>(v, 0xFFFFFFFFu));
}

} // namespace

Read::Read(std::istream& is, bool verbose)
    : is_(is)
    , verbose_(verbose)
{
}

Read::~Read() = default;

void Read::CBHeader(const Header&, uint32_t, uint32_t) {}
bool Read::CBBank(uint8_t bank)
{
    return bank != 0;
}
void Read::CBDone() {}
void Read::CBCalSet(const CalSets&, bool) {}
void Read::CBCalBatchID(const std::string&) {}
void Read::CBCalTileID(const CalTileID&) {}
void Read::CBCalProcInfo(const ProcInfo&) {}
void Read::CBEndTag() {}
void Read::CBMeasTempNum(uint32_t) {}
void Read::CBMeasTempData(uint32_t, const MeasTemp&) {}
void Read::CBPixXYZNum(uint32_t) {}
void Read::CBPixXYZData(uint32_t, const PixMeasXYZ&) {}
void Read::CBOLUTXYYNum(uint32_t) {}
void Read::CBOLUTXYYData(uint32_t, const PixMeasXYY&) {}
void Read::CBOLUTProcInfo(const ProcInfo&) {}
void Read::CBOLUTID(const std::string&) {}
void Read::CBOLUTGamut(const PixXY&) {}
void Read::CBOLUTWhite(const XY&) {}
void Read::CBOLUTRef(const PixMeasXYY&) {}
void Read::CBOLUTDatNum(uint32_t) {}
void Read::CBOLUTDatData(uint32_t, const LUT3DEnt&) {}
void Read::CBOLUTISNum(uint32_t) {}
void Read::CBOLUTISData(uint32_t, uint16_t) {}
void Read::CBOLUTOSNum(uint32_t) {}
void Read::CBOLUTOSData(uint32_t, uint16_t) {}
void Read::CBLowGrayNum(uint32_t, bool) {}
void Read::CBLowGrayData(uint32_t, const LowGrayT<>&) {}
void Read::CBCalTemplate(const std::string&) {}
void Read::CBDefGamut(const PixXY&) {}
void Read::CBDefWhite(const XY&) {}
void Read::CBCalBrightness(float) {}
void Read::CBIdeal(const PixMeasXYZ&) {}
void Read::CBFactoryMatrix(const PixMeasXYZ&) {}
void Read::CBFactoryLowGray(const FactoryLowGrayT&) {}
void Read::CBMeshCorr(MeshCorr&&) {}
void Read::CBDriverPar(const DriverPar&) {}
void Read::CBBadPixNum(uint32_t) {}
void Read::CBBadPixData(uint32_t, const BadPixel&) {}
void Read::CBUnknown(const UnknownKLV&) {}

// ---------------------------------------------------------------------------
// Primitives

int Read::read_buf(void* dst, uint64_t n)
{
    // The position moves on by n whatever the stream delivers: the numbers of
    // the lines that follow a short read count the bytes asked for.
    uint64_t done = 0;
    auto fail = [this, n, &done] {
        if (!eof_)
            std::fprintf(stderr, "*** ERROR L%d: EOF\n", 1007);
        eof_ = true;
        pos_ += n - done;
        return 3;
    };
    if (n == 0)
        return 0;
    if (dst) {
        auto* p = static_cast<char*>(dst);
        uint64_t got = 0;
        while (got < n) {
            const auto want = static_cast<std::streamsize>(std::min<uint64_t>(n - got, Chunk));
            is_.read(p + got, want);
            const auto g = static_cast<uint64_t>(is_.gcount());
            crc_ = crc32_update(crc_, p + got, g);
            got += g;
            pos_ += g;
            done = got;
            if (g < static_cast<uint64_t>(want))
                return fail();
        }
        return 0;
    }
    std::streambuf* sb = is_.rdbuf();
    for (; done < n; ++done) {
        const auto c = is_.good() && sb ? sb->sbumpc() : std::char_traits<char>::eof();
        if (c == std::char_traits<char>::eof()) {
            is_.setstate(std::ios::eofbit | std::ios::failbit);
            return fail();
        }
        crc_ = crc32_update(crc_, static_cast<uint8_t>(c));
        ++pos_;
    }
    return 0;
}

uint8_t Read::read_u8()
{
    uint8_t b = 0;
    if (read_buf(&b, 1))
        return 0;
    return b;
}

uint16_t Read::read_u16()
{
    uint8_t b[2];
    if (read_buf(b, 2))
        return 0;
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t Read::read_u32()
{
    uint8_t b[4];
    if (read_buf(b, 4))
        return 0;
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

uint64_t Read::read_u64()
{
    const uint64_t hi = read_u32();
    const uint64_t lo = read_u32();
    if (eof_)
        return 0;
    return (hi << 32) | lo;
}

float Read::read_f32()
{
    const uint32_t u = read_u32();
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

std::string Read::read_str()
{
    const uint16_t n = read_u16();
    if (eof_ || n == 0)
        return {};
    std::string s(n, '\0');
    if (read_buf(s.data(), n))
        return {};
    return s;
}

std::string Read::read_raw(uint64_t n)
{
    std::string s;
    while (s.size() < n) {
        const size_t old = s.size();
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n - old, Chunk));
        s.resize(old + k);
        if (read_buf(s.data() + old, k)) {
            pos_ += n - old - k; // read piecewise, counted as one read of n
            return {};
        }
    }
    return s;
}

void Read::read_samples(std::vector<uint16_t>& v, uint64_t n)
{
    std::vector<uint8_t> buf;
    v.clear();
    while (v.size() < n) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n - v.size(), Chunk));
        buf.resize(2 * k);
        if (read_buf(buf.data(), buf.size())) {
            pos_ += 2 * (n - v.size() - k); // read piecewise, counted as one read of 2n
            return;
        }
        for (size_t i = 0; i < k; ++i)
            v.push_back(static_cast<uint16_t>((buf[2 * i] << 8) | buf[2 * i + 1]));
    }
}

XY Read::read_xy()
{
    XY v;
    v.x = read_f32();
    v.y = read_f32();
    return v;
}

XYY Read::read_xyy()
{
    XYY v;
    v.x = read_f32();
    v.y = read_f32();
    v.Y = read_f32();
    return v;
}

XYZ Read::read_xyz()
{
    XYZ v;
    v.X = read_f32();
    v.Y = read_f32();
    v.Z = read_f32();
    return v;
}

PixXY Read::read_pixxy()
{
    PixXY v;
    for (uint32_t i = 0; i < sub3(); ++i)
        v[i] = read_xy();
    return v;
}

PixMeasXYZ Read::read_pixxyz()
{
    PixMeasXYZ v;
    for (uint32_t i = 0; i < sub3(); ++i)
        v[i] = read_xyz();
    return v;
}

PixMeasXYY Read::read_pixxyy()
{
    PixMeasXYY v;
    for (uint32_t i = 0; i < sub5(); ++i)
        v[i] = read_xyy();
    return v;
}

ProcInfo Read::read_procinfo(uint32_t len)
{
    ProcInfo v;
    v.w2 = read_u64();
    v.w1 = read_u32();
    if (len > 19) {
        v.w3 = read_u32();
        v.w4 = read_u32();
    }
    return v;
}

// ---------------------------------------------------------------------------
// Stream structure

int Read::read()
{
    const uint32_t magic = read_u32();
    if (eof_) {
        std::fprintf(stderr, "*** ERROR L%d: EOF on magic\n", 183);
        return 1;
    }
    if (magic != Magic) {
        std::fprintf(stderr, "*** ERROR L%d: Unknown magic: 0x%08x\n", 187, magic);
        return 2;
    }

    const uint32_t totlen = read_u32();
    const uint16_t hlen = read_u16();
    if (eof_) {
        std::fprintf(stderr, "*** ERROR L%d: EOF on header\n", 195);
        return 1;
    }
    const uint64_t hpos = pos_;
    if (verbose_)
        std::printf("Total Length:%d,  Header Length:%d, Header Position:%d\n", static_cast<int>(totlen), hlen,
                    static_cast<int>(hpos));

    Header h;
    h.word = read_u32();
    h.pixfmt = read_u8();
    h.width = read_u16();
    h.height = read_u16();
    if (hlen < HeaderLen) {
        std::fprintf(stderr, "*** ERROR L%d: Invalid header len: %u < %u\n", 209, unsigned(hlen), HeaderLen);
        return 1;
    }
    read_buf(nullptr, hlen - HeaderLen);

    const uint32_t blklen = read_u32();
    if (eof_) {
        std::fprintf(stderr, "*** ERROR L%d: EOF on header end\n", 215);
        return 1;
    }

    if (PixFmtSubPix(h.pixfmt) == 0) {
        subpix_ = 0;
        std::fprintf(stderr, "*** ERROR L%d: Invalid pixel format: %u\n", 221, h.pixfmt);
        return 4;
    }
    subpix_ = h.pixfmt;
    pixcount_ = h.width * h.height;
    CBHeader(h, totlen, blklen);
    if (verbose_)
        std::printf("Header Width:%d, Header Height:%d\n", static_cast<int>(h.width), static_cast<int>(h.height));

    if (const int r = read_klv_block(pos_ + blklen))
        return r;

    const uint64_t end = 8 + uint64_t(totlen);
    if (pos_ > end) {
        std::fprintf(stderr, "*** ERROR L%d: Invalid total length: %u, %u\n", 236, totlen, u32of(pos_));
        return 1;
    }
    read_buf(nullptr, end - pos_);

    const uint32_t computed = ~crc_;
    const uint32_t stored = read_u32();
    if (eof_) {
        std::fprintf(stderr, "*** ERROR L%d: EOF on CRC\n", 246);
        return 1;
    }
    if (stored == computed || skipCrcCheck) {
        if (verbose_)
            std::printf("KLV CRC Good\n");
        CBDone();
        return 0;
    }
    if (verbose_)
        std::printf("KLV CRC mismatch 0x%08x != 0x%08x\n", stored, computed);
    else
        std::fprintf(stderr, "*** ERROR L%d: CRC mismatch: 0x%08x != 0x%08x, pos: %u\n", 254, stored, computed,
                     u32of(pos_));
    return 1;
}

int Read::read_klv_block(uint64_t end)
{
    while (pos_ + 9 <= end)
        if (const int r = read_klv())
            return r;
    if (pos_ == end)
        return 0;
    std::fprintf(stderr, "*** ERROR L%d: Invalid KLV len: %u, %u\n", 159, u32of(end), u32of(pos_));
    if (pos_ > end)
        return 1;
    read_buf(nullptr, end - pos_);
    return 0;
}

int Read::read_klv_block()
{
    while (is_.good() && is_.peek() != std::char_traits<char>::eof()) {
        const int r = read_klv();
        if (r == 3)
            return 0; // an end tag closes a headerless block
        if (r)
            return r;
    }
    return 0;
}

int Read::read_klv_header(uint32_t& key, uint32_t& len, uint8_t& bank)
{
    key = read_u32();
    if (key == 0)
        std::fprintf(stderr, "*** ERROR L%d: Zero KLV ID @ %u, GFE: %d/%d/%d\n", 267, u32of(pos_), int(is_.good()),
                     int(is_.fail()), int(is_.eof()));
    len = read_u32();
    bank = read_u8();
    if (eof_) {
        std::fprintf(stderr, "*** ERROR L%d: EOF on KLV header\n", 274);
        return 1;
    }
    return 0;
}

int Read::read_klv()
{
    uint32_t key = 0, len = 0;
    uint8_t bank = 0;
    if (read_klv_header(key, len, bank))
        return 1;
    const uint64_t start = pos_;

    if (verbose_) {
        if (const char* name = keyname(key))
            std::printf("Key:%s, Bytes:%u, Bank:%u, Start@:%u\n", name, len, unsigned(bank), u32of(start));
        else
            std::printf("Key:Unknown[0x%08X], Bytes:%u, Bank:%u, Start@:%u\n", key, len, unsigned(bank),
                        u32of(start));
    }

    if (CBBank(bank)) {
        read_buf(nullptr, len);
        return eof_ ? 1 : 0;
    }

    const int r = read_payload(key, len, start);
    if (r == 1)
        return 1;
    if (key == Key::EndTag)
        len = 0;

    const uint32_t set = keyset(key);
    if (set < SetCount)
        seen_ |= 1u << set;

    const uint64_t consumed = pos_ - start;
    if (eof_ || consumed > len) {
        std::fprintf(stderr, "*** ERROR L%d: Invalid KLV 0x%08x length: %u, %u, eof: %d\n", 640, key,
                     u32of(consumed), len, int(eof_));
        return 1;
    }
    if (consumed < len)
        read_buf(nullptr, len - consumed);
    return key == Key::EndTag ? 3 : 0;
}

// Reads the payload of one record; 1 when the record is refused outright.
int Read::read_payload(uint32_t key, uint32_t len, uint64_t start)
{
    const uint32_t s3 = sub3(), s5 = sub5();

    // Calls num(n), then data(i, value) for each entry until the stream ends.
    auto list = [this](uint32_t n, auto num, auto readOne, auto data) {
        num(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto v = readOne();
            if (eof_)
                break;
            data(i, v);
        }
    };

    switch (key) {
    case Key::CalSet: {
        const uint16_t n = read_u16();
        if (eof_)
            break;
        const uint32_t bit = n < 32 ? 1u << n : 0u;
        const bool first = (seen_ & bit) == 0;
        CBCalSet(CalSets{bit, 0}, first);
        if (verbose_) {
            const char* name = setname(n);
            std::printf("Set: %u/%s, first: %d\n", unsigned(n), name ? name : "???", int(first));
        }
        break;
    }
    case Key::CalBatchID:
        CBCalBatchID(read_str());
        break;
    case Key::OLUTID:
        CBOLUTID(read_str());
        break;
    case Key::CalTileID: {
        CalTileID v;
        read_buf(v.raw.data(), v.raw.size());
        v.a = read_u32();
        v.b = read_u32();
        v.c = read_f32();
        v.d = read_u8();
        CBCalTileID(v);
        break;
    }
    case Key::CalProcInfo:
        CBCalProcInfo(read_procinfo(len));
        break;
    case Key::OLUTProcInfo:
        CBOLUTProcInfo(read_procinfo(len));
        break;
    case Key::CalBrightness:
        CBCalBrightness(read_f32());
        break;
    case Key::DefaultGamut:
        CBDefGamut(read_pixxy());
        break;
    case Key::OLUTGamut:
        CBOLUTGamut(read_pixxy());
        break;
    case Key::DefaultWhite:
        CBDefWhite(read_xy());
        break;
    case Key::OLUTWhite:
        CBOLUTWhite(read_xy());
        break;
    case Key::IdealGamut:
        CBIdeal(read_pixxyz());
        break;
    case Key::CalFactoryCorr:
        CBFactoryMatrix(read_pixxyz());
        break;
    case Key::CalFactoryLow: {
        FactoryLowGrayT v;
        for (uint32_t i = 0; i < s3; ++i)
            v.v[i] = static_cast<int16_t>(read_u16());
        CBFactoryLowGray(v);
        break;
    }
    case Key::OLUTRef:
        CBOLUTRef(read_pixxyy());
        break;
    case Key::CalTemplate:
        CBCalTemplate(read_raw(len));
        break;
    case Key::MeasTemp: {
        const uint8_t n = read_u8();
        if (eof_)
            break;
        list(
            n, [this](uint32_t k) { CBMeasTempNum(k); },
            [this, s3] {
                MeasTemp m;
                m.tag = read_u8();
                for (uint32_t i = 0; i < s3; ++i)
                    m.v[i] = read_u32();
                return m;
            },
            [this](uint32_t i, const MeasTemp& m) { CBMeasTempData(i, m); });
        break;
    }
    case Key::PixelsXYZ: {
        const uint32_t n = s3 ? std::min(pixcount_, len / (12 * s3)) : 0;
        list(
            n, [this](uint32_t k) { CBPixXYZNum(k); }, [this] { return read_pixxyz(); },
            [this](uint32_t i, const PixMeasXYZ& v) { CBPixXYZData(i, v); });
        break;
    }
    case Key::OLUTXYY: {
        const uint32_t n = s5 ? std::min(pixcount_, len / (12 * s5)) : 0;
        list(
            n, [this](uint32_t k) { CBOLUTXYYNum(k); }, [this] { return read_pixxyy(); },
            [this](uint32_t i, const PixMeasXYY& v) { CBOLUTXYYData(i, v); });
        break;
    }
    case Key::OLUTDat: {
        const uint32_t n = s5 ? len / (2 * s5) : 0;
        list(
            n, [this](uint32_t k) { CBOLUTDatNum(k); },
            [this, s5] {
                LUT3DEnt e;
                for (uint32_t i = 0; i < s5; ++i)
                    e.v[i] = read_u16();
                return e;
            },
            [this](uint32_t i, const LUT3DEnt& e) { CBOLUTDatData(i, e); });
        break;
    }
    case Key::OLUTIShaper:
        list(
            len / 2, [this](uint32_t k) { CBOLUTISNum(k); }, [this] { return read_u16(); },
            [this](uint32_t i, uint16_t v) { CBOLUTISData(i, v); });
        break;
    case Key::OLUTOShaper:
        list(
            len / 2, [this](uint32_t k) { CBOLUTOSNum(k); }, [this] { return read_u16(); },
            [this](uint32_t i, uint16_t v) { CBOLUTOSData(i, v); });
        break;
    case Key::BadPixels:
        list(
            len / 6, [this](uint32_t k) { CBBadPixNum(k); },
            [this] {
                BadPixel b;
                b.x = read_u16();
                b.y = read_u16();
                b.attr1 = read_u8();
                b.attr2 = read_u8();
                return b;
            },
            [this](uint32_t i, const BadPixel& b) { CBBadPixData(i, b); });
        break;
    case Key::LowGray16:
    case Key::LowGray8: {
        const bool is16 = key == Key::LowGray16;
        const uint32_t width = is16 ? 2 * s3 : s3;
        uint32_t n = width ? len / width : 0;
        if (pixcount_ != 0 && n > pixcount_)
            n = pixcount_;
        list(
            n, [this, is16](uint32_t k) { CBLowGrayNum(k, is16); },
            [this, s3, is16] {
                LowGrayT<> e;
                for (uint32_t i = 0; i < s3; ++i)
                    e.v[i] = is16 ? read_u16() : read_u8();
                return e;
            },
            [this](uint32_t i, const LowGrayT<>& e) { CBLowGrayData(i, e); });
        break;
    }
    case Key::DriverPar: {
        DriverPar d;
        d.name = read_str();
        const uint8_t type = read_u8();
        if (eof_)
            break;
        switch (type) {
        case 0:
            d.value = read_u32();
            break;
        case 1:
            d.value = read_f32();
            break;
        case 2:
            d.value = read_u64();
            break;
        default:
            std::fprintf(stderr, "*** WARN L%d: Unknown DriverPar type: %u, name: %s\n", 569, unsigned(type),
                         d.name.c_str());
            return 0;
        }
        if (!eof_)
            CBDriverPar(d);
        break;
    }
    case Key::CalMeshCorr: {
        MeshCorr m;
        m.name = read_str();
        m.width = read_u32();
        m.height = read_u32();
        for (float& g : m.geometry)
            g = read_f32();
        for (float& v : m.value)
            v = read_f32();
        m.reserved = read_u32();
        if (subpix_ != 0) {
            const uint64_t samples = uint64_t(m.width) * m.height;
            for (uint32_t p = 0; p < s5 && !eof_; ++p) {
                const uint8_t present = read_u8();
                if (eof_ || present == 0)
                    continue;
                // The sizes are untrusted: the samples must fit in what the
                // record declares before anything is allocated for them.
                const uint64_t consumed = pos_ - start;
                if (consumed > len || samples > (len - consumed) / 2) {
                    const uint64_t need = samples > (uint64_t(1) << 40) ? ~uint64_t(0) : consumed + 2 * samples;
                    std::fprintf(stderr, "*** ERROR L%d: Invalid KLV 0x%08x length: %u, %u, eof: %d\n", 640, key,
                                 u32of(need), len, int(eof_));
                    return 1;
                }
                read_samples(m.planes[p], samples);
            }
        }
        // A mesh cut short by the end of the stream would break the
        // one-sample-per-cell rule of its planes: it is not handed on.
        if (!eof_)
            CBMeshCorr(std::move(m));
        break;
    }
    case Key::EndTag:
        return 3;
    case Key::CalEmpty:
        break;
    default:
        if (keydeleted(key)) {
            std::fprintf(stderr, "*** INFO L%d: Dropping deleted KLV ID: 0x%08x, %s\n", 588, key, keyname(key));
            break;
        }
        std::fprintf(stderr, "*** WARN L%d: Unknown KLV ID: 0x%08x, len: %u\n", 608, key, len);
        if (len > UnknownMaxLen) {
            std::fprintf(stderr, "*** ERROR L%d: Unknown key 0x%08x length too big: %u\n", 611, key, len);
            break;
        }
        {
            uint8_t* raw = new (std::nothrow) uint8_t[len ? len : 1];
            if (!raw) {
                std::fprintf(stderr, "*** ERROR L%d: Unknown key 0x%08x alloc fail len: %u\n", 618, key, len);
                break;
            }
            std::shared_ptr<const uint8_t[]> bytes(raw);
            if (read_buf(raw, len) == 0)
                CBUnknown(UnknownKLV{key, len, std::move(bytes), 0});
        }
        break;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// ReadCB

ReadCB::ReadCB(std::istream& is, CalData& data, SourceID source)
    : Read(is)
    , data_(data)
    , source_(source)
{
}

void ReadCB::CBHeader(const Header& h, uint32_t, uint32_t)
{
    data_.header = h;
}

void ReadCB::CBDone()
{
    done_ = true;
}

void ReadCB::CBCalSet(const CalSets& set, bool first)
{
    // Only sets 0..7 exist; a marker for any other number announces nothing.
    const CalSets known{set.mask & CalSets::SetMask, 0};
    announced_.mask |= known.mask;
    if (first)
        known.foreach([this](uint32_t n) { data_.clearSet(n); });
}

void ReadCB::CBCalBatchID(const std::string& s)
{
    data_.batchID = s;
}

void ReadCB::CBCalTileID(const CalTileID& v)
{
    data_.tileID = v;
}

void ReadCB::CBCalProcInfo(const ProcInfo& v)
{
    data_.procInfo = v;
}

void ReadCB::CBMeasTempData(uint32_t, const MeasTemp& v)
{
    data_.measTemp.push_back(v);
}

void ReadCB::CBPixXYZData(uint32_t index, const PixMeasXYZ& v)
{
    auto& list = data_.pixelsXYZ;
    if (index == list.size())
        list.push_back(v);
    else if (index < list.size())
        list[index] = v;
    else
        std::fprintf(stderr, "*** ERROR L%d: Not supported\n", 728);
}

void ReadCB::CBOLUTXYYData(uint32_t, const PixMeasXYY& v)
{
    data_.olutXYY.push_back(v);
}

void ReadCB::CBOLUTProcInfo(const ProcInfo& v)
{
    data_.olutProcInfo = v;
}

void ReadCB::CBOLUTID(const std::string& s)
{
    data_.olutID = s;
}

void ReadCB::CBOLUTGamut(const PixXY& v)
{
    data_.olutGamut = v;
}

void ReadCB::CBOLUTWhite(const XY& v)
{
    data_.olutWhite = v;
}

void ReadCB::CBOLUTRef(const PixMeasXYY& v)
{
    data_.olutRef = v;
}

void ReadCB::CBOLUTDatData(uint32_t, const LUT3DEnt& v)
{
    data_.olutDat.push_back(v);
}

void ReadCB::CBOLUTISData(uint32_t, uint16_t v)
{
    data_.olutIShaper.push_back(v);
}

void ReadCB::CBOLUTOSData(uint32_t, uint16_t v)
{
    data_.olutOShaper.push_back(v);
}

void ReadCB::CBLowGrayNum(uint32_t, bool is16)
{
    data_.lowGray.entries.clear();
    data_.lowGray.is16 = is16;
}

void ReadCB::CBLowGrayData(uint32_t, const LowGrayT<>& v)
{
    data_.lowGray.entries.push_back(v);
}

void ReadCB::CBCalTemplate(const std::string& s)
{
    data_.calTemplate = s;
}

void ReadCB::CBDefGamut(const PixXY& v)
{
    data_.defaultGamut = v;
}

void ReadCB::CBDefWhite(const XY& v)
{
    data_.defaultWhite = v;
}

void ReadCB::CBCalBrightness(float v)
{
    data_.brightness = v;
}

void ReadCB::CBIdeal(const PixMeasXYZ& v)
{
    data_.idealGamut = v;
}

void ReadCB::CBFactoryMatrix(const PixMeasXYZ& v)
{
    data_.factoryMatrix = v;
}

void ReadCB::CBFactoryLowGray(const FactoryLowGrayT& v)
{
    data_.factoryLowGray = v;
}

void ReadCB::CBMeshCorr(MeshCorr&& v)
{
    data_.mesh = std::move(v);
}

void ReadCB::CBBadPixData(uint32_t index, const BadPixel& v)
{
    if (index == data_.badPixels.size())
        data_.badPixels.push_back(v);
    else
        std::fprintf(stderr, "*** ERROR L%d: Not supported\n", 758);
}

void ReadCB::CBUnknown(const UnknownKLV& v)
{
    UnknownKLV kept = v;
    kept.source = source_;
    data_.unknown.push_back(std::move(kept));
}

// ---------------------------------------------------------------------------

int ReadCalData(std::istream& is, CalData& data, CalSets& sets, SourceID source)
{
    ReadCB reader(is, data, source);
    reader.read();
    sets.mask |= reader.announced().mask;
    if (reader.done())
        return 0;
    reader.announced().foreach([&data](uint32_t n) { data.clearSet(n); });
    return 1;
}

int ValidateCalData(std::istream& is)
{
    Read reader(is, true);
    return reader.read();
}

} // namespace TessCal
