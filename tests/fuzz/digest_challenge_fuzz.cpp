// libFuzzer target: WWW-Authenticate values through the Digest challenge
// parser, and the Authorization value built from an accepted challenge.
//
// An accepted challenge must yield a value that is one header line, and a
// refused one must leave the previous challenge in place.
#include "http_client"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

bool oneLine(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool silenced = (qInstallMessageHandler(quiet), true);
    (void)silenced;
    static boost::asio::io_context io;
    static http_client::registry cancellers;

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // As given, and behind the scheme so that most inputs reach the parameters.
    for (const std::string& value : {bytes, "Digest " + bytes}) {
        http_client::context ctx(io, cancellers);
        ctx.user = "admin";
        ctx.password = "secret";
        ctx.realm = "previous";
        ctx.nonce = "n0";
        if (http_client::parse_authenticate(ctx, value)) {
            if (ctx.realm != "previous" || ctx.nonce != "n0" || !ctx.qop.empty() || !ctx.opaque.empty())
                std::abort(); // a refused challenge changed the context
            continue;
        }
        if (!ctx.qop.empty() && ctx.qop != "auth")
            std::abort();
        const std::string authorization =
            http_client::detail::digest_authorization(ctx, "GET", "/api/v1/data?dev.display");
        if (!oneLine(authorization))
            std::abort(); // the challenge could write header lines of its own
        if (!ctx.realm.empty() && !ctx.nonce.empty()
            && (authorization.rfind("Digest username=\"admin\", realm=", 0) != 0 || ctx.nc != 1))
            std::abort();
    }
    return 0;
}
