// libFuzzer target: arbitrary bytes as a correction file. Points that read
// must write, read back to as many points and write the same bytes again.

#include "correctionfile.h"

#include <QBuffer>
#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

CorrectionFile::ReadResult readBytes(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return CorrectionFile::read(buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;

    const CorrectionFile::ReadResult first =
        readBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (first.outcome != CorrectionFile::ReadResult::Read)
        return 0;
    const QByteArray written = CorrectionFile::write(first.points);
    const CorrectionFile::ReadResult again = readBytes(written);
    if (again.outcome != CorrectionFile::ReadResult::Read || again.points.size() != first.points.size())
        std::abort();
    if (CorrectionFile::write(again.points) != written)
        std::abort();
    return 0;
}
