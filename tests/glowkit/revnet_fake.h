#pragma once

// Stand-ins for a RevNetTool receiver on loopback: a TCP server that reads
// whole requests and answers each as the test's script says, byte for byte,
// and a UDP sender of announcements.

#include "glowkit/revnettool.h"

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace revnettest {

using Bytes = std::vector<uint8_t>;
namespace asio = boost::asio;

// "5A B8 2E 7A" and the like; spaces are ignored.
inline Bytes hex(std::string_view text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string hexOf(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Request {
    RevNetTool::Header header;
    Bytes payload;
    Bytes raw; // header and payload as received
};

struct Answer {
    Bytes bytes;        // written as they stand
    bool close = false; // then the connection is closed
};

// A well-formed reply header for a request, followed by the payload.
inline Bytes reply(const Request& r, uint8_t status, const Bytes& payload = {})
{
    RevNetTool::Header h = r.header;
    h.length = uint16_t(sizeof h + payload.size());
    h.status = status;
    Bytes out(sizeof h);
    std::memcpy(out.data(), &h, sizeof h);
    return out + payload;
}

// Serves one connection on 127.0.0.1 at an ephemeral port. Declare it before
// the client, so that the client is gone (and the connection closed) first.
class FakeReceiver {
public:
    using Script = std::function<Answer(const Request&)>;

    explicit FakeReceiver(Script script)
        : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}), script_(std::move(script))
    {
        thread_ = std::thread([this] { serve(); });
    }

    ~FakeReceiver()
    {
        if (!accepted_) { // nobody came: let the accept return, then hang up
            asio::ip::tcp::socket s(io_);
            boost::system::error_code ec;
            s.connect(acceptor_.local_endpoint(), ec);
            s.close(ec);
        }
        thread_.join();
    }

    uint16_t port() const { return acceptor_.local_endpoint().port(); }

    std::vector<Request> requests()
    {
        std::lock_guard lock(mutex_);
        return log_;
    }

private:
    void serve()
    {
        asio::ip::tcp::socket s(io_);
        boost::system::error_code ec;
        acceptor_.accept(s, ec);
        accepted_ = true;
        while (!ec) {
            Request r;
            asio::read(s, asio::buffer(&r.header, sizeof r.header), ec);
            if (ec)
                break;
            r.payload.resize(r.header.length >= sizeof r.header ? r.header.length - sizeof r.header : 0);
            asio::read(s, asio::buffer(r.payload), ec);
            if (ec)
                break;
            r.raw.resize(sizeof r.header);
            std::memcpy(r.raw.data(), &r.header, sizeof r.header);
            r.raw = r.raw + r.payload;
            {
                std::lock_guard lock(mutex_);
                log_.push_back(r);
            }
            const Answer a = script_(r);
            asio::write(s, asio::buffer(a.bytes), ec);
            if (a.close)
                break;
        }
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    Script script_;
    std::atomic<bool> accepted_{false};
    std::mutex mutex_;
    std::vector<Request> log_;
    std::thread thread_;
};

// A UDP port that was free a moment ago.
inline uint16_t freeUdpPort()
{
    asio::io_context io;
    asio::ip::udp::socket s(io, {asio::ip::udp::v4(), 0});
    return s.local_endpoint().port();
}

// Sends one datagram to 127.0.0.1:port every 20 ms until destroyed, as a
// server repeats its announcement.
class Announcer {
public:
    Announcer(uint16_t port, Bytes datagram)
    {
        thread_ = std::thread([this, port, datagram] {
            asio::io_context io;
            asio::ip::udp::socket s(io, asio::ip::udp::v4());
            const asio::ip::udp::endpoint to(asio::ip::make_address("127.0.0.1"), port);
            while (!stop_) {
                boost::system::error_code ec;
                s.send_to(asio::buffer(datagram), to, 0, ec);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~Announcer()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

template <class V>
RevNetTool::Error errorOf(const RevNetTool::Result<V>& r)
{
    const auto* e = std::get_if<RevNetTool::Error>(&r);
    return e ? *e : RevNetTool::Error{};
}

} // namespace revnettest

namespace RevNetTool {
inline void PrintTo(const Error& e, std::ostream* os)
{
    *os << "Error{" << e.parseStatus << ", " << unsigned(e.responseStatus) << ", " << e.responseCode << "}";
}
} // namespace RevNetTool
