// Update feed replies: the body as the service sends it, then its version
// texts on their own.
#include "updater.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);

    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVersionNumber reference = Updater::stringToVersion_(QStringLiteral("2.0.0"));
    for (const Updater::Offer& offer : Updater::newerVersions_(body, reference)) {
        if (!(reference < Updater::stringToVersion_(offer.version)))
            __builtin_trap();
    }
    Updater::stringToVersion_(QString::fromUtf8(body));
    return 0;
}
