// libFuzzer target: bytes sent by a loopback peer, read by the HTTP client's
// own read of the final response (past interim 1xx replies; string body, the
// library's default limits), then a 401 challenge through the Digest parser as
// the client does it.
#include "http_client"

#include <QtGlobal>

#include <boost/asio/write.hpp>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

namespace hc = http_client;
namespace asio = boost::asio;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

QCoro::Task<void> readOne(boost::beast::tcp_stream& stream, boost::beast::flat_buffer& buffer, hc::response& res,
                          std::optional<hc::error_code>& outcome)
{
    auto read = co_await hc::read_final_response(stream, buffer, res);
    outcome = read ? hc::error_code() : read.error();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool silenced = (qInstallMessageHandler(quiet), true);
    (void)silenced;
    static asio::io_context io;
    static hc::registry cancellers;
    static asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});

    // The loopback set-up itself can fail on a loaded machine (ports, descriptors):
    // such an input is skipped, it says nothing about the reader.
    boost::beast::tcp_stream stream(io);
    boost::system::error_code setup;
    stream.socket().connect(acceptor.local_endpoint(), setup);
    if (setup)
        return 0;
    {
        asio::ip::tcp::socket peer(io);
        acceptor.accept(peer, setup);
        if (!setup)
            asio::write(peer, asio::buffer(data, size), setup);
        if (!setup)
            peer.shutdown(asio::ip::tcp::socket::shutdown_send, setup);
        if (setup)
            return 0;
    } // the peer closes

    boost::beast::flat_buffer buffer;
    hc::response res;
    std::optional<hc::error_code> outcome;
    auto task = readOne(stream, buffer, res, outcome);
    while (!outcome) {
        io.restart();
        io.run_one();
    }
    if (*outcome)
        return 0;
    if (res.body().size() > size)
        std::abort();
    const unsigned status = res.result_int();
    if (status >= 100 && status <= 199 && status != 101)
        std::abort(); // an interim reply is never the final one
    if (res.result() == boost::beast::http::status::unauthorized) {
        const auto challenge = res.find(boost::beast::http::field::www_authenticate);
        if (challenge != res.end()) {
            hc::context ctx(io, cancellers);
            hc::parse_authenticate(ctx, std::string(challenge->value()));
        }
    }
    return 0;
}
