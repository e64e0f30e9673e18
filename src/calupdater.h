#pragma once

#include "http_client"

#include <QString>

#include <boost/beast/core/multi_buffer.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <string>

// Carries serialised correction meshes to the LED processor. It is filled with
// one TessCal stream per LDM, grouped by tile (the receiver's MAC text), and
// then uploads every tile at once: each tile posts its LDM streams one after
// another, then polls the tile's "calBusy" state until the processor reports
// "busy" (it has started to take them in) and then "idle" (it has finished).
//
// Tiles and LDM keys are visited in byte-wise text order ("1", "10", "2"); the
// last key of a tile is posted with continuation=false, the others with true.
//
// The upload coroutines return no text on success and the failure's text
// otherwise. The object must outlive the task of UploadTiles, which itself
// waits for every tile's task (also when one of them throws).
//
// Threads: the coroutines advance wherever the network context is polled
// (the caller's synchronous wait or the GUI thread's poll timer); the maps are
// only read while the upload runs.
class CalUpdater
{
public:
    using Endpoints = http_client::resolver_results;
    using Stream = boost::beast::basic_multi_buffer<std::allocator<char>>;
    using Result = std::optional<QString>;

    // Polls of one stage after which a tile is given up.
    static constexpr int maxStatusPolls = 300;
    // Consecutive "idle" replies that end the wait for "busy": a processor
    // that finished before the first poll never reports "busy".
    static constexpr int idleRepliesForBusy = 5;

    CalUpdater(http_client::context& context, const std::string& host, Endpoints endpoints);
    virtual ~CalUpdater() = default;
    CalUpdater(const CalUpdater&) = delete;
    CalUpdater& operator=(const CalUpdater&) = delete;

    // Stores (or replaces) the stream of one LDM of a tile.
    void addLDM(const std::string& tile, const std::string& ldm, Stream stream);

    // Uploads every tile concurrently; the failed tiles' texts, one line each,
    // in tile order. An exception of a tile's upload is rethrown once every
    // tile's upload has ended.
    QCoro::Task<Result> UploadTiles();
    // Posts one tile's LDM streams and waits for the processor to take them.
    virtual QCoro::Task<Result> UploadLdms(std::string tile);
    // Polls the tile's state until it reads `expected` exactly.
    QCoro::Task<Result> StatusCheck(std::string tile, std::string expected);

    static QCoro::Task<void> Delay(int seconds);
    static QCoro::Task<void> Delay(std::chrono::milliseconds interval);

    // The pause between two status polls (one second unless changed).
    void setPollInterval(std::chrono::milliseconds interval) { pollInterval_ = interval; }

private:
    http_client::context& context_;
    std::string host_;
    Endpoints endpoints_;
    std::map<std::string, std::map<std::string, Stream>> tiles_;
    std::chrono::milliseconds pollInterval_ {1000};
};
