// The shell's side of balance and template runs: the adjusters and the
// observation records that travel with a run, the observation requests of the
// correction engine, the grabs that answer them and the capture test.
#include "veltranor.h"

#include "threadhandover.h"

#include <QDebug>

#include <cmath>
#include <utility>

namespace {

// The section of the grid whose centre lies under the point (x, y) of a
// record `w` x `h` pixels large; -1 when it falls outside the grid.
int sectionIndex(float x, float y, int w, int h, int minX, int minY, int columns, int rows)
{
    const int column = int(std::trunc((x + float(w / 2) - float(minX)) / float(w)));
    const int row = int(std::trunc((y + float(h / 2) - float(minY)) / float(h)));
    if (column < 0 || column >= columns || row < 0 || row >= rows)
        return -1;
    return row * columns + column;
}

// The averages image of one section, when it exists and holds at least
// `rows` x `columns` three-channel float pixels.
const cv::Mat* sectionImage(const QList<cv::Mat*>& averages, int index, int rows, int columns)
{
    if (index < 0 || index >= averages.size())
        return nullptr;
    const cv::Mat* image = averages.at(index);
    if (!image || image->type() != CV_32FC3 || image->rows < rows || image->cols < columns)
        return nullptr;
    return image;
}

} // namespace

void Veltranor::deleteAdjusters()
{
    while (!adjusters_.isEmpty())
        delete adjusters_.takeLast();
    while (!uniformityLdms_.isEmpty())
        delete uniformityLdms_.takeLast();
    while (!uniformityTiles_.isEmpty())
        delete uniformityTiles_.takeLast();
}

void Veltranor::endRun_()
{
    const bool wasRunning = std::exchange(running_, false);
    settleBusy_();
    if (wasRunning)
        Q_EMIT runningChanged(false);
}

void Veltranor::runGrabContinuation_(bool ok)
{
    if (auto next = std::exchange(grabContinuation_, {}))
        next(ok);
}

// ---------------------------------------------------------------- builders

bool Veltranor::buildBalancers()
{
    deleteAdjusters();
    const uint n = display_ ? display_->adjustableLdmCount() : 0;
    adjusters_.reserve(n);
    uniformityLdms_.reserve(n);
    if (display_) {
        DisplayBase::Records records(*display_);
        for (uint i = 1; i <= n; ++i) {
            const Macropixel* ldm = records.adjustableLdm(i);
            if (!ldm)
                break;
            auto* copy = new Macropixel(*ldm);
            auto* adjuster = new Calibrator(Calibrator::ModeBalance, copy->number);
            if (adjusters_.isEmpty())
                adjuster->setLoggable(true);
            adjusters_.append(adjuster);
            uniformityLdms_.append(copy);
        }
    }
    qDebug("buildBalancers: %lld balancers,  %lld ldms", static_cast<long long>(adjusters_.size()),
           static_cast<long long>(uniformityLdms_.size()));
    return true;
}

bool Veltranor::buildTemplaters()
{
    deleteAdjusters();
    const uint meshWide = tileMeshWidth_;
    const uint meshHigh = tileMeshHeight_;
    const uint cells = meshWide * meshHigh;
    const uint tileCount = display_ ? display_->adjustableTileCount() : 0;
    qDebug("buildTemplaters after deletion: %lld balancers, %lld ldms", static_cast<long long>(adjusters_.size()),
           static_cast<long long>(uniformityLdms_.size()));
    if (tileCount > 0 && !meshFits_(tileCount))
        return false;
    uniformityTiles_.reserve(tileCount);
    adjusters_.reserve(qsizetype(tileCount) * cells);
    uniformityLdms_.reserve(qsizetype(tileCount) * cells);

    uint next = 1;
    for (uint t = 1; t <= tileCount; ++t) {
        auto* tile = new Tile(display_->adjustableTile(t));
        uniformityTiles_.append(tile);
        // A tile without an LDM grid (the simulated wall's single tile) cannot
        // be divided: refused like a grid that does not divide the mesh.
        if (tile->ldmsWide <= 0 || tile->ldmsHigh <= 0 || meshWide % uint(tile->ldmsWide) != 0
            || meshHigh % uint(tile->ldmsHigh) != 0) {
            setStatusString(tr("Tile %1 cell size (%2, %3) not divisible by LDM size (%4, %5)")
                                .arg(tile->name)
                                .arg(meshWide)
                                .arg(meshHigh)
                                .arg(tile->ldmsWide)
                                .arg(tile->ldmsHigh));
            return false;
        }
        const float cellWidth = tile->width / float(meshWide);
        const float cellHeight = tile->height / float(meshHigh);
        for (uint c = 0; c < cells; ++c) {
            const uint row = c / meshWide;
            const uint column = c % meshWide;
            auto* cell = new Macropixel;
            cell->number = next + c;
            cell->x = tile->x + float(column) * cellWidth;
            cell->y = tile->y + float(row) * cellHeight;
            cell->height = cellHeight;
            cell->width = cellWidth;
            auto* adjuster = new Calibrator(Calibrator::ModeTemplate, cell->number);
            adjuster->compliantIterations = btCompliantIterations_;
            adjuster->minIterations = btMinIterations_;
            adjuster->maxIterations = btMaxIterations_;
            adjusters_.append(adjuster);
            uniformityLdms_.append(cell);
            tile->macropixels.append(cell);
            const Macropixel* holder = display_->findLdm(tile->number, int(cell->x), int(cell->y));
            cell->index = holder ? int(holder->number) : 0;
            cell->name = tile->name;
            cell->tile = tile->number;
        }
        next += cells;
    }
    qDebug("buildTemplaters: %lld balancers,  %lld tiles,  %lld macropixels",
           static_cast<long long>(adjusters_.size()), static_cast<long long>(uniformityTiles_.size()),
           static_cast<long long>(uniformityLdms_.size()));
    return true;
}

// ---------------------------------------------------------------- observation requests

void Veltranor::getLdmsObserved()
{
    if (!running_)
        return;
    if (imageSource_ != dummyCamera_) {
        grabContinuation_ = [this](bool ok) { getLdmsObservedPart2(ok); };
        getImageLdmRGBData(false);
        return;
    }
    if (display_) {
        display_->fetchFakeLdmRGBs();
        display_->getLdmObservedRGBs(uniformityLdms_);
    }
    Q_EMIT ldmsObserved(uniformityLdms_);
}

void Veltranor::getTilesObserved()
{
    if (!running_)
        return;
    if (mode_ != Calibrator::ModeTemplate) {
        qDebug("getTilesObserved: not Template mode.");
        endRun_();
        return;
    }
    if (imageSource_ == dummyCamera_) {
        qDebug("getTilesObserved: not usable with dummy camera.");
        endRun_();
        return;
    }
    grabContinuation_ = [this](bool ok) { getTilesObservedPart2(ok); };
    getImageTileRGBData(true);
}

void Veltranor::getLdmsObservedPart2(bool ok)
{
    if (ok) {
        Q_EMIT ldmsObserved(uniformityLdms_);
        return;
    }
    qDebug("Veltranor::getLdmsObservedPart2() failed; terminating balance");
    endRun_();
}

void Veltranor::getTilesObservedPart2(bool ok)
{
    if (ok) {
        Q_EMIT tilesObserved(uniformityTiles_);
        return;
    }
    qDebug("Veltranor::getTilesObservedPart2() failed; terminating balance");
    endRun_();
}

// ---------------------------------------------------------------- grabs

// The image analysis cannot divide a photo into no sections: a lit area
// smaller than one record ends the grab before it starts.
// The section grid of a grab: the lit area divided by the size of its first
// lit LDM or tile ("LDM" or "Tile" in the texts). A zero size or an empty grid
// ends the run and fails the stored step.
bool Veltranor::sectionGrid_(const char* kind, int w, int h, bool verbose, int& wide, int& high, float& aspect)
{
    if (w == 0 || h == 0) {
        endRun_();
        qDebug("Error: reference %s has a zero dimension: %d w, %d h", kind, w, h);
        runGrabContinuation_(false);
        return false;
    }
    const int spanX = display_->maxLitLdmX() - display_->minLitLdmX();
    const int spanY = display_->maxLitLdmY() - display_->minLitLdmY();
    wide = spanX / w;
    high = spanY / h;
    aspect = float(spanX) / float(spanY);
    if (verbose)
        qDebug("%s array is %d x %d (one %s is %d x %d)", kind, wide, high, kind, w, h);
    if (wide > 0 && high > 0)
        return true;
    qDebug("Error: the lit area holds %d x %d sections", wide, high);
    endRun_();
    runGrabContinuation_(false);
    return false;
}

// A request that cannot start runs the stored step with failure at once, so
// whoever waits for the observation is never left waiting.
bool Veltranor::getImageLdmRGBData(bool verbose)
{
    if (!display_ || display_->ldmCount() == 0) {
        qDebug("Veltranor::getImageLdmRGBData: No LDMs found, so no capture or processing performed.");
        runGrabContinuation_(false);
        return false;
    }
    if (imageSource_ && imageSource_->isDummy()) {
        if (verbose)
            qDebug("Dummy camera used; \"capture\" succeeded.");
        display_->fetchFakeLdmRGBs();
        display_->getLdmObservedRGBs(uniformityLdms_);
        display_->setLdmData(0);
        runGrabContinuation_(true);
        return true;
    }
    const Macropixel reference = display_->litLdm(1);
    int wide = 0, high = 0;
    float aspect = 0;
    if (!sectionGrid_("LDM", int(reference.width), int(reference.height), verbose, wide, high, aspect))
        return false;
    background_->setImageSource(imageSource_);
    background_->setArrayInfo(wide, high, aspect);
    background_->setSubarrayInfo(1, 1);
    grabKind_ = 1;
    Q_EMIT grabImageData(verbose);
    return true;
}

bool Veltranor::getImageTileRGBData(bool verbose)
{
    if (!display_ || display_->tileCount() == 0) {
        qDebug("Veltranor::getImageTileRGBData: No Tiles found, so no capture or processing performed.");
        runGrabContinuation_(false);
        return false;
    }
    if (imageSource_ && imageSource_->isDummy()) {
        if (verbose)
            qDebug("Dummy camera used; tile \"capture\" cannot be done.");
        runGrabContinuation_(false);
        return false;
    }
    const Tile reference = display_->litTile(1);
    int wide = 0, high = 0;
    float aspect = 0;
    if (!sectionGrid_("Tile", int(reference.width), int(reference.height), verbose, wide, high, aspect))
        return false;
    if (tileMeshWidth_ == 0 || tileMeshHeight_ == 0) {
        setStatusString(tr("Tile mesh size (%1, %2) has a zero dimension").arg(tileMeshWidth_).arg(tileMeshHeight_));
        endRun_();
        runGrabContinuation_(false);
        return false;
    }
    background_->setImageSource(imageSource_);
    background_->setArrayInfo(wide, high, aspect);
    background_->setSubarrayInfo(int(tileMeshWidth_), int(tileMeshHeight_));
    grabKind_ = 2;
    Q_EMIT grabImageData(verbose);
    return true;
}

void Veltranor::grabImageDataDone(bool success, QList<cv::Mat*>* averages)
{
    threadhandover::takeOver(averages);
    bool result = false;
    if (success && display_) {
        const Macropixel ldmReference = display_->litLdm(1);
        const Tile tileReference = display_->litTile(1);
        const int lw = int(ldmReference.width), lh = int(ldmReference.height);
        const int tw = int(tileReference.width), th = int(tileReference.height);
        const int minX = display_->minLitLdmX(), minY = display_->minLitLdmY();
        const int spanX = display_->maxLitLdmX() - minX, spanY = display_->maxLitLdmY() - minY;
        if (!averages || lw == 0 || lh == 0) {
            qDebug("Error: no averages (%p), or reference LDM has a zero dimension: %d w, %d h",
                   static_cast<void*>(averages), lw, lh);
            endRun_();
        } else if (grabKind_ == 2 && (tw == 0 || th == 0)) {
            qDebug("Error: reference Tile has a zero dimension: %d w, %d h", tw, th);
            endRun_();
        } else if (grabKind_ == 1) {
            const int columns = spanX / lw, rows = spanY / lh;
            for (uint i = 1; i <= display_->ldmCount(); ++i) {
                const Macropixel ldm = display_->ldm(i);
                if (!(ldm.intensityGain > -0.9))
                    continue;
                const int index = sectionIndex(ldm.x, ldm.y, lw, lh, minX, minY, columns, rows);
                const cv::Mat* image = sectionImage(*averages, index, 1, 1);
                if (!image) {
                    qDebug("grabImageDataDone(): LDM %u has no section in the %d x %d grid", i, columns, rows);
                    continue;
                }
                const cv::Vec3f bgr = image->at<cv::Vec3f>(0, 0);
                display_->setLdmRGBObserved(i, double(bgr[2]), double(bgr[1]), double(bgr[0]));
            }
            display_->setLdmData(0);
            if (!uniformityLdms_.isEmpty())
                display_->getLdmObservedRGBs(uniformityLdms_);
            result = true;
        } else if (grabKind_ == 2) {
            const int columns = spanX / tw, rows = spanY / th;
            const int meshWide = int(tileMeshWidth_), meshHigh = int(tileMeshHeight_);
            const size_t expected = size_t(tileMeshWidth_) * tileMeshHeight_;
            for (Tile* tile : std::as_const(uniformityTiles_)) {
                if (!tile->lit)
                    continue;
                if (size_t(tile->macropixels.size()) != expected) {
                    qDebug("grabImageDataDone(): tile %d mpel count is %lld, not %zu!", int(tile->number),
                           static_cast<long long>(tile->macropixels.size()), expected);
                    continue;
                }
                const int index = sectionIndex(tile->x, tile->y, tw, th, minX, minY, columns, rows);
                const cv::Mat* image = sectionImage(*averages, index, meshHigh, meshWide);
                if (!image) {
                    qDebug("grabImageDataDone(): tile %d has no section in the %d x %d grid", int(tile->number),
                           columns, rows);
                    continue;
                }
                for (int r = 0; r < meshHigh; ++r) {
                    for (int c = 0; c < meshWide; ++c) {
                        const cv::Vec3f bgr = image->at<cv::Vec3f>(r, c);
                        Macropixel* cell = tile->macropixels.at(r * meshWide + c);
                        cell->redObserved = double(bgr[2]);
                        cell->greenObserved = double(bgr[1]);
                        cell->blueObserved = double(bgr[0]);
                    }
                }
            }
            result = true;
        }
    }
    runGrabContinuation_(result);
}

// ---------------------------------------------------------------- capture test

bool Veltranor::grabImage(bool verbose)
{
    // A grab of a run in progress keeps its step: the test would steal its answer.
    if (running_ && grabContinuation_) {
        qDebug("Image capture test refused: a grab is in progress.");
        return false;
    }
    if (refuseUnlessIdle_())
        return false;
    captureStartTime_.start();
    captureVerbose_ = verbose;
    if (verbose)
        qDebug("##### Image capture and processing test #####");
    beginBusy_();
    captureTestWaiting_ = verbose;
    grabContinuation_ = [this](bool ok) { grabImagePart2(ok); };
    return mode_ == Calibrator::ModeBalance ? getImageLdmRGBData(verbose) : getImageTileRGBData(verbose);
}

void Veltranor::grabWaiting_(int tryNumber, int attempt)
{
    if (captureTestWaiting_ && running_)
        setStatusString(Background::waitingText(tryNumber, attempt));
}

void Veltranor::grabImagePart2(bool ok)
{
    captureTestWaiting_ = false;
    endRun_();
    // The test's own flag: with the dummy camera, or when the request could
    // not start, the grab worker never saw this request.
    if (!captureVerbose_)
        return;
    qDebug("##### Capture and processing test done in %.3f seconds #####",
           double(captureStartTime_.elapsed()) / 1000.0);
    if (ok) {
        setStatusString(QStringLiteral("Image capture and processing succeeded."));
        setStatus(1);
    } else {
        setStatusString(QStringLiteral("Image capture or processing failed."));
        setStatus(-1);
    }
}

void Veltranor::blankDisplay(bool blank)
{
    if (display_)
        display_->lightLitLdms(!blank);
}

void Veltranor::tileGraderImageProcessed(bool successful)
{
    lastImageProcessed_ = successful ? 1 : -1;
}

void Veltranor::tileGraderAveragesUpdated(cv::Mat averagesArray)
{
    lastAverages_ = averagesArray;
}
