#pragma once

// TessCal reader. `Read` walks header, record block and CRC and hands every
// record to one virtual callback per record kind (the base class ignores them
// all); `ReadCB` fills a CalData from them. Failures print one line each on
// standard error ("*** ERROR L<n>: ..."); the verbose trace goes to standard
// output.
//
// Statuses: 0 success, 1 malformed or truncated stream or CRC mismatch,
// 2 unknown magic, 3 end tag inside the record block, 4 invalid pixel format.

#include "glowkit/tesscal.h"

#include <istream>

namespace TessCal {

class Read {
public:
    explicit Read(std::istream& is, bool verbose = false);
    virtual ~Read();

    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;

    // Callbacks, one per record kind.
    virtual void CBHeader(const Header& h, uint32_t totlen, uint32_t blklen);
    // Returns true when the payload of a record of this bank is to be skipped.
    virtual bool CBBank(uint8_t bank);
    virtual void CBDone();
    virtual void CBCalSet(const CalSets& set, bool first);
    virtual void CBCalBatchID(const std::string& s);
    virtual void CBCalTileID(const CalTileID& v);
    virtual void CBCalProcInfo(const ProcInfo& v);
    virtual void CBEndTag();
    virtual void CBMeasTempNum(uint32_t n);
    virtual void CBMeasTempData(uint32_t index, const MeasTemp& v);
    virtual void CBPixXYZNum(uint32_t n);
    virtual void CBPixXYZData(uint32_t index, const PixMeasXYZ& v);
    virtual void CBOLUTXYYNum(uint32_t n);
    virtual void CBOLUTXYYData(uint32_t index, const PixMeasXYY& v);
    virtual void CBOLUTProcInfo(const ProcInfo& v);
    virtual void CBOLUTID(const std::string& s);
    virtual void CBOLUTGamut(const PixXY& v);
    virtual void CBOLUTWhite(const XY& v);
    virtual void CBOLUTRef(const PixMeasXYY& v);
    virtual void CBOLUTDatNum(uint32_t n);
    virtual void CBOLUTDatData(uint32_t index, const LUT3DEnt& v);
    virtual void CBOLUTISNum(uint32_t n);
    virtual void CBOLUTISData(uint32_t index, uint16_t v);
    virtual void CBOLUTOSNum(uint32_t n);
    virtual void CBOLUTOSData(uint32_t index, uint16_t v);
    virtual void CBLowGrayNum(uint32_t n, bool is16);
    virtual void CBLowGrayData(uint32_t index, const LowGrayT<>& v);
    virtual void CBCalTemplate(const std::string& s);
    virtual void CBDefGamut(const PixXY& v);
    virtual void CBDefWhite(const XY& v);
    virtual void CBCalBrightness(float v);
    virtual void CBIdeal(const PixMeasXYZ& v);
    virtual void CBFactoryMatrix(const PixMeasXYZ& v);
    virtual void CBFactoryLowGray(const FactoryLowGrayT& v);
    virtual void CBMeshCorr(MeshCorr&& v);
    virtual void CBDriverPar(const DriverPar& v);
    virtual void CBBadPixNum(uint32_t n);
    virtual void CBBadPixData(uint32_t index, const BadPixel& v);
    virtual void CBUnknown(const UnknownKLV& v);

    // Whole stream: header, records, CRC.
    int read();
    // Records while at least 9 bytes remain before `end`.
    int read_klv_block(uint64_t end);
    // Records without header until end of stream; an end tag ends cleanly.
    int read_klv_block();
    int read_klv();
    // Key, length and bank; 0, or 1 at end of stream.
    int read_klv_header(uint32_t& key, uint32_t& len, uint8_t& bank);
    // Reads n bytes into dst, or skips n bytes when dst is null; 0 or 3.
    int read_buf(void* dst, uint64_t n);
    uint8_t read_u8();
    uint16_t read_u16();
    uint32_t read_u32();
    uint64_t read_u64();
    float read_f32();
    std::string read_str();

    uint64_t position() const { return pos_; }
    bool eof() const { return eof_; }

protected:
    XY read_xy();
    XYY read_xyy();
    XYZ read_xyz();
    PixXY read_pixxy();
    PixMeasXYZ read_pixxyz();
    PixMeasXYY read_pixxyy();
    ProcInfo read_procinfo(uint32_t len);
    // Reads n raw bytes as text, growing only as data arrives.
    std::string read_raw(uint64_t n);
    // Reads n samples into v, growing only as data arrives.
    void read_samples(std::vector<uint16_t>& v, uint64_t n);
    // Payload of a record; start is the position of its first payload byte.
    int read_payload(uint32_t key, uint32_t len, uint64_t start);

    uint32_t sub3() const { return subpix_ < 3 ? subpix_ : 3; }
    uint32_t sub5() const { return subpix_ < 5 ? subpix_ : 5; }

    std::istream& is_;
    uint64_t pos_ = 0;
    uint32_t crc_ = CrcInit;
    bool eof_ = false;
    uint32_t pixcount_ = 0;
    uint32_t subpix_ = 0;
    uint32_t seen_ = 0;
    bool verbose_ = false;
};

class ReadCB : public Read {
public:
    ReadCB(std::istream& is, CalData& data, SourceID source = 0);

    void CBHeader(const Header& h, uint32_t totlen, uint32_t blklen) override;
    void CBDone() override;
    void CBCalSet(const CalSets& set, bool first) override;
    void CBCalBatchID(const std::string& s) override;
    void CBCalTileID(const CalTileID& v) override;
    void CBCalProcInfo(const ProcInfo& v) override;
    void CBMeasTempData(uint32_t index, const MeasTemp& v) override;
    void CBPixXYZData(uint32_t index, const PixMeasXYZ& v) override;
    void CBOLUTXYYData(uint32_t index, const PixMeasXYY& v) override;
    void CBOLUTProcInfo(const ProcInfo& v) override;
    void CBOLUTID(const std::string& s) override;
    void CBOLUTGamut(const PixXY& v) override;
    void CBOLUTWhite(const XY& v) override;
    void CBOLUTRef(const PixMeasXYY& v) override;
    void CBOLUTDatData(uint32_t index, const LUT3DEnt& v) override;
    void CBOLUTISData(uint32_t index, uint16_t v) override;
    void CBOLUTOSData(uint32_t index, uint16_t v) override;
    void CBLowGrayNum(uint32_t n, bool is16) override;
    void CBLowGrayData(uint32_t index, const LowGrayT<>& v) override;
    void CBCalTemplate(const std::string& s) override;
    void CBDefGamut(const PixXY& v) override;
    void CBDefWhite(const XY& v) override;
    void CBCalBrightness(float v) override;
    void CBIdeal(const PixMeasXYZ& v) override;
    void CBFactoryMatrix(const PixMeasXYZ& v) override;
    void CBFactoryLowGray(const FactoryLowGrayT& v) override;
    void CBMeshCorr(MeshCorr&& v) override;
    void CBBadPixData(uint32_t index, const BadPixel& v) override;
    void CBUnknown(const UnknownKLV& v) override;

    const CalSets& announced() const { return announced_; }
    bool done() const { return done_; }

private:
    CalData& data_;
    SourceID source_;
    CalSets announced_;
    bool done_ = false;
};

// Fills `data` from the stream and adds the announced sets to `sets` (also on
// failure). 0 when the whole stream was read and its CRC matched; otherwise
// every announced set is cleared in `data` and the result is 1.
int ReadCalData(std::istream& is, CalData& data, CalSets& sets, SourceID source = 0);

// Parses the stream with a verbose trace on standard output; the status of
// Read::read().
int ValidateCalData(std::istream& is);

} // namespace TessCal
