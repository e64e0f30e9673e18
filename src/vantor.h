#pragma once

#include "displaybase.h"
#include "http_client"
#include "simplecrypt.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QString>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/verb.hpp>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>

// The display that stands for a wall driven by a Vantor LED processor. The
// display model's virtual operations are sent to the processor over its
// REST/JSON interface (HTTP/1.1 with Digest authentication); the processor's
// display settings are published as properties.
//
// Threads: the GUI thread (QML, the run shell, the idle refresh) and, during
// a run, the Calibrator thread call the operations. Every operation waits
// synchronously for its exchange while its own thread keeps handling events.
// The model lists are taken under modelMutex() and never held across a wait;
// the endpoint cache and the address that requests use have their own lock;
// the request registry and the Digest state are guarded inside httpContext.
class Vantor : public DisplayBase
{
    Q_OBJECT
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(uint cct READ cct WRITE setCct NOTIFY cctChanged)
    Q_PROPERTY(double duv READ duv WRITE setDuv NOTIFY duvChanged)
    Q_PROPERTY(QString eotfType READ eotfType WRITE setEotfType NOTIFY eotfTypeChanged)
    Q_PROPERTY(double gamma READ gamma WRITE setGamma NOTIFY gammaChanged)
    Q_PROPERTY(double lumaMax READ lumaMax NOTIFY lumaMaxChanged)
    Q_PROPERTY(double percentBrightness READ percentBrightness WRITE setPercentBrightness NOTIFY
                   percentBrightnessChanged)
    Q_PROPERTY(bool testPatternEnabled READ testPatternEnabled WRITE setTestPatternEnabled NOTIFY
                   testPatternEnabledChanged)
    Q_PROPERTY(bool curvesEnabled READ curvesEnabled WRITE setCurvesEnabled NOTIFY curvesEnabledChanged)

public:
    using Endpoints = http_client::resolver_results;
    using JsonResult = http_client::expected<QJsonDocument, ErrorType>;

    Vantor(boost::asio::io_context& io, QObject* parent = nullptr);
    ~Vantor() override;

    // While false, updateVantor sends nothing: set it false, change several
    // settings, set it true and call updateVantor once to send them together.
    std::atomic<bool> updatesEnabled {true};
    // Called on the requesting thread when a look-up of the address has
    // found it, before any request uses the endpoints: a seam for tests that
    // hold a look-up (none is set in the program).
    std::function<void(const QString& address)> lookupHook;
    // Milliseconds between two busy/idle polls of a mesh upload (tests
    // shorten it).
    std::atomic<int> meshPollInterval {1000};

    QString username() const;
    QString password() const;
    // The display settings are written by QML on the GUI thread and read by
    // updateVantor on its caller's thread: both under modelMutex().
    uint cct() const { return underLock_(cct_); }
    double duv() const { return underLock_(duv_); }
    QString eotfType() const { return underLock_(eotfType_); }
    double gamma() const { return underLock_(gamma_); }
    double lumaMax() const { return underLock_(lumaMax_); }
    double percentBrightness() const { return underLock_(percentBrightness_); }
    bool testPatternEnabled() const { return underLock_(testPatternEnabled_); }
    bool curvesEnabled() const { return underLock_(curvesEnabled_); }

    void setUsername(const QString& username);
    void setPassword(const QString& password);
    void setCct(uint cct);
    void setDuv(double duv);
    void setEotfType(const QString& eotfType);
    void setGamma(double gamma);
    void setPercentBrightness(double percentBrightness);
    void setTestPatternEnabled(bool enabled);
    void setCurvesEnabled(bool enabled);
    // Not the writer of the read-only property: raises the value to 100 first.
    void setLumaMax(double lumaMax);

    // Writes the display settings document (one PATCH) unless updates are off.
    ErrorType updateVantor();

    // The single JSON exchange with the processor, for every method. A null
    // document goes out without a body. Start it and wait with sync_wait.
    QCoro::Task<JsonResult> sendJsonPatch(QJsonDocument document, boost::beast::http::verb method,
                                          const char* target);
    // Resolves the address once; the endpoints are kept until the address changes.
    void resolveAddress();

    // Display interface.
    bool supportsMeshUniformity() const override { return true; }
    ErrorType read() override;
    ErrorType sendCalibration(const QList<DisplayBase::CalibrationPoint>& points, double red,
                              double green, double blue) override;
    ErrorType fetchLdms() override;
    bool reportsLdmGains() const override { return true; }
    ErrorType displayTestPattern(DisplayBase::TestPattern pattern, int x, int y) override;
    ErrorType setMeshRGBs(QList<Macropixel*>& macropixels, float value) override;
    ErrorType commitMeshRGBs(QList<Macropixel*>& macropixels) override;
    Q_INVOKABLE ErrorType resetMesh() override;
    void cancel() override;
    // The number the next request will carry, and the cancel of every
    // pending request started at or after such a number: a busy phase ends
    // only the waits it started itself.
    quint64 nextRequest();
    void cancelFrom(quint64 first);
    // While set, every pending request is cancelled and every new one ends at
    // once with "Operation canceled" (a stopped run on its way out).
    void setRefusing(bool refusing);
    // The same for good, at quit: no request waits on the processor any more.
    void shutDown();
    // The state shown by the output LED: the processor left a request of the
    // periodic read unanswered for the given time (the next good read clears it).
    void tellUnanswered(int seconds);

    // The endpoints in use (a copy, taken under the cache's lock).
    Endpoints endpoints() const;

public Q_SLOTS:
    void setAddress(const QString& newAddress) override;
    ErrorType setRed(double newRed) override;
    ErrorType setGreen(double newGreen) override;
    ErrorType setBlue(double newBlue) override;
    ErrorType setRGB(uint number, double red, double green, double blue) override;
    ErrorType setDisplayGainRGB(double red, double green, double blue) override;
    ErrorType setLdmRGB(uint number, double r, double g, double b, double i) override;
    ErrorType setLdmRGB(uint number, double r, double g, double b) { return setLdmRGB(number, r, g, b, 0.0); }
    ErrorType setLdmRGBs(QList<Macropixel*>& ldms) override;
    void lightSelectedLdms() override;
    void lightLitLdms(bool on) override;
    void resetLdms(bool resetRGB, bool resetIntensity) override;

Q_SIGNALS:
    void usernameChanged();
    void passwordChanged();
    void cctChanged(uint newCct);
    void gammaChanged(double newGamma);
    void lumaMaxChanged(double newLumaMax);
    void percentBrightnessChanged(double newMaxBrightness);
    void testPatternEnabledChanged();
    void curvesEnabledChanged();
    void duvChanged();
    void eotfTypeChanged();

private:
    // Sends a document and waits for the answer.
    JsonResult exchange_(const QJsonDocument& document, boost::beast::http::verb method,
                         const char* target);
    // The state read and the wall fetch; their callers keep the display's error.
    ErrorType readState_();
    ErrorType fetchWall_();
    // Resolves the address; the reason when it cannot be resolved, else empty.
    QString resolveAddress_();
    ErrorType lookUp_();
    // Sends the gains of every LDM of the model (after a lighting or reset).
    void sendAllLdmGains_();
    // The address as requests see it (taken under the endpoint cache's lock).
    QString requestAddress_() const;
    boost::asio::io_context& io_;
    http_client::registry cancellers;
    http_client::context httpContext;
    std::atomic<bool> shutDown_ {false};
    mutable std::mutex endpointsMutex_;
    // A copy of the address, replaced together with the endpoint cache, so
    // that a request on the Calibrator thread never reads the model's text
    // while the GUI thread replaces it.
    QString requestAddress;
    Endpoints resolvedEndpoints;
    SimpleCrypt crypt;
    uint cct_ = 6500;
    double duv_ = 0.0;
    QString eotfType_ = QStringLiteral("sdrPreserve");
    double gamma_ = 2.4;
    double lumaMax_ = 10000.0;
    double percentBrightness_ = 10.0;
    bool testPatternEnabled_ = false;
    bool curvesEnabled_ = false;
};
