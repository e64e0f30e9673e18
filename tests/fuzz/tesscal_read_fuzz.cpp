// libFuzzer target: arbitrary bytes through the TessCal reader.
//
// Every input is read as a whole stream into CalData, as given and with its
// last four bytes replaced by the CRC of the rest; a stream that reads
// cleanly is written back and must read cleanly again. The bytes are also
// read as a headerless record block by the callback-free base reader, and
// converted by the file handler to a mesh (written back and read again) and
// to a calibration cube.

#include "glowkit/tesscalfile.h"
#include "glowkit/tesscalread.h"
#include "glowkit/tesscalwrite.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

void readAndRewrite(const std::string& bytes)
{
    std::istringstream is(bytes);
    TessCal::CalData d;
    TessCal::CalSets sets;
    if (TessCal::ReadCalData(is, d, sets, 1) != 0)
        return;
    std::ostringstream os;
    TessCal::WriteCalData writer(d, TessCal::CalSets{TessCal::CalSets::SourceBit | 0xFFu, 1});
    if (writer(os) != 0)
        return;
    std::istringstream again(os.str());
    TessCal::CalData d2;
    TessCal::CalSets sets2;
    if (TessCal::ReadCalData(again, d2, sets2, 1) != 0)
        std::abort(); // the writer produced a stream its reader refuses
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    readAndRewrite(bytes);

    // The same bytes with a matching trailer, so that mutated records also
    // reach the end of a successful read and the writer.
    if (size >= 4) {
        const uint32_t crc = TessCal::crc32(data, size - 4);
        for (int i = 0; i < 4; ++i)
            bytes[size - 4 + size_t(i)] = char(crc >> (24 - 8 * i));
        readAndRewrite(bytes);
    }

    // The file handler's conversions; a mesh read must write and read again.
    {
        const TessCalFile::Handler handler;
        std::istringstream is(bytes);
        const TessCalFile::Mesh mesh = handler.readStreamMesh(is);
        std::ostringstream os;
        handler.writeStream(mesh, os);
        if (!os.fail()) {
            std::istringstream again(os.str());
            if (handler.readStreamMesh(again).planes.size() != mesh.planes.size() && !mesh.planes.empty())
                std::abort();
        }
        std::istringstream cube(bytes);
        handler.readStream(cube);
    }

    std::istringstream is(bytes);
    TessCal::Read reader(is);
    reader.read_klv_block();
    return 0;
}
