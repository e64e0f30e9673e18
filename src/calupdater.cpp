#include "calupdater.h"

#include <QCoroTimer>
#include <QDebug>
#include <QStringList>
#include <QTimer>

#include <exception>
#include <list>
#include <memory>
#include <utility>

namespace {

using boost::beast::http::verb;

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

bool statusOk(unsigned status)
{
    return status == 200 || status == 204;
}

} // namespace

CalUpdater::CalUpdater(http_client::context& context, const std::string& host, Endpoints endpoints)
    : context_(context)
    , host_(host)
    , endpoints_(std::move(endpoints))
{
}

void CalUpdater::addLDM(const std::string& tile, const std::string& ldm, Stream stream)
{
    tiles_[tile][ldm] = std::move(stream);
}

QCoro::Task<CalUpdater::Result> CalUpdater::UploadTiles()
{
    // Every tile's upload starts (and sends its first request) before any is
    // awaited, so that the tiles proceed side by side.
    std::list<QCoro::Task<Result>> tasks;
    for (const auto& entry : tiles_)
        tasks.push_back(UploadLdms(entry.first));

    // Every task is awaited, whatever an earlier one did: the tasks use this
    // object until they end.
    QStringList failures;
    std::exception_ptr error;
    for (auto& task : tasks) {
        try {
            const Result result = co_await http_client::await_task(context_.io, task);
            if (result)
                failures.append(*result);
        } catch (...) {
            if (!error)
                error = std::current_exception();
        }
    }
    if (error)
        std::rethrow_exception(error);
    if (failures.isEmpty())
        co_return std::nullopt;
    co_return failures.join(QLatin1Char('\n'));
}

QCoro::Task<CalUpdater::Result> CalUpdater::UploadLdms(std::string tile)
{
    const QString name = text(tile);
    const auto found = tiles_.find(tile);
    if (found == tiles_.end() || found->second.empty())
        co_return QStringLiteral("UploadLdms: tile %1 no LDMs").arg(name);

    const auto fail = [](const QString& message) -> Result {
        qCritical() << message;
        return message;
    };

    auto& ldms = found->second;
    const std::string& lastKey = ldms.rbegin()->first;
    for (auto& [key, stream] : ldms) {
        const std::string target = "/api/v1/tile/" + tile + "/" + key + "/cal?raw&continuation="
            + (key == lastKey ? "false" : "true");
        auto request = http_client::authorized_request(context_, endpoints_, host_, verb::post, target,
                                                       "application/octet-stream", stream.size(), stream);
        const auto reply = co_await http_client::await_task(context_.io, request);
        if (!reply.has_value())
            co_return fail(QStringLiteral("UploadLdms: tile %1, ldm %2, network error %3")
                               .arg(name, text(key), text(reply.error().message())));
        const unsigned status = reply.value().result_int();
        if (!statusOk(status))
            co_return fail(QStringLiteral("UploadLdms: tile %1, ldm %2, http status %3")
                               .arg(name, text(key))
                               .arg(status));
    }

    static constexpr const char* stages[] = {"busy", "idle"};
    for (const char* expected : stages) {
        const Result result = co_await StatusCheck(tile, expected);
        if (result)
            co_return fail(*result);
    }
    co_return std::nullopt;
}

QCoro::Task<CalUpdater::Result> CalUpdater::StatusCheck(std::string tile, std::string expected)
{
    const QString name = text(tile);
    const std::string target = "/api/v1/tile/" + tile + "/calBusy";
    // While waiting for "busy", "idle" may also mean that the processor has
    // already finished: enough of them in a row end the wait.
    const bool idleMayEnd = expected == "busy";
    int idles = 0;
    for (int polls = 1;; ++polls) {
        auto request = http_client::authorized_request(context_, endpoints_, host_, verb::get, target,
                                                       std::string(), 0, std::string());
        const auto reply = co_await http_client::await_task(context_.io, request);
        if (!reply.has_value())
            co_return QStringLiteral("UploadLdms: tile %1, network error %2")
                .arg(name, text(reply.error().message()));
        const unsigned status = reply.value().result_int();
        if (!statusOk(status))
            co_return QStringLiteral("UploadLdms: tile %1, http status %2").arg(name).arg(status);

        const std::string& last = reply.value().body();
        if (last == expected)
            co_return std::nullopt;
        idles = last == "idle" ? idles + 1 : 0;
        if (idleMayEnd && idles >= idleRepliesForBusy)
            co_return std::nullopt;
        if (polls >= maxStatusPolls)
            co_return QStringLiteral("UploadLdms: tile %1, status timeout").arg(name);
        co_await Delay(pollInterval_);
    }
}

QCoro::Task<void> CalUpdater::Delay(int seconds)
{
    return Delay(std::chrono::milliseconds(qint64(seconds) * 1000));
}

QCoro::Task<void> CalUpdater::Delay(std::chrono::milliseconds interval)
{
    // The timer belongs to the thread that runs the coroutine now and fires
    // through that thread's event loop. It must be running before it is
    // awaited.
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->start(interval);
    co_await *timer;
}
