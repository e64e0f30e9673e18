#pragma once

// RevNetTool: the receiver-control protocol of the LED receivers behind each
// tile. Requests and replies travel over TCP, each a 12-byte big-endian header
// followed by a payload; a server announces itself by UDP datagrams on the
// same port. Payload structures are packed and hold their numbers in wire
// order, so they are copied to and from the socket as raw bytes.
//
// Client is blocking and single-threaded: every operation writes one request,
// waits for its reply on the caller's thread and returns either its value or
// an Error. Only the constructor throws.

#include "glowkit/endor.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace RevNetTool {

inline constexpr uint16_t DefaultPort = 53007;
inline constexpr std::array<uint8_t, 4> Magic{0x5A, 0xB8, 0x2E, 0x7A};
inline constexpr uint8_t ProtocolVersion = 1;
// Status byte of every request.
inline constexpr uint8_t RequestStatus = 0xFF;
// Reply status that carries a 32-bit error code in its first payload bytes.
inline constexpr uint8_t StatusWithCode = 254;
// Reply status of a receiver that is still busy with a pushed data set.
inline constexpr uint8_t StatusBusy = 5;

enum class Command : uint8_t {
    Ping = 'P',
    Get = 'G',
    Set = 'S',
    Announce = 'U', // discovery announcement, UDP only
};

enum class ParameterID : uint16_t {
    Version = 1, // also the parameter of a ping
    Uptime = 2,
    DeviceReport = 3,
    TestPattern = 4,
    Bypass = 5,
    Brightness = 6,
    Reboot = 7,
    SystemTest = 8,
    PushData = 9,
    Announcement = 0xBEEF,
};

#pragma pack(push, 1)

struct Header {
    std::array<uint8_t, 4> magic = Magic;
    endor::big<uint16_t> length = 0; // whole message, header included
    uint8_t version = ProtocolVersion;
    uint8_t sequence = 0;
    Command command = Command::Ping;
    uint8_t status = RequestStatus;
    endor::big<uint16_t> parameter = 0;
};
static_assert(sizeof(Header) == 12);

// A message is at most what the 16-bit length field can say.
inline constexpr size_t MaxMessage = 65535;
inline constexpr size_t MaxPayload = MaxMessage - sizeof(Header);

// A receiver's MAC address in transmission order.
using Mac = std::array<uint8_t, 6>;
using PatternID = uint8_t;

template <class T>
struct PatternSetRequest {
    static_assert(std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t>);
    Mac mac{};
    PatternID pattern = 0;
    uint8_t count = 0; // element count modulo 256
    uint8_t width = sizeof(T);
};
static_assert(sizeof(PatternSetRequest<uint8_t>) == 9 && sizeof(PatternSetRequest<uint16_t>) == 9);

struct BypassSetRequest {
    Mac mac{};
    endor::big<uint32_t> value = 0;
};
static_assert(sizeof(BypassSetRequest) == 10);

struct BrightnessSetRequest {
    Mac mac{};
    endor::big<uint16_t> value = 0;
};
static_assert(sizeof(BrightnessSetRequest) == 8);

// The reboot confirmation travels least significant byte first.
inline constexpr uint32_t RebootConfirmation = 0x5D2E71C4u;
struct RebootRequest {
    Mac mac{};
    endor::little<uint32_t> confirmation = RebootConfirmation;
};
static_assert(sizeof(RebootRequest) == 10);

// What follows the header of an announcement datagram.
struct DiscoveryPayload {
    std::array<uint8_t, 4> address{}; // IPv4 as announced, network order
    endor::big<uint32_t> uptime = 0;  // milliseconds
    endor::big<uint16_t> port = 0;    // TCP port of the server
    endor::big<uint16_t> maxSize = 0;
    std::array<char, 32> name{}; // ends at the first NUL or at the field's end
};
static_assert(sizeof(DiscoveryPayload) == 44);

struct PushDataSetRequest {
    enum class Type : uint8_t {}; // kind of data; its values are the receiver's
    enum class Phase : uint8_t { Start = 1, Data = 2, End = 3, Commit = 4 };

    Mac mac{};
    Type type{};
    Phase phase = Phase::Start;
    std::array<uint8_t, 3> zero1{};
    uint8_t argument = 0;
    uint8_t zero2 = 0;
    endor::big<uint32_t> value = 0; // size, chunk length, CRC-32 or 0 by phase
    endor::big<uint32_t> offset = 0; // position of a data chunk
};
static_assert(sizeof(PushDataSetRequest) == 21);

// Data bytes in one data message: a data message is as long as a message can be.
inline constexpr size_t PushChunkSize = MaxPayload - sizeof(PushDataSetRequest);
static_assert(PushChunkSize == 65502);

// Reply to a push phase: the receiver's push state and a byte not used.
struct PushDataSetResponse {
    uint8_t state = 0;
    uint8_t unused = 0;
};
static_assert(sizeof(PushDataSetResponse) == 2);

struct PushDataGetRequest {
    Mac mac{};
    uint8_t reserved = 0;
};
static_assert(sizeof(PushDataGetRequest) == 7);

// Outcome of a finished push, 0 on success.
struct PushDataGetResponse {
    uint8_t outcome = 0;
};
static_assert(sizeof(PushDataGetResponse) == 1);

#pragma pack(pop)

struct SystemTestStatus {
    uint8_t status = 0;
    std::string text;
};

// Where an exchange failed.
namespace ParseStatus {
enum : uint32_t {
    Answered = 0,     // the server answered with a non-zero status
    WriteFailed = 1,  // the request was not written whole (or was refused unsent)
    ReadFailed = 2,   // the reply was not read whole
    BadMagic = 3,
    BadVersion = 4,
    BadSequence = 5,
    BadCommand = 6,   // also an unexpected push state
    BadParameter = 7,
    PayloadShort = 8,
    PayloadLong = 9,  // or not empty where none is expected
};
}

struct Error {
    uint32_t parseStatus = 0;
    uint8_t responseStatus = 0;
    uint32_t responseCode = 0;

    bool operator==(const Error&) const = default;
};

template <class V>
using Result = std::variant<V, Error>;

class Client {
public:
    // A non-empty host is resolved and connected at the port; an empty one
    // waits for a server's announcement on the UDP port and connects to its
    // sender. Resolution, connection and UDP failures throw
    // boost::system::system_error; an announcement that fails its checks is
    // reported on standard error and leaves the client unconnected.
    explicit Client(const std::string& host, uint16_t port = DefaultPort);
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    Result<std::monostate> Ping();
    Result<endor::big<uint32_t>> GetVersion();
    Result<endor::big<uint32_t>> GetUptime(); // milliseconds
    Result<std::string> GetDeviceReport();
    template <class T>
    Result<std::monostate> SetPattern(const Mac& mac, PatternID pattern,
                                      const std::vector<endor::big<T>>& elements);
    Result<endor::big<uint32_t>> GetBypass(const Mac& mac);
    Result<std::monostate> SetBypass(const BypassSetRequest& request);
    Result<endor::big<uint16_t>> GetBrightness(const Mac& mac);
    Result<std::monostate> SetBrightness(const BrightnessSetRequest& request);
    Result<std::monostate> SetReboot(const Mac& mac);
    Result<SystemTestStatus> GetSystemTest(const Mac& mac);

    // Sends the whole of a seekable stream to the receiver (start, data
    // chunks, end with CRC-32, commit), then asks for the outcome until the
    // receiver is no longer busy, waiting a second between busy answers.
    Result<std::monostate> PushData(Mac mac, uint8_t argument, PushDataSetRequest::Type type,
                                    std::istream& data);

    // Writes an announcement in readable form, without a newline.
    static void PrintDiscovery(std::ostream& os, const DiscoveryPayload& payload);

    // All fields zero when the reply header answers the request; else the
    // first failed check: magic, version, sequence, command, status, parameter.
    static Error Validate(Command command, ParameterID parameter, uint8_t sequence, const Header& header,
                          const std::vector<uint8_t>& payload);

    // Request payload bytes: nothing for std::monostate, the raw bytes of a
    // fixed-size record, or a record followed by the raw bytes of a vector.
    template <class T>
    static std::vector<uint8_t> ConvertToPayload(const T& request);

    // A validated reply payload as the value of an operation.
    template <class V>
    static Result<V> ConvertFromPayload(std::vector<uint8_t>& payload);

private:
    template <class V, class P>
    Result<V> Transact(Command command, ParameterID parameter, uint8_t sequence, const P& request);

    uint8_t NextSequence_() { return sequence_++; }

    // Writes one request and reads its reply; the reply payload when the
    // header answers the request.
    std::variant<std::vector<uint8_t>, Error> Exchange_(Command command, ParameterID parameter,
                                                        uint8_t sequence,
                                                        const std::vector<uint8_t>& payload);
    void Discover_(uint16_t port);

    boost::asio::io_context io_; // never run: every socket call is synchronous
    boost::asio::ip::tcp::socket socket_;
    uint8_t sequence_ = 0;
};

namespace detail {
template <class T>
struct IsRecordWithVector : std::false_type {};
template <class R, class E>
struct IsRecordWithVector<std::pair<R, std::vector<E>>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
} // namespace detail

template <class T>
std::vector<uint8_t> Client::ConvertToPayload(const T& request)
{
    std::vector<uint8_t> bytes;
    if constexpr (std::is_same_v<T, std::monostate>) {
        return bytes;
    } else if constexpr (detail::IsRecordWithVector<T>::value) {
        using R = typename T::first_type;
        using E = typename T::second_type::value_type;
        static_assert(std::is_trivially_copyable_v<R> && std::is_trivially_copyable_v<E>);
        const auto& [record, elements] = request;
        bytes.resize(sizeof(R) + elements.size() * sizeof(E));
        std::memcpy(bytes.data(), &record, sizeof(R));
        if (!elements.empty())
            std::memcpy(bytes.data() + sizeof(R), elements.data(), elements.size() * sizeof(E));
        return bytes;
    } else {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes.resize(sizeof(T));
        std::memcpy(bytes.data(), &request, sizeof(T));
        return bytes;
    }
}

template <class V>
Result<V> Client::ConvertFromPayload(std::vector<uint8_t>& payload)
{
    if constexpr (std::is_same_v<V, std::monostate>) {
        if (!payload.empty())
            return Error{ParseStatus::PayloadLong, 0, 0};
        return V{};
    } else if constexpr (std::is_same_v<V, std::string>) {
        return std::string(payload.begin(), payload.end());
    } else if constexpr (std::is_same_v<V, SystemTestStatus>) {
        if (payload.empty())
            return Error{ParseStatus::PayloadShort, 0, 0};
        return SystemTestStatus{payload[0], std::string(payload.begin() + 1, payload.end())};
    } else if constexpr (detail::IsOptional<V>::value) {
        // Only the first byte counts; an empty payload has no value.
        using T = typename V::value_type;
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) == 1);
        if (payload.empty())
            return V{};
        T value;
        std::memcpy(&value, payload.data(), 1);
        return V{value};
    } else {
        static_assert(std::is_trivially_copyable_v<V>);
        if (payload.size() < sizeof(V))
            return Error{ParseStatus::PayloadShort, 0, 0};
        if (payload.size() > sizeof(V))
            return Error{ParseStatus::PayloadLong, 0, 0};
        V value;
        std::memcpy(&value, payload.data(), sizeof(V));
        return value;
    }
}

template <class V, class P>
Result<V> Client::Transact(Command command, ParameterID parameter, uint8_t sequence, const P& request)
{
    auto reply = Exchange_(command, parameter, sequence, ConvertToPayload(request));
    if (auto* error = std::get_if<Error>(&reply))
        return *error;
    return ConvertFromPayload<V>(std::get<std::vector<uint8_t>>(reply));
}

template <class T>
Result<std::monostate> Client::SetPattern(const Mac& mac, PatternID pattern,
                                          const std::vector<endor::big<T>>& elements)
{
    const uint8_t sequence = NextSequence_();
    PatternSetRequest<T> head;
    head.mac = mac;
    head.pattern = pattern;
    head.count = uint8_t(elements.size());
    return Transact<std::monostate>(Command::Set, ParameterID::TestPattern, sequence,
                                    std::pair<PatternSetRequest<T>, std::vector<endor::big<T>>>(head, elements));
}

} // namespace RevNetTool
