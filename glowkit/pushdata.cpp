// Pushing a data set to a receiver: start, data chunks, end with the CRC-32 of
// the data, commit, then polls for the outcome.

#include "glowkit/revnettool.h"

#include <boost/crc.hpp>

#include <chrono>
#include <istream>
#include <limits>
#include <thread>

namespace RevNetTool {

namespace {

// Time between two polls of a receiver that is still busy.
constexpr auto BusyPollInterval = std::chrono::seconds(1);

} // namespace

Result<std::monostate> Client::PushData(Mac mac, uint8_t argument, PushDataSetRequest::Type type,
                                        std::istream& data)
{
    // Size and offsets are 32-bit on the wire: a stream that cannot say its
    // size, or one that does not fit, is refused before anything is sent.
    data.seekg(0, std::ios::end);
    const std::streamoff end = data.tellg();
    if (end < 0 || uint64_t(end) > std::numeric_limits<uint32_t>::max())
        return Error{ParseStatus::WriteFailed, 0, 0};
    data.seekg(0, std::ios::beg);
    if (!data)
        return Error{ParseStatus::WriteFailed, 0, 0};

    PushDataSetRequest request;
    request.mac = mac;
    request.type = type;
    request.argument = argument;

    // One phase request; the receiver's push state must be the expected one.
    auto phase = [&](const auto& payload, uint8_t expected) -> std::optional<Error> {
        auto result = Transact<PushDataSetResponse>(Command::Set, ParameterID::PushData, NextSequence_(), payload);
        if (auto* error = std::get_if<Error>(&result))
            return *error;
        const uint8_t state = std::get<PushDataSetResponse>(result).state;
        if (state != expected)
            return Error{ParseStatus::BadCommand, 0, state};
        return std::nullopt;
    };

    request.phase = PushDataSetRequest::Phase::Start;
    request.value = uint32_t(end);
    if (auto error = phase(request, 1))
        return *error;

    // Every data message carries a whole chunk block; the value says how much
    // of it is data, the rest is what an earlier chunk left there.
    boost::crc_32_type crc;
    std::pair<PushDataSetRequest, std::vector<uint8_t>> message{request, std::vector<uint8_t>(PushChunkSize, 0)};
    uint32_t offset = 0;
    for (;;) {
        data.read(reinterpret_cast<char*>(message.second.data()), std::streamsize(PushChunkSize));
        const auto got = data.gcount();
        if (got <= 0)
            break;
        message.first.phase = PushDataSetRequest::Phase::Data;
        message.first.value = uint32_t(got);
        message.first.offset = offset;
        if (auto error = phase(message, 1))
            return *error;
        crc.process_bytes(message.second.data(), size_t(got));
        offset += uint32_t(got);
        if (!data)
            break;
    }

    request.phase = PushDataSetRequest::Phase::End;
    request.value = crc.checksum();
    if (auto error = phase(request, 2))
        return *error;

    request.phase = PushDataSetRequest::Phase::Commit;
    request.value = 0;
    if (auto error = phase(request, 3))
        return *error;

    PushDataGetRequest poll;
    poll.mac = mac;
    for (;;) {
        auto result = Transact<std::optional<PushDataGetResponse>>(Command::Get, ParameterID::PushData,
                                                                   NextSequence_(), poll);
        if (auto* error = std::get_if<Error>(&result)) {
            if (error->responseStatus != StatusBusy)
                return *error;
            std::this_thread::sleep_for(BusyPollInterval);
            continue;
        }
        const auto& outcome = std::get<std::optional<PushDataGetResponse>>(result);
        if (!outcome || outcome->outcome == 0)
            return std::monostate{};
        return Error{ParseStatus::Answered, 0, outcome->outcome};
    }
}

} // namespace RevNetTool
