// Choosing and checking the balance target LDM (with the camera's exposure
// loop), the per-LDM and per-tile read-outs, the checkerboard mesh test
// pattern and the registration of the correction-mesh cells in the photo.
#include "veltranor.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTargetGreen = 175;
constexpr int kLevelsPerClick = 20;
constexpr int kMinRedBlue = 60, kMaxRedBlue = 235;
constexpr int kMinGreen = 160, kMaxGreen = 190;
constexpr int kMaxExposureCorrections = 20;

} // namespace

void Veltranor::chooseTargetLdm(int number)
{
    if (refuseUnlessIdle_())
        return;
    setStatusString(QStringLiteral("Testing target LDM..."));
    targetLdmTest_ = true;
    setSelectedLdm(number);
}

void Veltranor::chooseTargetTile(int number)
{
    if (display_) {
        for (uint i = 1; i <= display_->ldmCount(); ++i) {
            if (number >= 0 && display_->ldm(i).tile == uint(number)) {
                qDebug("Veltranor::chooseTargetTile() -> LDM %d", int(i));
                chooseTargetLdm(int(i));
                return;
            }
        }
    }
    qDebug("Veltranor::chooseTargetTile() didn't find LDM!");
}

void Veltranor::setSelectedLdmPart2(bool ok)
{
    const PhaseWait wait(*this);
    Macropixel* target = uniformityLdms_.isEmpty() ? nullptr : uniformityLdms_.first();
    if (ok && target) {
        if (exposureAdjusted()) {
            ++selectedLdmAttempts_;
            qDebug("aeCount %d", selectedLdmAttempts_);
            if (selectedLdmAttempts_ < kMaxExposureCorrections) {
                grabContinuation_ = [this](bool next) { setSelectedLdmPart2(next); };
                getImageLdmRGBData(false);
                return;
            }
        }
        if (testTargetLdm()) {
            setBalanceTargetRed(target->redObserved);
            setBalanceTargetGreen(target->greenObserved);
            setBalanceTargetBlue(target->blueObserved);
            setTargetTime(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss yyyy-MM-dd")));
            if (display_)
                qDebug("LDM #%d: %s", selectedLdm_, qUtf8Printable(display_->dumpLdm(uint(selectedLdm_))));
            if (imageSource_)
                imageSource_->saveExposure();
        }
    } else {
        qDebug("Error: unable to get RGB values for selected LDM");
    }
    if (!uniformityLdms_.isEmpty())
        delete uniformityLdms_.takeFirst();
    endRun_();
    Q_EMIT selectedLdmChanged();
    if (display_)
        display_->setLdmData(0);
    targetLdmTest_ = false;
}

bool Veltranor::exposureAdjusted()
{
    if (!targetLdmTest_ || !imageSource_ || imageSource_ != cameraController_ || !useAutoExposure()
        || uniformityLdms_.isEmpty())
        return false;
    const int green = int(uniformityLdms_.first()->greenObserved);
    const int diff = kTargetGreen - green;
    const int clicks = int(std::lround(double(diff) / double(kLevelsPerClick)));
    delay_(1500);
    qDebug("******* %+d clicks: green is %d  (target %d, diff %+d) *******", clicks, green, kTargetGreen, diff);
    const int changes = cameraController_->changeExposure(clicks);
    qDebug("requested %+d clicks, got %schanges", clicks, changes != 0 ? "" : "NO ");
    if (changes != 0) {
        delay_(500);
        return true;
    }
    if (clicks != 0) {
        qDebug("exposure didn't change; camera at limits.");
        setStatusString(QStringLiteral("Can't properly expose target LDM; please adjust VANTOR brightness."));
    }
    return false;
}

bool Veltranor::testTargetLdm()
{
    if (!targetLdmTest_)
        return true;
    if (uniformityLdms_.isEmpty())
        return false;
    const Macropixel& target = *uniformityLdms_.first();
    const int r = int(target.redObserved);
    const int g = int(target.greenObserved);
    const int b = int(target.blueObserved);

    QString title, advice;
    if (r < kMinRedBlue || g < kMinGreen || b < kMinRedBlue) {
        title = QStringLiteral("Target LDM too dark");
        advice = QStringLiteral("Increase camera’s exposure or VANTOR’s brightness");
    } else if (r > kMaxRedBlue || g > kMaxGreen || b > kMaxRedBlue) {
        title = QStringLiteral("Target LDM too bright");
        advice = QStringLiteral("Decrease camera’s exposure or VANTOR’s brightness");
    } else {
        setStatusString(QStringLiteral("Using target LDM’s RGB %1, %2, %3").arg(r).arg(g).arg(b));
        return true;
    }
    setStatusString(title);
    const QString message =
        QStringLiteral("This LDM's RGB values are %2, %3, %4. Target RGB values<br>must be between %5, %6, %5 and "
                       "%7, %8, %7.<br><br>%1.<br>Aim for an exposure between middle gray and 75% peak white,<br>"
                       "or a reading of +0.3 to +0.7 on the camera’s exposure meter.")
            .arg(advice, QString::number(r), QString::number(g), QString::number(b), QString::number(kMinRedBlue),
                 QString::number(kMinGreen), QString::number(kMaxRedBlue), QString::number(kMaxGreen));
    Q_EMIT showMessageBox(title, message);
    return false;
}

// ---------------------------------------------------------------- read-outs

void Veltranor::displayLdm(int ldmNumber)
{
    if (!display_)
        return;
    QString text = display_->dumpLdm(uint(ldmNumber));
    if (balanceTargetRed_ != 0.0 && balanceTargetGreen_ != 0.0 && balanceTargetBlue_ != 0.0) {
        const auto percent = [](double observed, double target) {
            return QStringLiteral("%1").arg((observed - target) / target * 100.0, 7, 'f', 3);
        };
        text += QStringLiteral(";  errors %1%, %2%, %3%")
                    .arg(percent(display_->ldmRedObserved(uint(ldmNumber)), balanceTargetRed_),
                         percent(display_->ldmGreenObserved(uint(ldmNumber)), balanceTargetGreen_),
                         percent(display_->ldmBlueObserved(uint(ldmNumber)), balanceTargetBlue_));
    }
    setStatusString(text);
    qDebug("%s", qUtf8Printable(text));
    for (Calibrator* adjuster : std::as_const(adjusters_))
        adjuster->setLoggable(ldmNumber >= 0 && adjuster->number() == uint(ldmNumber));
}

void Veltranor::displayTile(int tileNumber)
{
    if (!display_)
        return;
    const QString text = display_->dumpTile(uint(tileNumber));
    setStatusString(text);
    qDebug("%s", qUtf8Printable(text));
    for (Calibrator* adjuster : std::as_const(adjusters_))
        adjuster->setLoggable(tileNumber >= 0 && adjuster->number() == uint(tileNumber));
}

double Veltranor::ldmRedError(int number)
{
    if (balanceTargetRed_ == 0.0 || !display_)
        return 0.0;
    return (display_->ldmRedObserved(uint(number)) - balanceTargetRed_) / balanceTargetRed_;
}

double Veltranor::ldmGreenError(int number)
{
    if (balanceTargetGreen_ == 0.0 || !display_)
        return 0.0;
    return (display_->ldmGreenObserved(uint(number)) - balanceTargetGreen_) / balanceTargetGreen_;
}

double Veltranor::ldmBlueError(int number)
{
    if (balanceTargetBlue_ == 0.0 || !display_)
        return 0.0;
    return (display_->ldmBlueObserved(uint(number)) - balanceTargetBlue_) / balanceTargetBlue_;
}

// ---------------------------------------------------------------- mesh test pattern

bool Veltranor::meshFits_(uint tileCount)
{
    // The stored sizes are bounded already; these bounds hold whatever set them.
    const uint meshWide = std::min(tileMeshWidth_, kMaxTileMesh), meshHigh = std::min(tileMeshHeight_, kMaxTileMesh);
    if (meshWide == 0 || meshHigh == 0) {
        setStatusString(tr("Tile mesh size (%1, %2) has a zero dimension").arg(meshWide).arg(meshHigh));
        return false;
    }
    const qsizetype cells = qsizetype(meshWide) * qsizetype(meshHigh) * qsizetype(tileCount);
    if (meshWide != tileMeshWidth_ || meshHigh != tileMeshHeight_ || cells > kMaxMeshCells) {
        setStatusString(tr("Tile mesh size (%1, %2) on %3 tiles is more than %4 cells")
                            .arg(tileMeshWidth_)
                            .arg(tileMeshHeight_)
                            .arg(tileCount)
                            .arg(kMaxMeshCells));
        return false;
    }
    return true;
}

void Veltranor::setMeshTestPattern()
{
    if (!display_ || refuseUnlessIdle_())
        return;
    const uint meshWide = tileMeshWidth_, meshHigh = tileMeshHeight_;
    const uint tileCount = display_->adjustableTileCount();
    if (!meshFits_(tileCount))
        return;
    const uint cells = meshWide * meshHigh;
    QList<Macropixel*> mesh;
    for (uint t = 1; t <= tileCount; ++t) {
        const Tile tile = display_->adjustableTile(t);
        const float cellWidth = tile.width / float(meshWide);
        const float cellHeight = tile.height / float(meshHigh);
        // A tile without a size has no cells to tell apart.
        if (!(cellWidth > 0.0f) || !(cellHeight > 0.0f)) {
            qDebug("setMeshTestPattern: tile %d has a zero dimension; skipped", int(tile.number));
            continue;
        }
        for (uint c = 0; c < cells; ++c) {
            auto* cell = new Macropixel;
            cell->x = tile.x + float(c % meshWide) * cellWidth;
            cell->y = tile.y + float(c / meshWide) * cellHeight;
            cell->height = cellHeight;
            cell->width = cellWidth;
            const Macropixel* holder = display_->findLdm(tile.number, int(cell->x), int(cell->y));
            cell->index = holder ? int(holder->number) : 0;
            cell->name = tile.name;
            cell->tile = tile.number;
            const int parity = (int(std::trunc(cell->x / cellWidth)) ^ int(std::trunc(cell->y / cellHeight))) & 1;
            cell->redGain = double(parity - 1);
            cell->blueGain = double(parity - 1);
            cell->greenGain = 0.0;
            cell->intensityGain = 0.0;
            mesh.append(cell);
        }
    }
    // A busy phase: the upload waits on the processor, and Stop ends it.
    const ErrorType error =
        busyRequest_(QStringLiteral("Sending the mesh test pattern..."),
                     [&] { return display_->setMeshRGBs(mesh, 0.05f); });
    qDeleteAll(mesh);
    if (error.code != 0) {
        setStatusString(QStringLiteral("Failed to send the mesh test pattern: %1").arg(error.oneLine()));
        setStatus(-1);
    } else {
        setStatusString(QStringLiteral("Mesh test pattern sent"));
    }
}

// ---------------------------------------------------------------- mesh registration

namespace {

const QString kPatternOff = QStringLiteral("Turning the test pattern off...");
const QString kRegistrationCancelled = QStringLiteral("Mesh registration cancelled");

// The outcome of a registration whose pattern off failed (%1: the outcome).
QString patternMayBeOn(const QString& outcome, bool gaveUp, int limitSeconds)
{
    return gaveUp ? QStringLiteral("%1; the test pattern may still be on: the processor did not answer within %2 s")
                        .arg(outcome)
                        .arg(limitSeconds)
                  : QStringLiteral("%1; the test pattern may still be on").arg(outcome);
}

} // namespace

void Veltranor::registrationFailed_(const QString& text, bool patternOff)
{
    // A Stop ended the registration: that is its outcome, not the error of
    // the request the Stop ended.
    const bool stopped = !running_;
    QString outcome = stopped ? kRegistrationCancelled : text;
    if (patternOff && display_) {
        if (stopped) {
            // The stopped phase's tear-down: bounded, as a stopped run's restore.
            setStatusString(kPatternOff);
            const TearDown end = stoppedTearDown_(
                [this] { return display_->displayTestPattern(DisplayBase::TestPatternOff, 0, 0); });
            if (end.error.code != 0)
                outcome = patternMayBeOn(outcome, end.gaveUp, kStoppedTearDownLimitSeconds);
        } else {
            const ErrorType off = busyRequest_(
                kPatternOff, [this] { return display_->displayTestPattern(DisplayBase::TestPatternOff, 0, 0); });
            // A Stop ended the pattern off: the pattern may still be on.
            if (off.code != 0 && !running_)
                outcome = patternMayBeOn(kRegistrationCancelled, false, 0);
        }
    }
    endRun_();
    setStatusString(outcome);
    setStatus(-1);
}

bool Veltranor::showRegistrationPattern_(int pattern, int x, int y)
{
    const ErrorType error = display_->displayTestPattern(DisplayBase::TestPattern(pattern), x, y);
    if (error.code == 0)
        return true;
    // Nothing to photograph: the processor's refusal is the outcome.
    registrationFailed_(QStringLiteral("Failed to show the test pattern: %1").arg(error.oneLine()), true);
    return false;
}

void Veltranor::runMeshRegistration()
{
    if (refuseUnlessIdle_())
        return;
    const PhaseWait wait(*this);
    beginBusy_();
    TileGrader* grader = tileGrader();
    grader->setReuseScreenContour(false);
    grader->setMeshLocations(std::nullopt);
    if (display_ && !showRegistrationPattern_(DisplayBase::TestPatternWhite, 0, 0))
        return;
    delay_(4000);
    grabContinuation_ = [this](bool ok) { runMeshRegistrationPart2(ok); };
    getImageTileRGBData(background_->lastGrabVerbose());
}

void Veltranor::runMeshRegistrationPart2(bool ok)
{
    const PhaseWait wait(*this);
    TileGrader* grader = tileGrader();
    const std::optional<TileGrader::Contour> contour = grader->screenContour();
    if (!ok || !contour || contour->size() != 4 || !display_) {
        registrationFailed_(QStringLiteral("Failed to capture image"), true);
        return;
    }
    grader->setReuseScreenContour(true);
    const Tile reference = display_->litTile(1);
    const int stepX = tileMeshWidth_ ? int(std::trunc(reference.width / float(tileMeshWidth_))) : 0;
    const int stepY = tileMeshHeight_ ? int(std::trunc(reference.height / float(tileMeshHeight_))) : 0;
    if (stepX <= 0 || stepY <= 0) {
        qDebug("runMeshRegistration: mesh steps (%d, %d) from a tile of %g x %g and a mesh of %u x %u", stepX, stepY,
               double(reference.width), double(reference.height), tileMeshWidth_, tileMeshHeight_);
        registrationFailed_(QStringLiteral("Incorrect cell locations"), true);
        return;
    }
    if (!showRegistrationPattern_(DisplayBase::TestPatternGenerated, stepX, stepY))
        return;
    delay_(8000);
    grabContinuation_ = [this](bool next) { runMeshRegistrationPart3(next); };
    getImageTileRGBData(background_->lastGrabVerbose());
}

void Veltranor::runMeshRegistrationPart3(bool ok)
{
    const PhaseWait wait(*this);
    if (!ok || !display_) {
        registrationFailed_(QStringLiteral("Failed to capture image"), true);
        return;
    }
    TileGrader* grader = tileGrader();
    const std::optional<cv::Mat> locations = grader->findMeshLocations(grader->screenImage().clone());
    if (!locations) {
        registrationFailed_(QStringLiteral("Failed to identify cell locations"), true);
        return;
    }
    const Tile reference = display_->litTile(1);
    const int tw = int(reference.width), th = int(reference.height);
    const int tilesWide = tw ? (display_->maxLitLdmX() - display_->minLitLdmX()) / tw : 0;
    const int tilesHigh = th ? (display_->maxLitLdmY() - display_->minLitLdmY()) / th : 0;
    const int expectedColumns = tilesWide * int(tileMeshWidth_);
    const int expectedRows = tilesHigh * int(tileMeshHeight_);
    if (expectedColumns > 0 && locations->rows == expectedRows && locations->cols == expectedColumns) {
        grader->setMeshLocations(locations);
        const ErrorType off = busyRequest_(
            kPatternOff, [this] { return display_->displayTestPattern(DisplayBase::TestPatternOff, 0, 0); });
        delay_(2000);
        endRun_();
        const QString acquired = QStringLiteral("Cell locations acquired");
        setStatusString(off.code == 0 || running_ ? acquired : patternMayBeOn(acquired, false, 0));
        setStatus(1);
        return;
    }
    qDebug("Cell locations size is (%dx%d), expected (%dx%d)", locations->cols, locations->rows, expectedColumns,
           expectedRows);
    // The generated pattern stays on, so the operator can see what was found.
    registrationFailed_(QStringLiteral("Incorrect cell locations"), false);
}
