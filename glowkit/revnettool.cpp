#include "glowkit/revnettool.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <iostream>

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;

namespace RevNetTool {

Client::Client(const std::string& host, uint16_t port)
    : socket_(io_)
{
    if (host.empty()) {
        Discover_(port);
        return;
    }
    tcp::resolver resolver(io_);
    asio::connect(socket_, resolver.resolve(host, std::to_string(port)));
}

void Client::Discover_(uint16_t port)
{
    std::cout << "Looking for RevnetTool server ..." << std::endl;
    udp::socket udp(io_, udp::endpoint(udp::v4(), port));

    Header header;
    DiscoveryPayload payload;
    udp::endpoint sender;
    const std::array<asio::mutable_buffer, 2> buffers{asio::buffer(&header, sizeof header),
                                                      asio::buffer(&payload, sizeof payload)};
    const size_t received = udp.receive_from(buffers, sender);

    if (received < sizeof header + sizeof payload) {
        std::cerr << "Discovery packet too short" << std::endl;
        return;
    }
    // An announcement with a non-zero status passes whatever its parameter.
    const Error check = Validate(Command::Announce, ParameterID::Announcement, 0, header, {});
    if (check.parseStatus != ParseStatus::Answered) {
        std::cerr << "Error: parse status " << check.parseStatus << ", response code 0" << std::endl;
        return;
    }
    std::cout << "Discovery from " << sender.address().to_string() << ": ";
    PrintDiscovery(std::cout, payload);
    std::cout << std::endl;

    // The datagram's source is where the server is; the announced address
    // may be one the client cannot reach.
    socket_.connect(tcp::endpoint(sender.address(), payload.port));
}

void Client::PrintDiscovery(std::ostream& os, const DiscoveryPayload& payload)
{
    size_t nameLength = 0;
    while (nameLength < payload.name.size() && payload.name[nameLength] != '\0')
        ++nameLength;
    const auto& a = payload.address;
    os << "name " << std::string_view(payload.name.data(), nameLength) << ", "
       << "IPv4 address " << unsigned(a[0]) << '.' << unsigned(a[1]) << '.' << unsigned(a[2]) << '.'
       << unsigned(a[3]) << ", "
       << "port " << unsigned(payload.port) << ", "
       << "uptime " << uint32_t(payload.uptime) << " ms, "
       << "maxSize " << unsigned(payload.maxSize);
}

Error Client::Validate(Command command, ParameterID parameter, uint8_t sequence, const Header& header,
                       const std::vector<uint8_t>& payload)
{
    if (header.magic != Magic)
        return {ParseStatus::BadMagic, 0, 0};
    if (header.version != ProtocolVersion)
        return {ParseStatus::BadVersion, 0, 0};
    if (header.sequence != sequence)
        return {ParseStatus::BadSequence, 0, 0};
    if (header.command != command)
        return {ParseStatus::BadCommand, 0, 0};
    if (header.status != 0) {
        uint32_t code = 0;
        if (header.status == StatusWithCode && payload.size() >= 4)
            code = uint32_t(payload[0]) << 24 | uint32_t(payload[1]) << 16 | uint32_t(payload[2]) << 8 |
                   uint32_t(payload[3]);
        return {ParseStatus::Answered, header.status, code};
    }
    if (header.parameter != uint16_t(parameter))
        return {ParseStatus::BadParameter, 0, 0};
    return {};
}

std::variant<std::vector<uint8_t>, Error> Client::Exchange_(Command command, ParameterID parameter,
                                                            uint8_t sequence,
                                                            const std::vector<uint8_t>& payload)
{
    // A longer payload would wrap the length field and the receiver would
    // take the rest of it for the next message: send nothing.
    if (payload.size() > MaxPayload)
        return Error{ParseStatus::WriteFailed, 0, 0};

    Header request;
    request.length = uint16_t(sizeof(Header) + payload.size());
    request.sequence = sequence;
    request.command = command;
    request.parameter = uint16_t(parameter);

    boost::system::error_code ec;
    const std::array<asio::const_buffer, 2> out{asio::buffer(&request, sizeof request), asio::buffer(payload)};
    const size_t written = asio::write(socket_, out, ec);
    if (ec || written < sizeof request + payload.size())
        return Error{ParseStatus::WriteFailed, 0, 0};

    Header reply;
    asio::read(socket_, asio::buffer(&reply, sizeof reply), ec);
    if (ec)
        return Error{ParseStatus::ReadFailed, 0, 0};
    if (reply.magic != Magic)
        return Error{ParseStatus::BadMagic, 0, 0};

    std::vector<uint8_t> body;
    if (reply.length > sizeof(Header)) {
        body.assign(reply.length - sizeof(Header), 0);
        asio::read(socket_, asio::buffer(body), asio::transfer_all(), ec);
        if (ec)
            return Error{ParseStatus::ReadFailed, reply.status, 0};
    }

    const Error check = Validate(command, parameter, sequence, reply, body);
    if (check != Error{})
        return check;
    return body;
}

Result<std::monostate> Client::Ping()
{
    return Transact<std::monostate>(Command::Ping, ParameterID::Version, NextSequence_(), std::monostate{});
}

Result<endor::big<uint32_t>> Client::GetVersion()
{
    return Transact<endor::big<uint32_t>>(Command::Get, ParameterID::Version, NextSequence_(), std::monostate{});
}

Result<endor::big<uint32_t>> Client::GetUptime()
{
    return Transact<endor::big<uint32_t>>(Command::Get, ParameterID::Uptime, NextSequence_(), std::monostate{});
}

Result<std::string> Client::GetDeviceReport()
{
    return Transact<std::string>(Command::Get, ParameterID::DeviceReport, NextSequence_(), std::monostate{});
}

Result<endor::big<uint32_t>> Client::GetBypass(const Mac& mac)
{
    return Transact<endor::big<uint32_t>>(Command::Get, ParameterID::Bypass, NextSequence_(), mac);
}

Result<std::monostate> Client::SetBypass(const BypassSetRequest& request)
{
    return Transact<std::monostate>(Command::Set, ParameterID::Bypass, NextSequence_(), request);
}

Result<endor::big<uint16_t>> Client::GetBrightness(const Mac& mac)
{
    return Transact<endor::big<uint16_t>>(Command::Get, ParameterID::Brightness, NextSequence_(), mac);
}

Result<std::monostate> Client::SetBrightness(const BrightnessSetRequest& request)
{
    return Transact<std::monostate>(Command::Set, ParameterID::Brightness, NextSequence_(), request);
}

Result<std::monostate> Client::SetReboot(const Mac& mac)
{
    RebootRequest request;
    request.mac = mac;
    return Transact<std::monostate>(Command::Set, ParameterID::Reboot, NextSequence_(), request);
}

Result<SystemTestStatus> Client::GetSystemTest(const Mac& mac)
{
    return Transact<SystemTestStatus>(Command::Get, ParameterID::SystemTest, NextSequence_(), mac);
}

template Result<std::monostate> Client::SetPattern<uint8_t>(const Mac&, PatternID,
                                                            const std::vector<endor::big<uint8_t>>&);
template Result<std::monostate> Client::SetPattern<uint16_t>(const Mac&, PatternID,
                                                             const std::vector<endor::big<uint16_t>>&);

} // namespace RevNetTool
