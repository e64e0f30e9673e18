// libFuzzer target: arbitrary bytes as the body of the network meter's report.

#include "meterreplies.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const MeterReply::NetworkReport report = MeterReply::parseNetworkReport(body);
    if (report.xy && (report.xy->first == 0.0 || report.xy->second == 0.0))
        std::abort(); // a pair is only taken with both coordinates set
    if (report.luminance.has_value() == false && !report.units.isEmpty())
        std::abort();
    if (report.timestamp && report.timestamp->contains(QLatin1Char('\n')))
        std::abort();
    // Only values that can be true are taken; the others are the fault.
    if (report.luminance && !MeterReply::plausibleLuminance(*report.luminance))
        std::abort();
    if (report.cct && *report.cct != 0.0 && !MeterReply::plausibleCct(*report.cct))
        std::abort();
    if ((report.duv && !MeterReply::plausibleDuv(*report.duv))
        || (report.xy && !(report.xy->first <= 1.0 && report.xy->first > 0.0 && report.xy->second <= 1.0
                           && report.xy->second > 0.0)))
        std::abort();
    return 0;
}
