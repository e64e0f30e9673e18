#include "displaybase.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSettings>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace {

using Locker = QMutexLocker<ModelMutex>;

// Float to int toward zero, kept inside the int range (NaN gives 0).
int trunc_(float v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483648.0f)
        return INT_MAX;
    if (v < -2147483648.0f)
        return INT_MIN;
    return int(v);
}

QString general4_(float v)
{
    return QStringLiteral("%1").arg(double(v), 4, 'g', 6);
}

QString fixed_(double v, int width, int decimals)
{
    return QStringLiteral("%1").arg(v, width, 'f', decimals);
}

// A field of the record numbered `number`, read under the model lock; 0 or
// false when the list holds no such record (number 0 wraps past the end).
template <typename Record, typename Field>
Field fieldOf(ModelMutex& mutex, const QList<Record>& list, uint number, Field Record::*field)
{
    Locker lock(&mutex);
    return number - 1 < uint(list.size()) ? list.at(number - 1).*field : Field();
}

// The same for a position or a size, truncated to int, or `missing`.
template <typename Record>
int extentOf(ModelMutex& mutex, const QList<Record>& list, uint number, float Record::*field, int missing)
{
    Locker lock(&mutex);
    return number - 1 < uint(list.size()) ? trunc_(list.at(number - 1).*field) : missing;
}

} // namespace

DisplayBase::DisplayBase(QString name, QObject* parent)
    : QObject(parent)
    , name_(std::move(name))
{
    addressKey = name_ + QStringLiteral("/address");

    QSettings settings;
    if (settings.contains(addressKey))
        DisplayBase::setAddress(settings.value(addressKey).toString());
    if (name_.contains(QLatin1String("dummy"), Qt::CaseInsensitive)
        || name_.contains(QLatin1String("simulated"), Qt::CaseInsensitive))
        DisplayBase::setAddress(QStringLiteral("N/A"));
    litTileRect = settings.value(litTileRectKey_(), QRect()).toRect();

    red_ = 0.5;
    green_ = 0.5;
    blue_ = 0.5;
}

DisplayBase::~DisplayBase() = default;

// ---------------------------------------------------------------- accessors

double DisplayBase::red() const { return underLock_(red_); }
double DisplayBase::green() const { return underLock_(green_); }
double DisplayBase::blue() const { return underLock_(blue_); }
double DisplayBase::displayGainRed() const { return underLock_(displayGainRed_); }
double DisplayBase::displayGainGreen() const { return underLock_(displayGainGreen_); }
double DisplayBase::displayGainBlue() const { return underLock_(displayGainBlue_); }
uint DisplayBase::litLdmCount() const { return underLock_(litLdmCount_); }
uint DisplayBase::adjustableLdmCount() const { return underLock_(adjustableLdmCount_); }
uint DisplayBase::litTileCount() const { return underLock_(litTileCount_); }
uint DisplayBase::adjustableTileCount() const { return underLock_(adjustableTileCount_); }
int DisplayBase::maxX() const { return underLock_(maxX_); }
int DisplayBase::minX() const { return underLock_(minX_); }
int DisplayBase::maxY() const { return underLock_(maxY_); }
int DisplayBase::minY() const { return underLock_(minY_); }
int DisplayBase::maxLitLdmX() const { return underLock_(maxLitLdmX_); }
int DisplayBase::minLitLdmX() const { return underLock_(minLitLdmX_); }
int DisplayBase::maxLitLdmY() const { return underLock_(maxLitLdmY_); }
int DisplayBase::minLitLdmY() const { return underLock_(minLitLdmY_); }
uint DisplayBase::ldmCount() const { return underLock_(ldmCount_); }
uint DisplayBase::tileCount() const { return underLock_(tileCount_); }

bool DisplayBase::supportsMeshUniformity() const
{
    return false;
}

// ---------------------------------------------------------------- setters

void DisplayBase::setName(const QString& name)
{
    if (name == name_)
        return;
    name_ = name;
    Q_EMIT nameChanged();
}

void DisplayBase::setMaximum(uint maximum)
{
    maximum_ = maximum;
    Q_EMIT maximumChanged();
    Q_EMIT colorStrChanged();
}

void DisplayBase::setCycling(bool cycling)
{
    if (cycling == cycling_)
        return;
    cycling_ = cycling;
    Q_EMIT cyclingChanged();
}

void DisplayBase::setLdmData(int)
{
    Q_EMIT ldmDataChanged();
}

void DisplayBase::setTileData(int)
{
    Q_EMIT tileDataChanged();
}

void DisplayBase::setOutputFrequency(double frequency)
{
    if (frequency == outputFrequency_)
        return;
    outputFrequency_ = frequency;
    Q_EMIT outputFrequencyChanged(frequency);
}

QString DisplayBase::error() const
{
    Locker lock(&modelMutex_);
    return fetchError_.isEmpty() ? readError_ : fetchError_;
}

void DisplayBase::setFetchError_(const QString& message)
{
    storeError_(fetchError_, message);
}

void DisplayBase::setReadError_(const QString& message)
{
    storeError_(readError_, message);
}

void DisplayBase::storeError_(QString& field, const QString& message)
{
    {
        Locker lock(&modelMutex_);
        if (field == message)
            return;
        field = message;
    }
    Q_EMIT errorChanged();
}

bool DisplayBase::fuzzyEqual_(double a, double b)
{
    return std::abs(a - b) * 1000000000000.0 <= std::min(std::abs(a), std::abs(b));
}

ErrorType DisplayBase::setRed(double red)
{
    if (storeUnderLock_(red_, red)) {
        Q_EMIT redChanged();
        Q_EMIT colorStrChanged();
    }
    return {};
}

ErrorType DisplayBase::setGreen(double green)
{
    if (storeUnderLock_(green_, green)) {
        Q_EMIT greenChanged();
        Q_EMIT colorStrChanged();
    }
    return {};
}

ErrorType DisplayBase::setBlue(double blue)
{
    if (storeUnderLock_(blue_, blue)) {
        Q_EMIT blueChanged();
        Q_EMIT colorStrChanged();
    }
    return {};
}

ErrorType DisplayBase::setRGB(uint number, double red, double green, double blue)
{
    if (number == 0) {
        DisplayBase::setRed(red);
        DisplayBase::setGreen(green);
        DisplayBase::setBlue(blue);
        return {};
    }
    return setLdmRGB(number, red, green, blue, 0.0);
}

ErrorType DisplayBase::setDisplayGainRGB(double red, double green, double blue)
{
    {
        Locker lock(&modelMutex_);
        displayGainRed_ = red;
        displayGainGreen_ = green;
        displayGainBlue_ = blue;
    }
    Q_EMIT displayGainRedChanged();
    Q_EMIT displayGainGreenChanged();
    Q_EMIT displayGainBlueChanged();
    Q_EMIT colorStrChanged();
    return {};
}

QString DisplayBase::colorStr()
{
    // The level has an upper bound of full scale and no lower bound.
    auto value = [](double level) { return std::lround(std::min(1.0, level) * 255.0); };
    const QChar zero(QLatin1Char('0'));
    // Built and stored under the lock: QML and the Calibrator thread both ask.
    Locker lock(&modelMutex_);
    colorStr_ = QStringLiteral("#%1%2%3")
                    .arg(value(red_ * 0.75 * displayGainRed_), 2, 16, zero)
                    .arg(value(green_ * 0.75 * displayGainGreen_), 2, 16, zero)
                    .arg(value(blue_ * 0.75 * displayGainBlue_), 2, 16, zero);
    return colorStr_;
}

QString DisplayBase::colorReadout()
{
    Locker lock(&modelMutex_);
    colorReadout_ = QStringLiteral("red:%1  green:%2  blue:%3")
                        .arg(red_, 8, 'f', 6)
                        .arg(green_, 8, 'f', 6)
                        .arg(blue_, 8, 'f', 6);
    return colorReadout_;
}

void DisplayBase::fetchFakeLdmRGBs()
{
    Q_EMIT needFakeLdmRGBsChanged();
}

// ---------------------------------------------------------------- address

void DisplayBase::setAddress(const QString& address)
{
    if (address == address_)
        return;
    address_ = address;
    address_.remove(QLatin1String("http://"), Qt::CaseInsensitive);
    Q_EMIT addressChanged();
    QSettings().setValue(addressKey, address_);
}

QString DisplayBase::litTileRectKey_() const
{
    return QStringLiteral("litTiles") + address_;
}

void DisplayBase::setLitTileRect_()
{
    QRect rect;
    {
        Locker lock(&modelMutex_);
        litTileRect = tileSelectionRect;
        rect = litTileRect;
    }
    QSettings().setValue(litTileRectKey_(), rect);
}

// ---------------------------------------------------------------- device operations

ErrorType DisplayBase::read()
{
    return {};
}

ErrorType DisplayBase::sendCalibration(const QList<DisplayBase::CalibrationPoint>&, double, double,
                                       double)
{
    return {};
}

ErrorType DisplayBase::displayTestPattern(DisplayBase::TestPattern, int, int)
{
    return {};
}

ErrorType DisplayBase::setMeshRGBs(QList<Macropixel*>&, float)
{
    return {};
}

ErrorType DisplayBase::commitMeshRGBs(QList<Macropixel*>&)
{
    return {};
}

// The default wall: 9 rows of 16 LDMs, 100 x 100 pixels each, from (1000, 50),
// all driven by one receiver and held in one tile.
ErrorType DisplayBase::fetchLdms()
{
    static const QString receiver = QStringLiteral("12:34:56:78:9A:BC");
    {
        Locker lock(&modelMutex_);
        ldmList.clear();
        tileList.clear();
        for (int r = 0; r < 9; ++r) {
            for (int c = 0; c < 16; ++c) {
                Macropixel m;
                m.number = uint(r * 16 + c + 1);
                m.name = receiver;
                m.x = float(1000 + c * 100);
                m.y = float(r * 100 + 50);
                m.width = 100.0f;
                m.height = 100.0f;
                m.index = int((m.number - 1) % 4) + 1;
                m.tile = 1;
                addLdm(m);
            }
        }
        Tile t;
        t.name = receiver;
        t.x = float(minX_);
        t.y = float(minY_);
        t.height = float(maxY_ - minY_);
        t.width = float(maxX_ - minX_);
        addTile(t);
    }
    fetchLdmsDone();
    return {};
}

// ---------------------------------------------------------------- building the lists

void DisplayBase::addLdm(Macropixel ldm)
{
    Locker lock(&modelMutex_);
    const bool first = ldmList.isEmpty();
    if (ldm.number == 0)
        ldm.number = uint(ldmList.size() + 1);
    ldmList.append(ldm);

    const float right = ldm.x + ldm.width;
    const float bottom = ldm.y + ldm.height;
    if (first) {
        maxX_ = trunc_(right);
        maxY_ = trunc_(bottom);
        minX_ = trunc_(ldm.x);
        minY_ = trunc_(ldm.y);
        return;
    }
    if (float(minX_) > ldm.x)
        minX_ = trunc_(ldm.x);
    if (right > float(maxX_))
        maxX_ = trunc_(right);
    if (float(minY_) > ldm.y)
        minY_ = trunc_(ldm.y);
    if (bottom > float(maxY_))
        maxY_ = trunc_(bottom);
}

void DisplayBase::addTile(Tile tile)
{
    Locker lock(&modelMutex_);
    if (tile.number == 0)
        tile.number = uint(tileList.size() + 1);
    tileList.append(tile);
}

// ---------------------------------------------------------------- refresh

namespace {

// Two records of the same receiver, LDM grid and place.
bool samePlace(const Tile& a, const Tile& b)
{
    return a.number == b.number && a.name == b.name && a.x == b.x && a.y == b.y && a.width == b.width
        && a.height == b.height && a.ldmsWide == b.ldmsWide && a.ldmsHigh == b.ldmsHigh;
}

bool samePlace(const Macropixel& a, const Macropixel& b)
{
    return a.number == b.number && a.name == b.name && a.x == b.x && a.y == b.y && a.width == b.width
        && a.height == b.height && a.index == b.index && a.tile == b.tile;
}

template <typename Record>
bool samePlaces(const QList<Record>& a, const QList<Record>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Record& x, const Record& y) { return samePlace(x, y); });
}

} // namespace

ErrorType DisplayBase::refreshLdms()
{
    // What the operator made of the wall so far: selection, lit and adjusted
    // sets, gains and observations.
    QList<Macropixel> keptLdms;
    QList<Tile> keptTiles;
    int keptExtents[4];
    {
        Locker lock(&modelMutex_);
        keptLdms = ldmList;
        keptTiles = tileList;
        keptExtents[0] = minX_;
        keptExtents[1] = maxX_;
        keptExtents[2] = minY_;
        keptExtents[3] = maxY_;
    }

    holdFetchDone_ = true;
    fetchDonesHeld_ = 0;
    const ErrorType error = fetchLdms();
    holdFetchDone_ = false;
    const bool fetched = error.code == 0 && fetchDonesHeld_ > 0;
    // A fetch asked for while this one waited has rebuilt the lists: its
    // rebuild is published, whatever this fetch found. (A failed fetch never
    // reaches its own fetchLdmsDone.)
    const bool asked = fetchDonesHeld_ > (error.code == 0 ? 1 : 0);

    bool same = false;
    {
        Locker lock(&modelMutex_);
        same = fetched && !asked && samePlaces(keptTiles, tileList) && samePlaces(keptLdms, ldmList);
        if (same && reportsLdmGains()) {
            for (qsizetype i = 0; i < keptLdms.size(); ++i) {
                Macropixel& kept = keptLdms[i];
                const Macropixel& reported = ldmList.at(i);
                kept.redGain = reported.redGain;
                kept.greenGain = reported.greenGain;
                kept.blueGain = reported.blueGain;
                kept.intensityGain = reported.intensityGain;
            }
        }
        if (same || (!fetched && !asked)) {
            ldmList = std::move(keptLdms);
            tileList = std::move(keptTiles);
            minX_ = keptExtents[0];
            maxX_ = keptExtents[1];
            minY_ = keptExtents[2];
            maxY_ = keptExtents[3];
        }
    }
    if ((fetched && !same) || asked) {
        fetchLdmsDone();
        return error;
    }
    // The kept records replaced the fetched ones: the views draw the wall again.
    if (reportsLdmGains())
        Q_EMIT ldmDataChanged();
    return error;
}

void DisplayBase::fetchLdmsDone()
{
    if (holdFetchDone_) {
        ++fetchDonesHeld_;
        return;
    }
    uint ldms, tiles;
    int minX, maxX, minY, maxY;
    {
        Locker lock(&modelMutex_);
        ldmCount_ = uint(ldmList.size());
        tileCount_ = uint(tileList.size());
        adjustableTileCount_ = tileCount_;
        litTileCount_ = tileCount_;
        ldms = ldmCount_;
        tiles = tileCount_;
        minX = minX_;
        maxX = maxX_;
        minY = minY_;
        maxY = maxY_;
    }
    qDebug("%u LDM%s, spanning x from %d to %d, y from %d to %d", ldms, ldms == 1 ? "" : "s", minX,
           maxX, minY, maxY);
    qDebug("%u Tile%s, spanning x from %d to %d, y from %d to %d", tiles, tiles == 1 ? "" : "s",
           minX, maxX, minY, maxY);
    qDebug("Tile #1: %s", qUtf8Printable(dumpTile(1)));

    Q_EMIT minXChanged();
    Q_EMIT maxXChanged();
    Q_EMIT minYChanged();
    Q_EMIT maxYChanged();
    Q_EMIT ldmCountChanged();
    Q_EMIT tileCountChanged();
    Q_EMIT refreshChanged();
    Q_EMIT fetchedOutputConfig();
    Q_EMIT ldmDataChanged();
    setLitExtents();
}

// ---------------------------------------------------------------- lookups
//
// A number addresses list position number - 1, bounded by the list's real
// size: the stored counts go stale while a fetch has emptied the lists.

namespace {

// A lookup's default record, reset before it is handed out.
template <typename Record>
Record& resetDefault(Record& record)
{
    record = Record();
    return record;
}

// The index-th record (1-based) of the list whose flag is set, or nullptr.
template <typename Record>
Record* nthFlagged(QList<Record>& list, bool Record::*flag, uint index)
{
    uint count = 0;
    for (Record& record : list) {
        if (record.*flag && ++count == index)
            return &record;
    }
    return nullptr;
}

// nthFlagged for the lookups that return a reference: an index beyond the
// stored count, or one the list runs out before, logs a line and gives the
// lookup's default record, reset. `lookup` names the lookup in those lines,
// `range` is what its out-of-range line prints before the count.
template <typename Record>
Record& nthFlaggedOrDefault(QList<Record>& list, bool Record::*flag, uint index, uint count,
                            Record& fallback, const char* lookup, const char* range)
{
    if (index - 1 >= count) {
        qDebug("********* DisplayBase::%s(%d): index out of range %s%d", lookup, int(index), range,
               int(count));
    } else if (Record* record = nthFlagged(list, flag, index)) {
        return *record;
    } else {
        qDebug("********* DisplayBase::%s(%d): ran off end of array", lookup, int(index));
    }
    return resetDefault(fallback);
}

} // namespace

Macropixel& DisplayBase::ldm(uint number)
{
    Locker lock(&modelMutex_);
    if (number - 1 >= uint(ldmList.size()))
        return resetDefault(defaultLdm_);
    return ldmList[number - 1];
}

Macropixel& DisplayBase::litLdm(uint index)
{
    Locker lock(&modelMutex_);
    return nthFlaggedOrDefault(ldmList, &Macropixel::lit, index, litLdmCount_, defaultLitLdm_, "litLdm",
                               "1–");
}

Macropixel& DisplayBase::adjustableLdm(uint index)
{
    Locker lock(&modelMutex_);
    return nthFlaggedOrDefault(ldmList, &Macropixel::adjustable, index, adjustableLdmCount_,
                               defaultAdjustableLdm_, "adjustableLdm", "1–");
}

int DisplayBase::ldmX(uint number)
{
    return extentOf(modelMutex_, ldmList, number, &Macropixel::x, -1);
}

int DisplayBase::ldmY(uint number)
{
    return extentOf(modelMutex_, ldmList, number, &Macropixel::y, -1);
}

int DisplayBase::ldmWidth(uint number)
{
    return extentOf(modelMutex_, ldmList, number, &Macropixel::width, 0);
}

int DisplayBase::ldmHeight(uint number)
{
    return extentOf(modelMutex_, ldmList, number, &Macropixel::height, 0);
}

Tile& DisplayBase::tile(uint number)
{
    Locker lock(&modelMutex_);
    if (number - 1 >= uint(tileList.size()))
        return resetDefault(defaultTile_);
    return tileList[number - 1];
}

Tile& DisplayBase::litTile(uint index)
{
    Locker lock(&modelMutex_);
    return nthFlaggedOrDefault(tileList, &Tile::lit, index, litTileCount_, defaultLitTile_, "litTile",
                               "1–");
}

Tile& DisplayBase::adjustableTile(uint index)
{
    Locker lock(&modelMutex_);
    return nthFlaggedOrDefault(tileList, &Tile::adjustable, index, adjustableTileCount_,
                               defaultAdjustableTile_, "adjustableTile", "");
}

int DisplayBase::tileX(uint number)
{
    return extentOf(modelMutex_, tileList, number, &Tile::x, -1);
}

int DisplayBase::tileY(uint number)
{
    return extentOf(modelMutex_, tileList, number, &Tile::y, -1);
}

int DisplayBase::tileWidth(uint number)
{
    return extentOf(modelMutex_, tileList, number, &Tile::width, 0);
}

int DisplayBase::tileHeight(uint number)
{
    return extentOf(modelMutex_, tileList, number, &Tile::height, 0);
}

// ---------------------------------------------------------------- scoped access

DisplayBase::Records::Records(const DisplayBase& display)
    : display_(const_cast<DisplayBase&>(display))
    , lock_(&display.modelMutex_)
{
}

Macropixel* DisplayBase::Records::ldm(uint number)
{
    return number - 1 < uint(display_.ldmList.size()) ? &display_.ldmList[number - 1] : nullptr;
}

Macropixel* DisplayBase::Records::litLdm(uint index)
{
    return nthFlagged(display_.ldmList, &Macropixel::lit, index);
}

Macropixel* DisplayBase::Records::adjustableLdm(uint index)
{
    return nthFlagged(display_.ldmList, &Macropixel::adjustable, index);
}

Tile* DisplayBase::Records::tile(uint number)
{
    return number - 1 < uint(display_.tileList.size()) ? &display_.tileList[number - 1] : nullptr;
}

Tile* DisplayBase::Records::litTile(uint index)
{
    return nthFlagged(display_.tileList, &Tile::lit, index);
}

Tile* DisplayBase::Records::adjustableTile(uint index)
{
    return nthFlagged(display_.tileList, &Tile::adjustable, index);
}

const Macropixel* DisplayBase::Records::findLdm(uint tileNumber, int x, int y)
{
    return display_.findLdm(tileNumber, x, y);
}

const Macropixel* DisplayBase::findLdm(uint tileNumber, int x, int y)
{
    Locker lock(&modelMutex_);
    const float fx = float(x);
    const float fy = float(y);
    for (const Macropixel& m : std::as_const(ldmList)) {
        if (m.tile == tileNumber && fx >= m.x && fx < m.x + m.width && fy >= m.y
            && fy < m.y + m.height)
            return &m;
    }
    return nullptr;
}

double DisplayBase::ldmRedGain(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::redGain);
}

double DisplayBase::ldmGreenGain(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::greenGain);
}

double DisplayBase::ldmBlueGain(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::blueGain);
}

double DisplayBase::ldmRedObserved(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::redObserved);
}

double DisplayBase::ldmGreenObserved(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::greenObserved);
}

double DisplayBase::ldmBlueObserved(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::blueObserved);
}

double DisplayBase::ldmIntensityGain(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::intensityGain);
}

bool DisplayBase::ldmIsLit(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::lit);
}

bool DisplayBase::ldmAdjustable(uint number)
{
    return fieldOf(modelMutex_, ldmList, number, &Macropixel::adjustable);
}

bool DisplayBase::tileLit(uint number)
{
    return fieldOf(modelMutex_, tileList, number, &Tile::lit);
}

bool DisplayBase::tileAdjustable(uint number)
{
    return fieldOf(modelMutex_, tileList, number, &Tile::adjustable);
}

// ---------------------------------------------------------------- per-LDM gains

ErrorType DisplayBase::setLdmRGB(uint number, double r, double g, double b, double i)
{
    {
        Locker lock(&modelMutex_);
        if (number - 1 >= uint(ldmList.size()))
            return ErrorType(2);
        Macropixel& m = ldmList[number - 1];
        m.redGain = r;
        m.greenGain = g;
        m.blueGain = b;
        m.intensityGain = i;
    }
    Q_EMIT ldmDataChanged();
    return {};
}

void DisplayBase::setLdmRGBObserved(uint number, double r, double g, double b)
{
    Locker lock(&modelMutex_);
    if (number - 1 >= uint(ldmList.size()))
        return;
    Macropixel& m = ldmList[number - 1];
    m.redObserved = r;
    m.greenObserved = g;
    m.blueObserved = b;
}

ErrorType DisplayBase::setLdmRGBs(QList<Macropixel*>& ldms)
{
    if (ldms.isEmpty())
        return ErrorType(2);
    {
        Locker lock(&modelMutex_);
        for (const Macropixel* e : std::as_const(ldms)) {
            if (!e)
                continue;
            const int n = int(e->number);
            if (n < 1 || n > ldmList.size())
                continue;
            Macropixel& m = ldmList[n - 1];
            if (m.number != e->number)
                qDebug("setLdmRGBs number error!");
            m.redGain = e->redGain;
            m.greenGain = e->greenGain;
            m.blueGain = e->blueGain;
            m.intensityGain = e->intensityGain;
        }
    }
    Q_EMIT ldmDataChanged();
    return {};
}

void DisplayBase::getLdmObservedRGBs(QList<Macropixel*>& ldms)
{
    Locker lock(&modelMutex_);
    for (Macropixel* e : std::as_const(ldms)) {
        if (!e)
            continue;
        const int n = int(e->number);
        if (n < 1 || n > ldmList.size())
            continue;
        const Macropixel& m = ldmList.at(n - 1);
        if (m.number != e->number)
            qDebug("getLdmObservedRGBs number error!");
        e->redObserved = m.redObserved;
        e->greenObserved = m.greenObserved;
        e->blueObserved = m.blueObserved;
    }
}

// ---------------------------------------------------------------- selection

void DisplayBase::selectAllLdms()
{
    Locker lock(&modelMutex_);
    for (Macropixel& m : ldmList)
        m.selected = true;
}

void DisplayBase::selectLdms(QPoint start, QPoint end)
{
    Locker lock(&modelMutex_);
    const float sx = float(start.x());
    const float sy = float(start.y());
    const float ex = float(end.x());
    const float ey = float(end.y());
    for (Macropixel& m : ldmList)
        m.selected = (m.x + m.width > sx) && (m.y + m.height > sy) && (ex > m.x) && (ey > m.y);
}

void DisplayBase::selectAllTiles()
{
    {
        Locker lock(&modelMutex_);
        tileSelectionRect = QRect();
    }
    setLitTileRect_();
    Locker lock(&modelMutex_);
    for (Tile& t : tileList)
        t.selected = true;
    for (Macropixel& m : ldmList)
        m.selected = true;
}

void DisplayBase::selectTiles(QPoint start, QPoint end)
{
    Locker lock(&modelMutex_);
    tileSelectionRect = QRect(start, end);
    if (tileList.isEmpty()) {
        selectLdms(start, end);
        return;
    }
    int left = start.x();
    int top = start.y();
    int right = end.x();
    int bottom = end.y();
    for (Tile& t : tileList) {
        const int tx = trunc_(t.x);
        const int ty = trunc_(t.y);
        const int tx2 = trunc_(float(tx) + t.width);
        const int ty2 = trunc_(float(ty) + t.height);
        t.selected = tx2 > start.x() && ty2 > start.y() && tx < end.x() && ty < end.y();
        if (t.selected) {
            left = std::min(left, tx);
            top = std::min(top, ty);
            right = std::max(right, tx2);
            bottom = std::max(bottom, ty2);
        }
    }
    selectLdms(QPoint(left, top), QPoint(right, bottom));
}

// ---------------------------------------------------------------- adjustability

namespace {

// Whether a record is adjustable after a selection: a negative mode takes the
// selected records out, mode 0 makes exactly the selected ones that can be
// adjusted (`eligible`) adjustable, a positive mode adds those to the rest.
bool adjustableAfter(int selectionMode, bool adjustable, bool selected, bool eligible)
{
    if (selectionMode < 0)
        return adjustable && !selected;
    if (selectionMode == 0)
        return selected && eligible;
    return adjustable || (selected && eligible);
}

} // namespace

void DisplayBase::adjustSelectedLdms(int selectionMode)
{
    {
        Locker lock(&modelMutex_);
        adjustableLdmCount_ = 0;
        for (Macropixel& m : ldmList) {
            m.adjustable = adjustableAfter(selectionMode, m.adjustable, m.selected, m.intensityGain > -0.9);
            if (m.adjustable)
                ++adjustableLdmCount_;
        }
    }
    Q_EMIT ldmDataChanged();
    Q_EMIT adjustableLdmCountChanged();
}

void DisplayBase::adjustSelectedTiles(int selectionMode)
{
    {
        Locker lock(&modelMutex_);
        adjustableTileCount_ = 0;
        for (Tile& t : tileList) {
            t.adjustable = adjustableAfter(selectionMode, t.adjustable, t.selected, t.lit);
            if (t.adjustable)
                ++adjustableTileCount_;
        }
    }
    adjustSelectedLdms(selectionMode);
}

// ---------------------------------------------------------------- lighting

void DisplayBase::lightSelectedLdms()
{
    {
        Locker lock(&modelMutex_);
        for (Macropixel& m : ldmList) {
            m.lit = m.selected;
            m.intensityGain = m.selected ? 0.0 : -1.0;
            if (!m.selected) {
                m.redObserved = 0.0;
                m.greenObserved = 0.0;
                m.blueObserved = 0.0;
            }
        }
    }
    Q_EMIT ldmDataChanged();
    setLitExtents();
}

void DisplayBase::lightLitLdms(bool on)
{
    {
        Locker lock(&modelMutex_);
        for (Macropixel& m : ldmList) {
            if (m.lit)
                m.intensityGain = on ? 0.0 : -1.0;
        }
    }
    Q_EMIT ldmDataChanged();
}

void DisplayBase::resetLdms(bool resetRGB, bool resetIntensity)
{
    {
        Locker lock(&modelMutex_);
        for (Macropixel& m : ldmList) {
            if (resetRGB) {
                m.redGain = 0.0;
                m.greenGain = 0.0;
                m.blueGain = 0.0;
            }
            if (resetIntensity) {
                m.intensityGain = 0.0;
                m.lit = true;
                m.adjustable = true;
            }
        }
    }
    Q_EMIT ldmDataChanged();
    if (resetIntensity)
        setLitExtents();
}

void DisplayBase::lightSelectedTiles()
{
    setLitTileRect_();
    {
        Locker lock(&modelMutex_);
        for (Tile& t : tileList)
            t.lit = t.selected;
    }
    lightSelectedLdms();
}

void DisplayBase::recallLitTiles()
{
    QRect rect;
    {
        Locker lock(&modelMutex_);
        rect = litTileRect;
    }
    if (rect == QRect())
        selectAllTiles();
    else
        selectTiles(rect.topLeft(), rect.bottomRight());
    lightSelectedTiles();
    adjustSelectedTiles(0);
}

void DisplayBase::setLitExtents()
{
    int oldMinX, oldMinY, oldMaxX, oldMaxY;
    uint oldLit, oldAdjustable;
    int newMinX, newMinY, newMaxX, newMaxY;
    uint newLit, newAdjustable;
    {
        Locker lock(&modelMutex_);
        oldMinX = minLitLdmX_;
        oldMinY = minLitLdmY_;
        oldMaxX = maxLitLdmX_;
        oldMaxY = maxLitLdmY_;
        oldLit = litLdmCount_;
        oldAdjustable = adjustableLdmCount_;

        maxLitLdmX_ = INT_MIN;
        maxLitLdmY_ = INT_MIN;
        minLitLdmX_ = INT_MAX;
        minLitLdmY_ = INT_MAX;
        litLdmCount_ = 0;
        adjustableLdmCount_ = 0;
        for (const Macropixel& m : std::as_const(ldmList)) {
            if (!m.lit)
                continue;
            if (float(minLitLdmX_) > m.x)
                minLitLdmX_ = trunc_(m.x);
            if (float(minLitLdmY_) > m.y)
                minLitLdmY_ = trunc_(m.y);
            if (m.x + m.width > float(maxLitLdmX_))
                maxLitLdmX_ = trunc_(m.x + m.width);
            if (m.y + m.height > float(maxLitLdmY_))
                maxLitLdmY_ = trunc_(m.y + m.height);
            ++litLdmCount_;
            if (m.adjustable)
                ++adjustableLdmCount_;
        }
        newMinX = minLitLdmX_;
        newMinY = minLitLdmY_;
        newMaxX = maxLitLdmX_;
        newMaxY = maxLitLdmY_;
        newLit = litLdmCount_;
        newAdjustable = adjustableLdmCount_;
    }
    if (newMinX != oldMinX)
        Q_EMIT minLitLdmXChanged();
    if (newMinY != oldMinY)
        Q_EMIT minLitLdmYChanged();
    if (newMaxX != oldMaxX)
        Q_EMIT maxLitLdmXChanged();
    if (newMaxY != oldMaxY)
        Q_EMIT maxLitLdmYChanged();
    if (newLit != oldLit)
        Q_EMIT litLdmCountChanged();
    if (newAdjustable != oldAdjustable)
        Q_EMIT adjustableLdmCountChanged();
}

// ---------------------------------------------------------------- dumps

QString DisplayBase::dumpLdm(uint number)
{
    Macropixel m;
    {
        Locker lock(&modelMutex_);
        if (number - 1 >= uint(ldmList.size()))
            return QStringLiteral("invalid LDM number %1").arg(number);
        m = ldmList.at(number - 1);
    }
    return QStringLiteral("LDM %1: %2 #%3 @ %4, %5;  rgbi gains %6, %7, %8, %9;  RGB %10, %11, %12")
        .arg(QStringLiteral("%1").arg(number, 4), m.name, QString::number(m.index), general4_(m.x),
             general4_(m.y), fixed_(m.redGain, 6, 3), fixed_(m.greenGain, 6, 3),
             fixed_(m.blueGain, 6, 3), fixed_(m.intensityGain, 6, 3), fixed_(m.redObserved, 6, 2),
             fixed_(m.greenObserved, 6, 2), fixed_(m.blueObserved, 6, 2));
}

QString DisplayBase::dumpTile(uint number)
{
    Tile t;
    {
        Locker lock(&modelMutex_);
        if (number - 1 >= uint(tileList.size()))
            return QStringLiteral("invalid Tile number %1").arg(number);
        t = tileList.at(number - 1);
    }
    return QStringLiteral("Tile %1: %2 from  %3, %4  to  %5 , %6")
        .arg(QStringLiteral("%1").arg(number, 4), t.name, general4_(t.x), general4_(t.y),
             general4_(t.x + t.width), general4_(t.y + t.height));
}

void DisplayBase::dumpLdms()
{
    const uint count = ldmCount();
    for (uint n = 1; n <= count && n <= 6; ++n)
        qDebug("%s", qUtf8Printable(dumpLdm(n)));
    if (count >= 7)
        qDebug("...and %lld more.", qint64(count) - 6);
}

void DisplayBase::dumpTiles()
{
    const uint count = tileCount();
    for (uint n = 1; n <= count && n <= 6; ++n)
        qDebug("%s", qUtf8Printable(dumpTile(n)));
    if (count >= 7)
        qDebug("...and %lld more.", qint64(count) - 6);
}

// ---------------------------------------------------------------- list helpers

Macropixel* ldmForNumber(QList<Macropixel*>& ldms, uint number)
{
    for (Macropixel* m : std::as_const(ldms)) {
        if (m && m->number == number)
            return m;
    }
    qDebug("*** ldmForNumber: no LDM for #%d in list! Returning nullptr. ***", int(number));
    return nullptr;
}

Tile* tileForNumber(QList<Tile*>& tiles, uint number)
{
    for (Tile* t : std::as_const(tiles)) {
        if (t && t->number == number)
            return t;
    }
    qDebug("*** tileForNumber: no TILE for #%d in list! Returning nullptr. ***", int(number));
    return nullptr;
}
