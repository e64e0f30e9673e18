// Compiled parts of the HTTP client (see the header src/http_client).
#include "http_client"

#include <QCryptographicHash>
#include <QtGlobal>

#include <chrono>
#include <cstdio>
#include <map>

namespace http_client {

using request_result = expected<response, error_code>;

namespace {

std::string_view view(boost::core::string_view text)
{
    return std::string_view(text.data(), text.size());
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The auth-params of a challenge (RFC 7235): a key runs to the first "=", its
// value is a token running to the next comma, or a quoted string that may hold
// "=", "," and backslash escapes. Items without "=" are skipped; a later
// duplicate replaces an earlier one. Keys are kept as written.
std::map<std::string, std::string> authParams(std::string_view text)
{
    std::map<std::string, std::string> params;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        while (i < n && (text[i] == ',' || isSpace(text[i])))
            ++i;
        if (i >= n)
            break;
        std::size_t keyEnd = i;
        while (keyEnd < n && text[keyEnd] != '=' && text[keyEnd] != ',')
            ++keyEnd;
        if (keyEnd >= n || text[keyEnd] == ',') {
            i = keyEnd;
            continue;
        }
        std::string key(text.substr(i, keyEnd - i));
        i = keyEnd + 1;
        while (i < n && isSpace(text[i]))
            ++i;
        std::string value;
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n)
                    ++i;
                value += text[i++];
            }
            // Past the closing quote, anything up to the next comma is dropped.
            while (i < n && text[i] != ',')
                ++i;
        } else {
            const std::size_t i0 = i;
            std::size_t end = text.find(',', i);
            if (end == std::string_view::npos)
                end = n;
            i = end;
            // A token holds no whitespace: what stands before the comma is
            // list padding.
            while (end > i0 && isSpace(text[end - 1]))
                --end;
            value = std::string(text.substr(i0, end - i0));
        }
        params[std::move(key)] = std::move(value);
    }
    return params;
}

// A qop list counts as "auth" when one of its members is auth.
bool qopListHasAuth(std::string_view list)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(start, end - start);
        while (!item.empty() && isSpace(item.front()))
            item.remove_prefix(1);
        while (!item.empty() && isSpace(item.back()))
            item.remove_suffix(1);
        if (item == "auth")
            return true;
        start = end + 1;
    }
    return false;
}

std::string md5Hex(const std::string& text)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5).toHex().toStdString();
}

std::string ncText(std::uint64_t nc)
{
    char text[24];
    std::snprintf(text, sizeof text, "%08llx", static_cast<unsigned long long>(nc));
    return text;
}

std::string quoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// CR, LF and NUL end or cut a header line.
bool breaksHeaderLine(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

class ClientCategory : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "http_client"; }
    std::string message(int value) const override
    {
        switch (static_cast<client_error>(value)) {
        case client_error::unsafe_credentials:
            return "User name or password holds a line break";
        case client_error::no_challenge:
            return "Authentication failed: 401 without a Digest challenge";
        case client_error::unusable_challenge:
            return "Authentication failed: Digest challenge not supported";
        }
        return "Unknown HTTP client error";
    }
};

// Caller holds ctx.mutex.
std::string responseLocked(context& ctx, std::string_view method, std::string_view target)
{
    if (ctx.cnonce.empty()) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        ctx.cnonce = std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    }
    ++ctx.nc;
    const std::string ha1 = md5Hex(ctx.user + ':' + ctx.realm + ':' + ctx.password);
    const std::string ha2 = md5Hex(std::string(method) + ':' + std::string(target));
    if (ctx.qop == "auth")
        return md5Hex(ha1 + ':' + ctx.nonce + ':' + ncText(ctx.nc) + ':' + ctx.cnonce + ':' + ctx.qop + ':' + ha2);
    return md5Hex(ha1 + ':' + ctx.nonce + ':' + ha2);
}

} // namespace

const boost::system::error_category& client_category() noexcept
{
    static const ClientCategory category;
    return category;
}

// ---- Registry ---------------------------------------------------------------

cancel_registration::cancel_registration(context& ctx, std::function<void()> action)
    : action_(std::move(action)), ctx_(&ctx)
{
    std::lock_guard lock(ctx.mutex);
    serial_ = ctx.next_serial++;
    ctx.cancellers.insert(this);
    if (ctx.refusing)
        cancelled_.store(true, std::memory_order_release);
}

cancel_registration::~cancel_registration()
{
    std::lock_guard lock(ctx_->mutex);
    ctx_->cancellers.erase(this);
}

void cancel_registration::cancel()
{
    cancelled_.store(true, std::memory_order_release);
    if (action_)
        action_();
}

void cancel_all(context& ctx)
{
    std::lock_guard resume(detail::resume_mutex(ctx.io));
    std::lock_guard lock(ctx.mutex);
    for (cancel_registration* registration : ctx.cancellers)
        registration->cancel();
}

std::uint64_t next_request(context& ctx)
{
    std::lock_guard lock(ctx.mutex);
    return ctx.next_serial;
}

void cancel_from(context& ctx, std::uint64_t first)
{
    std::lock_guard resume(detail::resume_mutex(ctx.io));
    std::lock_guard lock(ctx.mutex);
    for (cancel_registration* registration : ctx.cancellers)
        if (registration->serial() >= first)
            registration->cancel();
}

void refuse_requests(context& ctx, bool refuse)
{
    std::lock_guard resume(detail::resume_mutex(ctx.io));
    std::lock_guard lock(ctx.mutex);
    ctx.refusing = refuse;
    if (refuse) {
        for (cancel_registration* registration : ctx.cancellers)
            registration->cancel();
    }
}

// ---- Digest -----------------------------------------------------------------

error_code parse_authenticate(context& ctx, std::string value)
{
    const error_code failure = http::error::need_more;
    if (value.size() < 7 || value.compare(0, 7, "Digest ") != 0) {
        qCritical("Invalid WWW-Authenticate header: %s", value.c_str());
        return failure;
    }
    // A challenge value is one header line: a line break or NUL inside it
    // would end up in our own Authorization header.
    if (breaksHeaderLine(value)) {
        qCritical("Invalid WWW-Authenticate header: %s", value.c_str());
        return failure;
    }
    const auto params = authParams(std::string_view(value).substr(7));
    const auto realm = params.find("realm");
    const auto nonce = params.find("nonce");
    if (realm == params.end() || nonce == params.end()) {
        qCritical("Missing required fields in WWW-Authenticate header");
        return failure;
    }
    const auto algorithm = params.find("algorithm");
    if (algorithm != params.end() && !algorithm->second.empty() && algorithm->second != "MD5") {
        qCritical("Unsupported algorithm: %s", algorithm->second.c_str());
        return failure;
    }
    std::string qop;
    if (const auto found = params.find("qop"); found != params.end())
        qop = found->second;
    if (!qop.empty() && qop != "auth") {
        if (!qopListHasAuth(qop)) {
            qCritical("Unsupported qop: %s", qop.c_str());
            return failure;
        }
        qop = "auth";
    }
    std::string opaque;
    if (const auto found = params.find("opaque"); found != params.end())
        opaque = found->second;

    std::lock_guard lock(ctx.mutex);
    ctx.realm = realm->second;
    ctx.nonce = nonce->second;
    ctx.qop = std::move(qop);
    ctx.opaque = std::move(opaque);
    return {};
}

QCoro::Task<expected<std::size_t, error_code>> read_final_response(beast::tcp_stream& stream,
                                                                  beast::flat_buffer& buffer, response& res,
                                                                  const cancel_registration* registration)
{
    for (;;) {
        res = response();
        auto read = co_await async_read(stream, buffer, res, registration);
        const unsigned status = read ? res.result_int() : 0;
        if (!read || status < 100 || status > 199 || status == 101)
            co_return read;
    }
}

namespace detail {

std::string digest_response(context& ctx, std::string_view method, std::string_view target)
{
    std::lock_guard lock(ctx.mutex);
    return responseLocked(ctx, method, target);
}

std::string digest_authorization(context& ctx, std::string_view method, std::string_view target)
{
    std::lock_guard lock(ctx.mutex);
    if (ctx.user.empty() || ctx.password.empty() || ctx.realm.empty() || ctx.nonce.empty())
        return {};
    const std::string response = responseLocked(ctx, method, target);
    std::string value = "Digest username=" + quoted(ctx.user) + ", realm=" + quoted(ctx.realm)
                        + ", nonce=" + quoted(ctx.nonce) + ", uri=" + quoted(target) + ", response=\"" + response
                        + '"';
    // Only echo an opaque the challenge carried: servers refuse an empty one.
    if (!ctx.opaque.empty())
        value += ", opaque=" + quoted(ctx.opaque);
    if (!ctx.qop.empty())
        value += ", qop=" + ctx.qop + ", nc=" + ncText(ctx.nc);
    value += ", cnonce=" + quoted(ctx.cnonce);
    return value;
}

// ---- Requests ---------------------------------------------------------------

QCoro::Task<expected<resolver_results, error_code>> resolve_address(context& ctx, std::string host,
                                                                    std::string service)
{
    tcp::resolver resolver(ctx.io);
    cancel_registration registration(ctx, [&resolver] { resolver.cancel(); });
    co_return co_await async_resolve(resolver, std::move(host), std::move(service), &registration);
}

template <typename Body>
QCoro::Task<expected<response, error_code>> http_request(context& ctx, resolver_results results,
                                                         http::request<Body> request)
{
    {
        std::unique_lock lock(ctx.mutex);
        if (breaksHeaderLine(ctx.user) || breaksHeaderLine(ctx.password)) {
            lock.unlock();
            qCritical("Digest user name or password holds a line break; request to %s not sent",
                      std::string(view(request.target())).c_str());
            co_return request_result(error_code(client_error::unsafe_credentials));
        }
    }

    beast::tcp_stream stream(ctx.io);
    cancel_registration registration(ctx, [&stream] { stream.cancel(); });

    auto connected = co_await async_connect(stream, std::move(results), &registration);
    if (!connected)
        co_return request_result(connected.error());

    const std::string authorization =
        detail::digest_authorization(ctx, view(request.method_string()), view(request.target()));
    if (!authorization.empty())
        request.set(http::field::authorization, authorization);

    auto written = co_await async_write(stream, request, &registration);
    if (!written)
        co_return request_result(written.error());

    beast::flat_buffer buffer;
    response res;
    auto read = co_await read_final_response(stream, buffer, res, &registration);
    if (!read)
        co_return request_result(read.error());

    error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    if (ec && ec != asio::error::not_connected)
        co_return request_result(ec);
    co_return request_result(std::move(res));
}

template QCoro::Task<expected<response, error_code>> http_request(context&, resolver_results, string_request);
template QCoro::Task<expected<response, error_code>> http_request(context&, resolver_results, buffer_request);

} // namespace detail

namespace {

// One exchange, answering a 401 Digest challenge once.
template <typename Body>
QCoro::Task<expected<response, error_code>> authorizedExchange(context& ctx, resolver_results results,
                                                               http::request<Body> request)
{
    auto first = co_await http_client::http_request(ctx, results, request);
    if (!first || first->result() != http::status::unauthorized)
        co_return std::move(first);

    const auto challenge = first->find(http::field::www_authenticate);
    if (challenge == first->end()) {
        qDebug("No WWW-Authenticate header found in response");
        co_return request_result(error_code(client_error::no_challenge));
    }
    if (parse_authenticate(ctx, std::string(view(challenge->value()))))
        co_return request_result(error_code(client_error::unusable_challenge));

    // The retry sends a fresh copy of the request, so Authorization appears
    // once, as its last field.
    co_return co_await http_client::http_request(ctx, std::move(results), std::move(request));
}

template <typename Body>
http::request<Body> requestHeader(http::verb method, const std::string& target, const std::string& host,
                                  const std::string& contentType, std::size_t contentLength)
{
    http::request<Body> request(method, target, 11);
    request.set(http::field::host, host);
    request.set(http::field::user_agent, user_agent);
    if (!contentType.empty())
        request.set(http::field::content_type, contentType);
    // No prepare_payload(): it would add "Content-Length: 0".
    if (contentLength != 0)
        request.set(http::field::content_length, std::to_string(contentLength));
    return request;
}

} // namespace

QCoro::Task<expected<response, error_code>> authorized_request(context& ctx, resolver_results results,
                                                               std::string host, http::verb method,
                                                               std::string target, std::string content_type,
                                                               std::size_t content_length, std::string body)
{
    std::lock_guard lock(detail::resume_mutex(ctx.io));
    auto request = requestHeader<string_request::body_type>(method, target, host, content_type, content_length);
    if (content_length != 0)
        request.body() = std::move(body);
    return authorizedExchange(ctx, std::move(results), std::move(request));
}

QCoro::Task<expected<response, error_code>> authorized_request(context& ctx, resolver_results results,
                                                               std::string host, http::verb method,
                                                               std::string target, std::string content_type,
                                                               std::size_t content_length,
                                                               beast::multi_buffer& body)
{
    std::lock_guard lock(detail::resume_mutex(ctx.io));
    auto request = requestHeader<buffer_request::body_type>(method, target, host, content_type, content_length);
    if (content_length != 0)
        request.body() = body;
    return authorizedExchange(ctx, std::move(results), std::move(request));
}

} // namespace http_client
