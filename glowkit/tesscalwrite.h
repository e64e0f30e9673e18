#pragma once

// TessCal writer. `Write` holds the primitives and one record method per
// record kind; `WriteCalData` chooses the records of a CalData and writes the
// stream in two passes: first into a counting null stream to measure the
// lengths that the header carries, then for real. So the target stream need
// not seek, and a failure of the counting pass leaves it untouched.
//
// Statuses: 0 written; 3 stream failure, over-long string, invalid mesh or
// lengths that do not add up; 4 invalid pixel format.

#include "glowkit/tesscal.h"

#include <ostream>
#include <streambuf>

namespace TessCal {

class Write {
public:
    explicit Write(std::ostream& os, uint32_t strcap = 65536);
    virtual ~Write();

    Write(const Write&) = delete;
    Write& operator=(const Write&) = delete;

    // Primitives: 0, or 3 after a stream failure.
    int write_buf(const void* data, size_t n);
    int write_u8(uint8_t v);
    int write_u16(uint16_t v);
    int write_u32(uint32_t v);
    int write_u64(uint64_t v);
    int write_f32(float v);
    int write_str(const std::string& s);
    int write_klv(uint32_t key, uint32_t len);
    int write_xy(const XY& v);
    int write_xyy(const XYY& v);
    int write_xyz(const XYZ& v);
    int write_pix(const PixXY& v);
    int write_pix(const PixMeasXYZ& v);
    int write_pix(const PixMeasXYY& v);

    // Records.
    int CBHeader(const Header& h, uint32_t totlen, uint32_t blklen);
    int CBCalSet(const CalSets& sets);
    int CBCalBatchID(const std::string& s, bool olut = false);
    int CBCalTileID(const CalTileID& v);
    int CBCalProcInfo(const ProcInfo& v, bool olut = false);
    int CBCalBrightness(float v);
    int CBDefGamut(const PixXY& v, bool olut = false);
    int CBDefWhite(const XY& v, bool olut = false);
    int CBIdeal(const PixMeasXYZ& v);
    int CBMeasTemp(const std::vector<MeasTemp>& list);
    int CBMeasTempNum(uint32_t n);
    int CBMeasTempData(uint32_t index, const MeasTemp& v);
    int CBDriverPar(const DriverPar& v);
    int CBPixXYZ(const std::vector<PixMeasXYZ>& list);
    int CBPixXYZNum(uint32_t n);
    int CBPixXYZData(uint32_t index, const PixMeasXYZ& v);
    int CBOLUTXYY(const std::vector<PixMeasXYY>& list);
    int CBOLUTXYYNum(uint32_t n);
    int CBOLUTXYYData(uint32_t index, const PixMeasXYY& v);
    int CBLowGray(const LowGrayVec& v);
    int CBOLUTDat(const std::vector<LUT3DEnt>& list);
    int CBOLUTDatNum(uint32_t n);
    int CBOLUTDatData(uint32_t index, const LUT3DEnt& v);
    int CBOLUTRef(const PixMeasXYY& v);
    int CBCalTemplate(const std::string& s);
    int CBOLUTIS(const std::vector<uint16_t>& list);
    int CBOLUTISNum(uint32_t n);
    int CBOLUTISData(uint32_t index, uint16_t v);
    int CBOLUTOS(const std::vector<uint16_t>& list);
    int CBOLUTOSNum(uint32_t n);
    int CBOLUTOSData(uint32_t index, uint16_t v);
    int CBFactoryMatrix(const PixMeasXYZ& v);
    int CBFactoryLowGray(const FactoryLowGrayT& v);
    int CBBadPix(const std::vector<BadPixel>& list);
    int CBBadPixNum(uint32_t n);
    int CBBadPixData(uint32_t index, const BadPixel& v);
    // Refuses (status 3, error flag set, nothing written) a mesh whose
    // non-empty planes do not hold exactly width x height samples.
    int CBMeshCorr(const MeshCorr& v);
    int CBUnknown(const UnknownKLV& v);
    int CBEndTag();
    // Checks the lengths and writes the CRC.
    int CBDone();

    // Index of the first plane (below S5) of `m` that is neither empty nor
    // width x height samples long, or -1.
    static int invalidMeshPlane(const MeshCorr& m, uint32_t subpix);
    static void reportInvalidMesh(const MeshCorr& m, int plane);

    bool error() const { return error_; }
    uint64_t position() const { return pos_; }
    uint32_t totlen() const { return totlen_; }
    uint32_t blklen() const { return blklen_; }

private:
    uint32_t sub3() const { return subpix_ < 3 ? subpix_ : 3; }
    uint32_t sub5() const { return subpix_ < 5 ? subpix_ : 5; }
    // Bytes of a string after the cap.
    size_t strbytes(const std::string& s) const;
    int fail() { error_ = true; return 3; }

    std::ostream& os_;
    uint64_t pos_ = 0;
    uint32_t crc_ = CrcInit;
    bool error_ = false;
    bool quiet_ = false;
    uint64_t posTotlen_ = 0;
    uint64_t posBlklen_ = 0;
    uint32_t totlen_ = 0;
    uint32_t blklen_ = 0;
    uint64_t counted_ = 0;
    uint32_t subpix_ = 0;
    uint32_t strcap_ = 65536;
};

// Output stream that discards everything and never fails.
class WCBNull : public std::ostream {
public:
    WCBNull();

private:
    class Buf : public std::streambuf {
    protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    Buf buf_;
};

class WriteCalData {
public:
    WriteCalData(const CalData& data, CalSets sets);

    // One pass over `w`.
    int write(Write& w);
    // Size of the whole stream in bytes (counted once); 0 when counting failed.
    uint32_t get_totlen();
    // Counts, then writes to `os`; a failed count leaves `os` untouched.
    int operator()(std::ostream& os);

    // Cap on string lengths; 0 means 65536.
    uint32_t strcap = 0;

private:
    uint32_t cap() const { return strcap ? strcap : 65536; }

    const CalData& data_;
    CalSets sets_;
    uint32_t countStatus_ = 0;
    uint32_t size_ = 0;
    uint32_t totlen_ = 0;
    uint32_t blklen_ = 0;
};

} // namespace TessCal
