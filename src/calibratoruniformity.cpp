// The camera runs (tasks 5 and 6): one adjuster Calibrator per macropixel,
// driven side by side from the Calibrator thread in update cycles. Each cycle
// sends the gains that changed, waits, asks the shell for a camera
// observation and hands every adjuster the observed colour of its macropixel.
// A balance run adjusts per-LDM gains, a template run the cells of the
// per-tile correction meshes, which are committed at the end.

#include "calibrator.h"

#include "displaybase.h"

#include <QDebug>

#include <set>
#include <utility>

namespace {

// Entry i of an observation belongs to adjuster i: a list of another length,
// or with a hole, would be read out of bounds, so it is refused.
enum class Observation { Refused, Empty, Same, Changed };

// An observation list is taken only at the expected length and without null
// entries; a new list replaces the held one.
template <typename T>
Observation takeObservation(const QList<T*>& list, QList<T*>& held, const char* what)
{
    if (list.size() != held.size() || list.contains(nullptr)) {
        qDebug("*** ERROR: %lld %s observed, %lld expected; observation refused ***", qlonglong(list.size()), what,
               qlonglong(held.size()));
        return Observation::Refused;
    }
    if (list.isEmpty())
        return Observation::Empty;
    if (list == held)
        return Observation::Same;
    held = list;
    return Observation::Changed;
}

// Update cycles after the initial one, both phases together.
constexpr int maxCycles = 999;

// Why a uniformity run failed, on one line: what failed and the display's error.
QString failureText(const char* what, const ErrorType& error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), error.oneLine());
}

} // namespace

void Calibrator::balanceSetup()
{
    currentStep = 1;
    steps_ = 1;
    minimumValue = -1.0;
    maximumValue_ = 1.0;
    initialGain = 0.0;
}

void Calibrator::balance()
{
    const TaskType task = task_.load();
    if (task != TaskBalance && task != TaskTemplate)
        return;
    const bool templating = task == TaskTemplate;
    const char* const kind = templating ? "templater" : "balancer";
    // No cause of an earlier run is taken for this one's.
    failure.clear();
    displayError = ErrorType();

    if (logIt_())
        qDebug("Calibrator #%u %s", number_, templating ? "templating" : "balancing");
    if (number_ != 0) {
        qDebug("#%d %s should NOT happen here! Make sure that running is NOT sent to adjusters_[i].", int(number_),
               templating ? "template" : "balance");
        endTask_(true);
        return;
    }
    if (adjusters_.size() != macropixels_.size()) {
        qDebug("***balance(): %lld adjusters != %lld macropixels. ***", qlonglong(adjusters_.size()),
               qlonglong(macropixels_.size()));
        endTask_(true);
        return;
    }
    if (macropixels_.isEmpty()) {
        qDebug("***balance(): no macropixels to process. ***");
        endTask_(true);
        return;
    }
    if (adjusters_.contains(nullptr) || macropixels_.contains(nullptr)) {
        qDebug("***balance(): missing adjuster or macropixel. ***");
        endTask_(true);
        return;
    }

    usingCoroutines = true;
    balanceSetup();
    const double g = initialGain;
    for (Calibrator* a : std::as_const(adjusters_)) {
        a->usingCoroutines = true;
        a->balanceSetup();
        // Stored directly: the setters would clamp them as CCT and Duv.
        a->targetCCT_ = balanceTargets.red;
        a->targetDuv_ = balanceTargets.green;
        a->targetLum_ = balanceTargets.blue;
        a->finishBalancingRequested = false;
        a->coSetRGBGains_(g, g, g);
        a->renewCoAdjust_(balanceTargets.blue);
        a->renewCoGainSet_();
        a->beginTask_(); // an adjuster driven by coroutines only keeps the flag
    }
    adjusters_.constFirst()->setLoggable(true); // logs for all of them

    setStatusString(QStringLiteral("Setting initial levels..."));
    setAndReadMacropixels_(true);
    delay_(readDelay_ + 1000);

    // A finish request reaches the main Calibrator; each adjuster ends its
    // own adjustment when it sees it, with its points averaged.
    auto passFinishOn = [this](Calibrator* a) {
        if (finishBalancingRequested)
            a->finishBalancingRequested = true;
    };

    int cycle = 1; // the initial cycle
    while (running_) {
        bool allDone = true;
        for (Calibrator* a : std::as_const(adjusters_)) {
            if (!running_)
                break;
            passFinishOn(a);
            allDone = a->gainSetCoroutine.step() && allDone;
        }
        if (!running_)
            break;
        setAndReadMacropixels_(false);
        const int started = cycle++;
        if (allDone || started >= maxCycles)
            break;
    }
    // A gain-set phase that used every cycle leaves none to adjust.
    while (running_ && cycle <= maxCycles) {
        bool allDone = true;
        for (Calibrator* a : std::as_const(adjusters_)) {
            if (!running_)
                break;
            passFinishOn(a);
            if (a->adjustCoroutine.step())
                a->running_ = false; // finished: no signal
            else
                allDone = false;
        }
        if (!running_)
            break;
        setAndReadMacropixels_(false);
        const int started = cycle++;
        if (allDone || started >= maxCycles)
            break;
    }

    // A stopped run leaves what it sent uncommitted.
    if (templating && running_) {
        DisplayBase* d = display_.load();
        const ErrorType committed = d ? d->commitMeshRGBs(macropixels_) : ErrorType(2, QStringLiteral("no display"));
        if (committed.code != 0) {
            qDebug("Calibrator::balance: commitMeshRGBs failed: %s", qUtf8Printable(committed.message));
            failure = failureText("mesh commit", committed);
        }
    }
    for (Calibrator* a : std::as_const(adjusters_))
        a->adjustCoroutine.destroy();

    if (logIt_())
        qDebug("*** %lld %ss done after %d update cycles. ***", qlonglong(adjusters_.size()), kind, cycle);
    usingCoroutines = false;
    // Every run ends with done(number, true); one that failed says why in
    // `failure`, which the shell reads.
    endTask_(true);
}

void Calibrator::setAndReadMacropixels_(bool all)
{
    const bool templating = task_.load() == TaskTemplate;
    if (adjusters_.size() != macropixels_.size()) {
        qDebug("*** ERROR: %lld adjusters and %lld macropixels are out of sync ***", qlonglong(adjusters_.size()),
               qlonglong(macropixels_.size()));
        stopRunning_();
        return;
    }
    for (qsizetype i = 0; i < macropixels_.size(); ++i) {
        if (macropixels_[i]->number != adjusters_[i]->number_) {
            qDebug("*** ERROR: adjusters and macropixels are out of sync: %d vs. %d for index %d ***",
                   int(adjusters_[i]->number_), int(macropixels_[i]->number), int(i));
            stopRunning_();
            return;
        }
    }
    Q_EMIT updateProgress();

    // (tile number, index within the tile) of every macropixel whose gains
    // changed; a mesh goes out per LDM, so all cells sharing a pair are sent.
    std::set<std::pair<uint, int>> changedSet;
    bool changed = false;
    for (qsizetype i = 0; i < macropixels_.size(); ++i) {
        Macropixel* m = macropixels_[i];
        Calibrator* a = adjusters_[i];
        if (all) {
            m->redGain = m->greenGain = m->blueGain = initialGain;
        } else if (a->gainsPending) {
            a->gainsPending = false;
            m->redGain = a->gains.red;
            m->greenGain = a->gains.green;
            m->blueGain = a->gains.blue;
        } else {
            continue;
        }
        if (templating)
            changedSet.insert({m->tile, m->index});
        changed = true;
    }

    if (templating) {
        // A tile counts as changed when one of its cells changed.
        std::set<uint> changedTiles;
        for (const auto& pair : changedSet)
            changedTiles.insert(pair.first);
        int count = 0;
        for (Tile* t : std::as_const(tiles_)) {
            if (!t)
                continue;
            t->changed = all || changedTiles.count(t->number) != 0;
            count += t->changed ? 1 : 0;
        }
        if (count != tiles_.size())
            qDebug("(%d tile(s) changed, %lld tiles total)", count, qlonglong(tiles_.size()));
        if (!changed)
            qDebug("*** Nothing changed; will just grab image ***");
    }

    if (!templating) {
        sendLdmRGBs();
    } else if (sendPerLdm) {
        if (changed)
            sendLdmRGBs();
    } else {
        QList<Macropixel*> list;
        for (Macropixel* m : std::as_const(macropixels_))
            if (changedSet.count({m->tile, m->index}) != 0)
                list.append(m);
        if (!list.isEmpty()) {
            DisplayBase* d = display_.load();
            const ErrorType result = d ? d->setMeshRGBs(list, 1.0f) : ErrorType(2, QStringLiteral("no display"));
            if (result.code == 0) {
                qDebug("Vantor::setAndReadMacropixels_: setMeshRGBs completed, %lld mpels changed",
                       qlonglong(list.size()));
            } else {
                qDebug("Vantor::setAndReadMacropixels_: setMeshRGBs failed: %s", qUtf8Printable(result.message));
                if (failure.isEmpty())
                    failure = failureText("mesh upload", result);
                stopRunning_();
            }
        }
    }

    delay_(readDelay_);
    readRGBsObserved(templating);
    // Also after a stop: the adjusters see what was last observed.
    for (qsizetype i = 0; i < macropixels_.size(); ++i) {
        const Macropixel* m = macropixels_[i];
        Reading& r = adjusters_[i]->reading;
        r.cct = m->redObserved;
        r.duv = m->greenObserved;
        r.luminance = m->blueObserved;
    }
}

void Calibrator::sendLdmRGBs()
{
    constexpr int attempts = 20;
    for (int attempt = 0; attempt < attempts && running_; ++attempt) {
        DisplayBase* d = display_.load();
        const ErrorType result = d ? d->setLdmRGBs(macropixels_) : ErrorType(2, QStringLiteral("no display"));
        if (result.code == 0)
            return;
        if (result.code == 1) {
            qDebug("Calibrator::setLdmRGBs: recoverable error %s; will retry %dx...", qUtf8Printable(result.message),
                   attempts - attempt);
            delay_(5000);
            continue;
        }
        qDebug("Calibrator::setLdmRGBs: fatal error %s", qUtf8Printable(result.message));
        if (failure.isEmpty())
            failure = failureText("LDM gains", result);
        stopRunning_();
        return;
    }
}

bool Calibrator::readRGBsObserved(bool tiles)
{
    dataReady = false;
    // A stopped run asks for nothing: the shell would grab for no one.
    if (!running_)
        return false;
    if (tiles)
        Q_EMIT getTilesObserved();
    else
        Q_EMIT getLdmsObserved();
    if (waitForData_())
        return true;
    stopRunning_();
    return false;
}

void Calibrator::macropixelsObserved(QList<Macropixel*> list)
{
    if (mode_ != ModeBalance)
        return;
    const Observation taken = takeObservation(list, macropixels_, "macropixels");
    if (taken == Observation::Refused)
        stopRunning_();
    if (taken == Observation::Changed)
        Q_EMIT macropixelsChanged();
    if (taken == Observation::Same || taken == Observation::Changed)
        dataReady = true;
}

void Calibrator::tilesObserved(QList<Tile*> list)
{
    if (mode_ != ModeTemplate)
        return;
    const Observation taken = takeObservation(list, tiles_, "tiles");
    if (taken == Observation::Refused)
        stopRunning_();
    if (taken == Observation::Changed)
        Q_EMIT tilesChanged();
    if (taken == Observation::Same || taken == Observation::Changed)
        dataReady = true;
}

void Calibrator::dumpMacropixels()
{
    qDebug("%lld macropixels, first few:", qlonglong(macropixels_.size()));
    for (qsizetype i = 0; i < macropixels_.size() && i < 10; ++i) {
        const Macropixel* m = macropixels_[i];
        if (!m)
            continue;
        qDebug("  ldm #%d tile %d gains %+6.3f, %+6.3f, %+6.3f; observed %5.1f, %5.1f, %5.1f", int(m->number),
               int(m->tile), m->redGain, m->greenGain, m->blueGain, m->redObserved, m->greenObserved,
               m->blueObserved);
    }
}

void Calibrator::dumpTiles()
{
    qDebug("%lld tiles, first few:", qlonglong(tiles_.size()));
    for (qsizetype i = 0; i < tiles_.size() && i < 4; ++i) {
        const Tile* t = tiles_[i];
        if (!t)
            continue;
        qDebug("  tile #%d    %s    %s    %lld macropixels; first few:", int(t->number), qUtf8Printable(t->name),
               t->changed ? " CHANGED " : "unchanged", qlonglong(t->macropixels.size()));
        for (qsizetype j = 0; j < t->macropixels.size() && j < 10; ++j) {
            const Macropixel* m = t->macropixels[j];
            if (!m)
                continue;
            qDebug("    #%d tile %d gains %+6.3f, %+6.3f, %+6.3f; observed %5.1f, %5.1f, %5.1f", int(m->number),
                   int(m->tile), m->redGain, m->greenGain, m->blueGain, m->redObserved, m->greenObserved,
                   m->blueObserved);
        }
    }
}
