#include "vantor.h"

#include "calupdater.h"
#include "valuelimits.h"
#include "vantorreplies.h"

#include "glowkit/tesscalfile.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>
#include <QMutexLocker>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace {

using Locker = QMutexLocker<ModelMutex>;
using boost::beast::http::verb;

const QString kUserKey = QStringLiteral("VantorU");
const QString kPasswordKey = QStringLiteral("VantorP");
constexpr quint64 kCryptKey = Q_UINT64_C(0x0F3B71C5E29D4A68);

constexpr const char* kDataPath = "/api/v1/data";
constexpr const char* kGeneratePath = "/api/v1/media/generate";
constexpr const char* kFetchPath = "/api/v1/data?dev.receivers&sys.fixtures";
constexpr const char* kReadPath =
    "/api/v1/data?dev.display.brightness&dev.display.cct&dev.display.cctDuv&dev.display.gamma"
    "&dev.display.eotfType&dev.display.lumaMax&dev.display.tileBpc&dev.display.gains"
    "&dev.display.out.adjust&dev.display.out.curves.enabled&dev.ingest.testPattern.enabled"
    "&dev.ingest.testPattern.type&dev.ingest.outputFreq";

QJsonObject rgb(const QJsonValue& r, const QJsonValue& g, const QJsonValue& b)
{
    return QJsonObject {{QStringLiteral("r"), r}, {QStringLiteral("g"), g}, {QStringLiteral("b"), b}};
}

// The per-LDM gain record of the processor.
QJsonObject ldmGains(double r, double g, double b, double i)
{
    QJsonObject gains = rgb(r, g, b);
    gains.insert(QStringLiteral("i"), i);
    return QJsonObject {{QStringLiteral("gains"), gains}};
}

// "dev" -> "receivers" -> MAC -> "ldms" -> key -> "gains", from the LDM
// objects collected per receiver.
QJsonDocument receiversDocument(const std::map<QString, QJsonObject>& ldmsByReceiver)
{
    QJsonObject receivers;
    for (const auto& [name, ldms] : ldmsByReceiver)
        receivers.insert(name, QJsonObject {{QStringLiteral("ldms"), ldms}});
    return QJsonDocument(QJsonObject {
        {QStringLiteral("dev"), QJsonObject {{QStringLiteral("receivers"), receivers}}}});
}

QJsonDocument testPatternDocument(QJsonObject testPattern)
{
    return QJsonDocument(QJsonObject {
        {QStringLiteral("dev"),
         QJsonObject {{QStringLiteral("ingest"),
                       QJsonObject {{QStringLiteral("testPattern"), testPattern}}}}}});
}

QJsonArray pair(qint64 a, qint64 b)
{
    return QJsonArray {QJsonValue(a), QJsonValue(b)};
}

// The list operations take pointers: pointers to the records of a copy.
QList<Macropixel*> pointersTo(QList<Macropixel>& records)
{
    QList<Macropixel*> pointers;
    pointers.reserve(records.size());
    for (Macropixel& record : records)
        pointers.append(&record);
    return pointers;
}

// A request that this program cancelled (a Stop, a new address) says nothing
// about the processor.
bool cancelledHere(const ErrorType& error)
{
    return error.cancelled;
}

// The error of a failed exchange, told cancelled by its code.
ErrorType exchangeError(const boost::system::error_code& ec, const QString& message)
{
    return ec == boost::asio::error::operation_aborted ? ErrorType::cancelledRequest(message)
                                                       : ErrorType(1, message);
}

} // namespace

// ------------------------------------------------------------- construction

Vantor::Vantor(boost::asio::io_context& io, QObject* parent)
    : DisplayBase(QStringLiteral("VANTOR"), parent)
    , io_(io)
    , httpContext(io, cancellers)
    , crypt(kCryptKey)
{
    isVantor_ = true;
    requestAddress = address();

    QSettings settings;
    if (settings.contains(kUserKey))
        setUsername(settings.value(kUserKey).toString());
    if (settings.contains(kPasswordKey))
        setPassword(crypt.decryptToString(settings.value(kPasswordKey).toString()));

    Locker lock(&modelMutex_);
    red_ = 0.0;
    green_ = 0.0;
    blue_ = 0.0;
}

Vantor::~Vantor() = default;

// -------------------------------------------------------------- credentials

// The credentials are the Digest state's strings, read up to a NUL byte.
QString Vantor::username() const
{
    std::lock_guard lock(httpContext.mutex);
    return QString::fromUtf8(httpContext.user.c_str());
}

QString Vantor::password() const
{
    std::lock_guard lock(httpContext.mutex);
    return QString::fromUtf8(httpContext.password.c_str());
}

void Vantor::setUsername(const QString& username)
{
    if (username == this->username())
        return;
    {
        std::lock_guard lock(httpContext.mutex);
        httpContext.user = username.toStdString();
    }
    Q_EMIT usernameChanged();
    QSettings().setValue(kUserKey, this->username());
}

void Vantor::setPassword(const QString& password)
{
    if (password == this->password())
        return;
    {
        std::lock_guard lock(httpContext.mutex);
        httpContext.password = password.toStdString();
    }
    Q_EMIT passwordChanged();
    QSettings().setValue(kPasswordKey, crypt.encryptToString(this->password()));
}

// ------------------------------------------------------- display settings

// Each writer stores, sends the settings (the result is dropped) and then
// announces the change.
void Vantor::setCct(uint cct)
{
    if (!storeUnderLock_(cct_, cct))
        return;
    updateVantor();
    Q_EMIT cctChanged(cct);
}

void Vantor::setDuv(double duv)
{
    if (!storeUnderLock_(duv_, duv))
        return;
    updateVantor();
    Q_EMIT duvChanged();
}

void Vantor::setEotfType(const QString& eotfType)
{
    if (!storeUnderLock_(eotfType_, eotfType))
        return;
    updateVantor();
    Q_EMIT eotfTypeChanged();
}

void Vantor::setGamma(double gamma)
{
    if (!storeUnderLock_(gamma_, gamma))
        return;
    updateVantor();
    Q_EMIT gammaChanged(gamma);
}

void Vantor::setPercentBrightness(double percentBrightness)
{
    if (!storeUnderLock_(percentBrightness_, percentBrightness))
        return;
    updateVantor();
    Q_EMIT percentBrightnessChanged(percentBrightness);
}

void Vantor::setLumaMax(double lumaMax)
{
    lumaMax = std::max(lumaMax, 100.0);
    if (!storeUnderLock_(lumaMax_, lumaMax))
        return;
    updateVantor();
    Q_EMIT lumaMaxChanged(lumaMax);
}

void Vantor::setTestPatternEnabled(bool enabled)
{
    if (!storeUnderLock_(testPatternEnabled_, enabled))
        return;
    updateVantor();
    Q_EMIT testPatternEnabledChanged();
}

void Vantor::setCurvesEnabled(bool enabled)
{
    if (!storeUnderLock_(curvesEnabled_, enabled))
        return;
    updateVantor();
    Q_EMIT curvesEnabledChanged();
}

ErrorType Vantor::updateVantor()
{
    if (!updatesEnabled)
        return {};

    // One snapshot of the colour, the gains and the settings; the lock is
    // released before the exchange waits.
    double red, green, blue, gainRed, gainGreen, gainBlue, brightness, gamma;
    uint cct;
    bool curves, testPattern;
    {
        Locker lock(&modelMutex_);
        red = red_;
        green = green_;
        blue = blue_;
        gainRed = displayGainRed_;
        gainGreen = displayGainGreen_;
        gainBlue = displayGainBlue_;
        brightness = percentBrightness_;
        gamma = gamma_;
        cct = cct_;
        curves = curvesEnabled_;
        testPattern = testPatternEnabled_;
    }

    const QJsonObject adjust {
        {QStringLiteral("enabled"), true},
        {QStringLiteral("legacy"), false},
        {QStringLiteral("lift"), rgb(0, 0, 0)},
        {QStringLiteral("gamma"), rgb(1, 1, 1)},
        {QStringLiteral("gain"), rgb(red, green, blue)},
        {QStringLiteral("offset"), rgb(0, 0, 0)},
        {QStringLiteral("saturation"), 1},
    };
    const QJsonObject display {
        {QStringLiteral("brightness"), brightness},
        {QStringLiteral("cct"), qint32(cct)},
        {QStringLiteral("gains"), rgb(gainRed, gainGreen, gainBlue)},
        {QStringLiteral("gamma"), gamma},
        {QStringLiteral("out"),
         QJsonObject {{QStringLiteral("adjust"), adjust},
                      {QStringLiteral("curves"), QJsonObject {{QStringLiteral("enabled"), curves}}}}},
    };
    const QJsonObject ingest {
        {QStringLiteral("testPattern"),
         QJsonObject {{QStringLiteral("enabled"), testPattern},
                      {QStringLiteral("type"), QStringLiteral("white")}}},
    };
    const QJsonDocument document(QJsonObject {
        {QStringLiteral("dev"),
         QJsonObject {{QStringLiteral("display"), display}, {QStringLiteral("ingest"), ingest}}}});

    const JsonResult result = exchange_(document, verb::patch, kDataPath);
    if (!result.has_value())
        return result.error();
    return {};
}

// ------------------------------------------------------------ request layer

QCoro::Task<Vantor::JsonResult> Vantor::sendJsonPatch(QJsonDocument document, verb method,
                                                      const char* target)
{
    // Everything the exchange needs is copied before the first suspension.
    const std::string path(target);
    const QString address = requestAddress_();
    if (address.isEmpty())
        co_return JsonResult(ErrorType(2, tr("No network address")));

    if (endpoints().empty()) {
        const ErrorType failure = lookUp_();
        if (failure.code != 0)
            co_return JsonResult(failure);
    }

    const std::string host = address.split(QLatin1Char(':'), Qt::KeepEmptyParts).constFirst().toStdString();
    const QByteArray body = document.isNull() ? QByteArray() : document.toJson(QJsonDocument::Compact);

    auto request = http_client::authorized_request(httpContext, endpoints(), host, method, path,
                                                   std::string("application/json"), size_t(body.size()),
                                                   body.toStdString());
    auto response = co_await http_client::await_task(io_, request);
    if (!response.has_value())
        co_return JsonResult(exchangeError(response.error(), QString::fromStdString(response.error().message())));

    const auto& reply = response.value();
    const unsigned status = reply.result_int();
    const QByteArray text = QByteArray::fromStdString(reply.body());
    if (status == 200 || status == 204)
        co_return JsonResult(QJsonDocument::fromJson(text));
    co_return JsonResult(
        ErrorType(1, QStringLiteral("HTTP error %1: %2").arg(status).arg(QString::fromUtf8(text))));
}

Vantor::JsonResult Vantor::exchange_(const QJsonDocument& document, verb method, const char* target)
{
    auto task = sendJsonPatch(document, method, target);
    return http_client::sync_wait(io_, task);
}

Vantor::Endpoints Vantor::endpoints() const
{
    std::lock_guard lock(endpointsMutex_);
    return resolvedEndpoints;
}

QString Vantor::requestAddress_() const
{
    std::lock_guard lock(endpointsMutex_);
    return requestAddress;
}

void Vantor::resolveAddress()
{
    lookUp_();
}

QString Vantor::resolveAddress_()
{
    return lookUp_().message;
}

ErrorType Vantor::lookUp_()
{
    const QString address = requestAddress_();
    qDebug("Vantor resolving address %s", qUtf8Printable(address));

    const QStringList parts = address.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    const std::string host = parts.constFirst().toStdString();
    const std::string service = parts.size() >= 2 ? parts.at(1).toStdString() : std::string("80");

    auto task = http_client::resolve_address(httpContext, host, service);
    const auto result = http_client::sync_wait(io_, task);
    if (!result.has_value()) {
        qCritical("Vantor address failed to resolve, error %s", result.error().message().c_str());
        return exchangeError(result.error(), tr("VANTOR address %1 cannot be resolved: %2")
                                                 .arg(address, QString::fromStdString(result.error().message())));
    }
    if (lookupHook)
        lookupHook(address);

    const Endpoints& results = result.value();
    QStringList texts;
    for (const auto& entry : results) {
        const auto endpoint = entry.endpoint();
        texts.append(QStringLiteral("%1:%2")
                         .arg(QString::fromStdString(endpoint.address().to_string()))
                         .arg(endpoint.port()));
    }
    qDebug("Vantor address resolved, %zu result(s): %s", size_t(results.size()),
           qUtf8Printable(texts.join(QStringLiteral(", "))));

    // The address may have changed while the look-up ran (on another
    // thread): the results of the old one must not stay in the cache.
    std::lock_guard lock(endpointsMutex_);
    if (requestAddress == address)
        resolvedEndpoints = results;
    return {};
}

void Vantor::tellUnanswered(int seconds)
{
    setReadError_(tr("the processor did not answer within %1 s").arg(seconds));
}

void Vantor::setAddress(const QString& newAddress)
{
    if (newAddress == address())
        return;
    cancel();
    DisplayBase::setAddress(newAddress);
    std::lock_guard lock(endpointsMutex_);
    requestAddress = address();
    resolvedEndpoints = Endpoints();
}

void Vantor::cancel()
{
    http_client::cancel_all(httpContext);
}

quint64 Vantor::nextRequest()
{
    return http_client::next_request(httpContext);
}

void Vantor::cancelFrom(quint64 first)
{
    http_client::cancel_from(httpContext, first);
}

void Vantor::setRefusing(bool refusing)
{
    http_client::refuse_requests(httpContext, refusing || shutDown_);
}

void Vantor::shutDown()
{
    shutDown_ = true;
    http_client::refuse_requests(httpContext, true);
}

// --------------------------------------------------------------- state read

ErrorType Vantor::read()
{
    const ErrorType error = readState_();
    if (!cancelledHere(error))
        setReadError_(error.message);
    return error;
}

ErrorType Vantor::readState_()
{
    const JsonResult result = exchange_(QJsonDocument(), verb::get, kReadPath);
    if (!result.has_value())
        return result.error();

    updatesEnabled = false;
    ErrorType outcome;

    const VantorReply::DisplayState state = VantorReply::parseDisplayState(result.value());

    if (state.brightness) {
        const double value = *state.brightness;
        if (storeUnderLock_(percentBrightness_, value)) {
            Q_EMIT percentBrightnessChanged(value);
        }
    }
    if (state.cct) {
        const uint value = *state.cct;
        if (storeUnderLock_(cct_, value)) {
            Q_EMIT cctChanged(value);
        }
    }
    if (state.duv) {
        const double value = *state.duv;
        if (storeUnderLock_(duv_, value)) {
            Q_EMIT duvChanged();
        }
    }
    if (state.eotfType)
        setEotfType(*state.eotfType);
    if (state.gamma) {
        const double value = *state.gamma;
        if (storeUnderLock_(gamma_, value)) {
            Q_EMIT gammaChanged(value);
        }
    }
    if (state.lumaMax) {
        const double value = *state.lumaMax;
        if (storeUnderLock_(lumaMax_, value)) {
            Q_EMIT lumaMaxChanged(value);
        }
    }

    if (state.gain) {
        DisplayBase::setRGB(0, state.gain->r, state.gain->g, state.gain->b);
    } else if (!state.processorCurves) {
        qDebug("VANTOR: r,g,b data not found.");
        outcome = ErrorType(2, QStringLiteral("RGB data not found in VANTOR status"));
    }

    if (state.displayGains) {
        DisplayBase::setDisplayGainRGB(state.displayGains->r, state.displayGains->g, state.displayGains->b);
    } else if (state.displayGainsInvalid) {
        // The gains held so far stay.
        qDebug("VANTOR: display.gains r,g,b data not valid.");
        outcome = ErrorType(2, QStringLiteral("display.gains RGB data not valid in VANTOR status"));
    } else if (!state.processorCurves) {
        qDebug("VANTOR: display.gains r,g,b data not found.");
        outcome = ErrorType(2, QStringLiteral("display.gains RGB data not found in VANTOR status"));
    }

    if (state.testPatternEnabled) {
        const bool value = *state.testPatternEnabled;
        if (storeUnderLock_(testPatternEnabled_, value)) {
            Q_EMIT testPatternEnabledChanged();
        }
    }
    if (state.outputFrequency)
        setOutputFrequency(*state.outputFrequency);

    updatesEnabled = true;
    return outcome;
}

namespace {

// Display gains the processor would refuse in its next state read are not
// sent: code 2, naming the gain and its bounds.
std::optional<ErrorType> refuseDisplayGains(double red, double green, double blue)
{
    const std::pair<const char*, double> gains[] {{"red", red}, {"green", green}, {"blue", blue}};
    for (const auto& [name, gain] : gains) {
        if (!Limits::kDisplayGain.holds(gain))
            return ErrorType(2, QStringLiteral("The %1 display gain %2 lies outside %3..%4")
                                    .arg(QLatin1String(name), QString::number(gain, 'g', 16),
                                         QString::number(Limits::kDisplayGain.low, 'g', 16),
                                         QString::number(Limits::kDisplayGain.high, 'g', 16)));
    }
    return std::nullopt;
}

} // namespace

// ------------------------------------------------------------------- colour

ErrorType Vantor::setRed(double newRed)
{
    if (newRed == red())
        return {};
    return setRGB(0, newRed, green(), blue());
}

ErrorType Vantor::setGreen(double newGreen)
{
    if (newGreen == green())
        return {};
    return setRGB(0, red(), newGreen, blue());
}

ErrorType Vantor::setBlue(double newBlue)
{
    if (newBlue == blue())
        return {};
    return setRGB(0, red(), green(), newBlue);
}

ErrorType Vantor::setRGB(uint number, double red, double green, double blue)
{
    if (number != 0) {
        if (number == 1) {
            qDebug("Vantor::setRGB: #%d %.4f %.4f %.4f", int(number), red, green, blue);
            qDebug("      --> %.4f %.4f %.4f", red, green, blue);
        }
        qDebug("*** Vantor::setRGB called with number %d ****", int(number));
        return setLdmRGB(number, red, green, blue, 0.0);
    }

    // Component by component: store, then announce. Exact comparison: a NaN
    // always counts as a change.
    const auto store = [this](double& component, double value) {
        Locker lock(&modelMutex_);
        if (value == component)
            return false;
        component = value;
        return true;
    };
    bool changed = false;
    if (store(red_, red)) {
        changed = true;
        Q_EMIT redChanged();
    }
    if (store(green_, green)) {
        changed = true;
        Q_EMIT greenChanged();
    }
    if (store(blue_, blue)) {
        changed = true;
        Q_EMIT blueChanged();
    }
    if (changed)
        Q_EMIT colorStrChanged();
    return updateVantor();
}

ErrorType Vantor::setDisplayGainRGB(double red, double green, double blue)
{
    if (const auto refused = refuseDisplayGains(red, green, blue))
        return *refused;
    DisplayBase::setDisplayGainRGB(red, green, blue);
    return updateVantor();
}

// ---------------------------------------------------------------- LDM gains

ErrorType Vantor::setLdmRGB(uint number, double r, double g, double b, double i)
{
    std::map<QString, QJsonObject> ldmsByReceiver;
    {
        Locker lock(&modelMutex_);
        if (number - 1 >= uint(ldmList.size()))
            return ErrorType(2);
        Macropixel& ldm = ldmList[qsizetype(number - 1)];
        ldm.redGain = r;
        ldm.greenGain = g;
        ldm.blueGain = b;
        ldm.intensityGain = i;
        ldmsByReceiver[ldm.name].insert(QString::number(ldm.index), ldmGains(r, g, b, i));
    }

    const JsonResult result = exchange_(receiversDocument(ldmsByReceiver), verb::patch, kDataPath);
    if (!result.has_value())
        return result.error();
    Q_EMIT ldmDataChanged();
    return {};
}

ErrorType Vantor::setLdmRGBs(QList<Macropixel*>& ldms)
{
    // The LDMs are collected per receiver, so that a list that visits a
    // receiver more than once still sends every gain it holds.
    std::map<QString, QJsonObject> ldmsByReceiver;
    {
        Locker lock(&modelMutex_);
        for (const Macropixel* entry : std::as_const(ldms)) {
            if (!entry)
                continue;
            const int n = int(entry->number);
            if (n < 1 || n > ldmList.size()) {
                qDebug("setLdmRGBs: no LDM #%d (count %d), entry skipped", n, int(ldmList.size()));
                continue;
            }
            Macropixel& ldm = ldmList[n - 1];
            ldm.redGain = entry->redGain;
            ldm.greenGain = entry->greenGain;
            ldm.blueGain = entry->blueGain;
            ldm.intensityGain = entry->intensityGain;
            ldmsByReceiver[ldm.name].insert(
                QString::number(ldm.index),
                ldmGains(ldm.redGain, ldm.greenGain, ldm.blueGain, ldm.intensityGain));
        }
    }

    const JsonResult result = exchange_(receiversDocument(ldmsByReceiver), verb::patch, kDataPath);
    if (!result.has_value())
        return result.error();
    Q_EMIT ldmDataChanged();
    return {};
}

void Vantor::sendAllLdmGains_()
{
    // Copies, so that the list stays valid whatever the model does while the
    // request waits.
    QList<Macropixel> copies = underLock_(ldmList);
    QList<Macropixel*> all = pointersTo(copies);
    setLdmRGBs(all);
}

void Vantor::lightSelectedLdms()
{
    DisplayBase::lightSelectedLdms();
    sendAllLdmGains_();
}

void Vantor::lightLitLdms(bool on)
{
    DisplayBase::lightLitLdms(on);
    sendAllLdmGains_();
}

void Vantor::resetLdms(bool resetRGB, bool resetIntensity)
{
    DisplayBase::resetLdms(resetRGB, resetIntensity);
    sendAllLdmGains_();
}

// ------------------------------------------------------------ output curves

ErrorType Vantor::sendCalibration(const QList<DisplayBase::CalibrationPoint>& points, double red,
                                  double green, double blue)
{
    if (const auto refused = refuseDisplayGains(red, green, blue)) {
        qDebug("sendCalibration: error %s", qUtf8Printable(refused->message));
        return *refused;
    }
    const auto handles = [](double px, double py, double mx, double my) {
        return QJsonObject {{QStringLiteral("px"), px},
                            {QStringLiteral("py"), py},
                            {QStringLiteral("mx"), mx},
                            {QStringLiteral("my"), my}};
    };
    QJsonArray reds, greens, blues;
    for (const CalibrationPoint& p : points) {
        reds.append(handles(p.redPx, p.redPy, p.redMx, p.redMy));
        greens.append(handles(p.greenPx, p.greenPy, p.greenMx, p.greenMy));
        blues.append(handles(p.bluePx, p.bluePy, p.blueMx, p.blueMy));
    }
    // The processor takes each curve as a string that holds the JSON array.
    const auto text = [](const QJsonArray& curve) {
        return QString::fromUtf8(QJsonDocument(curve).toJson(QJsonDocument::Compact));
    };
    const QJsonObject curves {
        {QStringLiteral("enabled"), true},
        {QStringLiteral("y"), QStringLiteral("[]")},
        {QStringLiteral("r"), text(reds)},
        {QStringLiteral("g"), text(greens)},
        {QStringLiteral("b"), text(blues)},
    };
    const QJsonObject display {
        {QStringLiteral("out"), QJsonObject {{QStringLiteral("curves"), curves}}},
        {QStringLiteral("gains"), rgb(red, green, blue)},
    };
    const QJsonDocument document(
        QJsonObject {{QStringLiteral("dev"), QJsonObject {{QStringLiteral("display"), display}}}});

    const JsonResult result = exchange_(document, verb::patch, kDataPath);
    if (!result.has_value()) {
        qDebug("sendCalibration: error %s", qUtf8Printable(result.error().message));
        return result.error();
    }
    return {};
}

// ------------------------------------------------------------ test patterns

ErrorType Vantor::displayTestPattern(DisplayBase::TestPattern pattern, int x, int y)
{
    const QString enabled = QStringLiteral("enabled");
    const QString mediaEnabled = QStringLiteral("mediaEnabled");
    switch (pattern) {
    case TestPatternOff:
    case TestPatternWhite: {
        QJsonObject testPattern {{enabled, pattern == TestPatternWhite}, {mediaEnabled, false}};
        if (pattern == TestPatternWhite)
            testPattern.insert(QStringLiteral("type"), QStringLiteral("white"));
        const JsonResult result = exchange_(testPatternDocument(testPattern), verb::patch, kDataPath);
        if (!result.has_value())
            return result.error();
        return {};
    }
    case TestPatternGenerated: {
        const JsonResult off = exchange_(testPatternDocument(QJsonObject {{enabled, false}}), verb::patch, kDataPath);
        if (!off.has_value())
            return off.error();

        const double w = x, h = y;
        const QJsonObject rect {
            {QStringLiteral("type"), QStringLiteral("rect")},
            {QStringLiteral("position"),
             pair(std::llround((w - w / 3.0) * 0.5), std::llround((h - h / 3.0) * 0.5))},
            {QStringLiteral("size"), pair(std::llround(w / 3.0), std::llround(h / 3.0))},
            {QStringLiteral("color"), QJsonArray {1, 1, 1}},
        };
        const QJsonObject repeat {
            {QStringLiteral("type"), QStringLiteral("repeat")},
            {QStringLiteral("step"), pair(x, y)},
            {QStringLiteral("draw"), QJsonArray {rect}},
        };
        const QJsonDocument generate(QJsonObject {
            {QStringLiteral("$schema"), QStringLiteral("./vantor-generate-v1.json")},
            {QStringLiteral("draw"), QJsonArray {repeat}},
        });
        const JsonResult result = exchange_(generate, verb::post, kGeneratePath);
        if (!result.has_value())
            return result.error();
        return {};
    }
    }
    return {};
}

// --------------------------------------------------------- tiles and LDMs

ErrorType Vantor::fetchLdms()
{
    // The wall shown so far stays until a reply that describes a whole wall
    // has come in: a failed fetch changes nothing of it.
    const ErrorType error = fetchWall_();
    if (!cancelledHere(error))
        setFetchError_(error.message);
    return error;
}

ErrorType Vantor::fetchWall_()
{
    const JsonResult result = exchange_(QJsonDocument(), verb::get, kFetchPath);
    if (!result.has_value())
        return result.error();

    const VantorReply::Wall wall = VantorReply::parseWall(result.value());
    if (wall.malformed)
        return ErrorType(2, tr("VANTOR wall configuration malformed: %1 is no JSON object").arg(*wall.malformed));
    if (wall.missingType)
        return ErrorType(2, tr("type %1 missing").arg(*wall.missingType));
    {
        Locker lock(&modelMutex_);
        ldmList.clear();
        tileList.clear();
        for (const VantorReply::Receiver& receiver : wall.receivers) {
            addTile(receiver.tile);
            const uint tileNumber = uint(tileList.size());
            for (Macropixel ldm : receiver.ldms) {
                ldm.tile = tileNumber;
                addLdm(ldm);
            }
        }
    }
    fetchLdmsDone();
    return {};
}

// ------------------------------------------------------------- mesh upload

namespace {

// The largest mesh value the processor's 16-bit samples hold (1.0 is 32768).
constexpr double kMaxMeshValue = 1.999;

// One LDM's mesh as the upload needs it.
struct LdmMesh {
    std::string tile; // receiver MAC text
    std::string key;  // the LDM's index within its tile
    TessCalFile::Mesh mesh;
};

// The rounded grid position of a coordinate, 1-based; 0 when it cannot be
// placed (a reference of zero size gives an infinite or undefined quotient).
int gridPosition(float coordinate, float origin, float cell)
{
    const float q = (coordinate - origin) / cell + 1.0f;
    if (!std::isfinite(q) || std::fabs(q) > 1.0e6f)
        return 0;
    return int(std::lround(q));
}

} // namespace

ErrorType Vantor::setMeshRGBs(QList<Macropixel*>& macropixels, float value)
{
    const QString address = requestAddress_();
    if (address.isEmpty())
        return ErrorType(2, tr("No network address"));
    if (endpoints().empty()) {
        const QString failure = resolveAddress_();
        if (!failure.isEmpty())
            return ErrorType(1, failure);
    }

    // The points of one LDM: same tile number, same containing-LDM number.
    std::map<std::pair<int, int>, QList<const Macropixel*>> groups;
    for (const Macropixel* point : std::as_const(macropixels))
        if (point)
            groups[{int(point->tile), point->index}].append(point);
    qDebug("setMeshRGBs: %ld LDMs", long(groups.size()));

    const std::string host = address.split(QLatin1Char(':'), Qt::KeepEmptyParts).constFirst().toUtf8().toStdString();

    std::vector<LdmMesh> meshes;
    meshes.reserve(groups.size());
    int skipped = 0;
    for (const auto& [numbers, points] : groups) {
        Macropixel ref;
        QString tileName;
        {
            Locker lock(&modelMutex_);
            ref = ldm(uint(numbers.second));
            tileName = tile(uint(numbers.first)).name;
        }

        QList<float> xs, ys;
        for (const Macropixel* point : points) {
            if (!xs.contains(point->x))
                xs.append(point->x);
            if (!ys.contains(point->y))
                ys.append(point->y);
        }
        const int nx = int(xs.size());
        const int ny = int(ys.size());
        const float cellWidth = ref.width / float(nx);
        const float cellHeight = ref.height / float(ny);

        LdmMesh entry;
        entry.tile = tileName.toUtf8().toStdString();
        entry.key = QString::number(ref.index).toStdString();
        TessCalFile::Mesh& mesh = entry.mesh;
        mesh.name = "Veltrano continuous";
        mesh.planes.assign(3, std::vector<std::vector<float>>(size_t(ny + 2), std::vector<float>(size_t(nx + 2), 0.0f)));
        mesh.geometry = {0.5f, 0.5f, float(nx), float(ny)};
        mesh.value = value;

        // A point off the reference LDM's cell grid (or of an LDM or tile
        // that the display does not hold) has no cell: it is left out.
        int placed = 0;
        for (const Macropixel* point : points) {
            const int column = gridPosition(point->x, ref.x, cellWidth);
            const int row = gridPosition(point->y, ref.y, cellHeight);
            if (tileName.isEmpty() || column < 1 || column > nx || row < 1 || row > ny) {
                ++skipped;
                continue;
            }
            const double gains[3] = {point->redGain, point->greenGain, point->blueGain};
            for (size_t plane = 0; plane < 3; ++plane)
                mesh.planes[plane][size_t(row)][size_t(column)] =
                    float(std::clamp(gains[plane] + 1.0, 0.0, kMaxMeshValue));
            ++placed;
        }
        if (placed == 0)
            continue; // nothing of this LDM to write: an all-zero mesh would switch it dark

        for (auto& plane : mesh.planes) {
            for (int r = 1; r <= ny; ++r) {
                plane[size_t(r)][0] = plane[size_t(r)][1];
                plane[size_t(r)][size_t(nx + 1)] = plane[size_t(r)][size_t(nx)];
            }
            plane[0] = plane[1];
            plane[size_t(ny + 1)] = plane[size_t(ny)];
        }
        meshes.push_back(std::move(entry));
    }
    if (skipped > 0)
        qWarning("setMeshRGBs: %d mesh points outside their LDM's cell grid skipped", skipped);

    CalUpdater updater(httpContext, host, endpoints());
    updater.setPollInterval(std::chrono::milliseconds(meshPollInterval.load()));
    for (LdmMesh& entry : meshes) {
        std::ostringstream out;
        TessCalFile::Handler().writeStream(entry.mesh, out);
        if (!out) {
            // Nothing is uploaded: a partial stream would corrupt the LDM's correction.
            const QString message = QStringLiteral("setMeshRGBs: the mesh of tile %1, LDM %2 could not be written")
                                        .arg(QString::fromStdString(entry.tile), QString::fromStdString(entry.key));
            qCritical() << message;
            return ErrorType(2, message);
        }
        const std::string bytes = std::move(out).str();
        CalUpdater::Stream stream;
        stream.commit(boost::asio::buffer_copy(stream.prepare(bytes.size()), boost::asio::buffer(bytes)));
        updater.addLDM(entry.tile, entry.key, std::move(stream));
    }

    auto task = updater.UploadTiles();
    const CalUpdater::Result result = http_client::sync_wait(io_, task);
    if (!result) {
        qDebug("Vantor::setMeshRGBs: update finished, no errors");
        return {};
    }
    qCritical("Vantor::setMeshRGBs: update finished, errors: %s", qUtf8Printable(*result));
    return ErrorType(2, *result);
}

ErrorType Vantor::commitMeshRGBs(QList<Macropixel*>& macropixels)
{
    std::set<QString> names;
    {
        Locker lock(&modelMutex_);
        for (const Macropixel* point : std::as_const(macropixels))
            if (point) {
                const QString name = tile(point->tile).name;
                if (!name.isEmpty()) // not a tile of this display
                    names.insert(name);
            }
    }

    for (const QString& name : names) {
        const QByteArray target = "/api/v1/tile/" + name.toUtf8() + "/calSave?type=user";
        const JsonResult result = exchange_(QJsonDocument(), verb::post, target.constData());
        if (!result.has_value()) {
            qCritical() << QStringLiteral("commitMeshRGBs: tile %1, network error %2").arg(name, result.error().message);
            return result.error();
        }
    }
    qDebug("commitMeshRGBs finished!");
    return {};
}

ErrorType Vantor::resetMesh()
{
    // Each LDM becomes the one point of its own mesh, at its own gains.
    QList<Macropixel> copies = underLock_(ldmList);
    for (Macropixel& copy : copies)
        copy.index = int(copy.number);
    QList<Macropixel*> points = pointersTo(copies);
    const ErrorType uploaded = setMeshRGBs(points, 1.0f);
    if (uploaded.code != 0)
        return uploaded;
    return commitMeshRGBs(points);
}
