// libFuzzer target: arbitrary bytes as lines of the serial colour meter.
//
// The input is cut into lines the way the meter reads them (at most 199
// bytes, ending at LF), and each line goes through the status-line, list
// entry, count and CCT/Duv parsers.

#include "meterreplies.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = start;
        while (end < all.size() && end - start < 199 && all.at(end) != '\n')
            ++end;
        if (end < all.size() && all.at(end) == '\n' && end - start < 199)
            ++end;
        const MeterReply::SerialLine line = MeterReply::parseSerialLine(all.mid(start, end - start));
        start = end;
        if (line.text.contains(QLatin1Char('\r')) || line.text.contains(QLatin1Char('\n')))
            std::abort(); // a line ends at its first CR or LF
        if (line.isStatus()) {
            MeterReply::parseCount(line.value().section(QLatin1Char(','), 0, 0));
            const MeterReply::CctDuv cd = MeterReply::parseCctDuv(line.value());
            if (!cd.twoParts && (cd.cct != 0.0 || cd.duv != 0.0))
                std::abort();
            if (cd.valid && (!MeterReply::plausibleDuv(cd.duv) || (cd.cct != 0.0 && !MeterReply::plausibleCct(cd.cct))))
                std::abort();
            if (const auto luminance = MeterReply::parseLuminance(line.value());
                luminance && !MeterReply::plausibleLuminance(*luminance))
                std::abort();
        } else {
            const QStringList fields = line.entryFields();
            if (!fields.isEmpty())
                MeterReply::parseEntryNumber(fields.first());
        }
    }
    return 0;
}
