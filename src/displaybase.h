#pragma once

#include "errortype.h"
#include "macropixel.h"
#include "tile.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QMutexLocker>
#include <QRect>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <type_traits>

// The lock of the display model's lists: a standard recursive mutex, whose
// locking the thread checker of the sanitizer build can follow (Debian's Qt is
// not instrumented, so it cannot see through QRecursiveMutex), with the Qt
// names callers use.
class ModelMutex : public std::recursive_timed_mutex {
public:
    bool tryLock(int timeoutMs = 0)
    {
        return timeoutMs <= 0 ? try_lock() : try_lock_for(std::chrono::milliseconds(timeoutMs));
    }
};

// The abstract model of one LED wall: its receiver tiles and their LDMs with
// position, selection, gains and observed colour; the global test colour and
// display gains; the extents of the wall and of its lit part; the display's
// network address. The rest of the program drives a display only through the
// virtual operations below.
//
// Records are addressed by 1-based numbers. Out-of-range numbers and indexes
// give neutral results (-1 for a position, 0 for a size, 0.0 for a gain, false
// for a flag, a default record for a reference).
//
// Threads: QML reads the model on the GUI thread while the correction engine
// writes gains from its own thread. Every access to the two lists (and to the
// counts and extents derived from them) is made under modelMutex(), a
// recursive mutex (ModelMutex). Subclasses must take it around their own list
// work and must never hold it across a wait for the network: the exchange of a
// request made on the Calibrator thread advances in the GUI thread's poll,
// which may need the lock.
class DisplayBase : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(double red READ red WRITE setRed NOTIFY redChanged)
    Q_PROPERTY(double green READ green WRITE setGreen NOTIFY greenChanged)
    Q_PROPERTY(double blue READ blue WRITE setBlue NOTIFY blueChanged)
    Q_PROPERTY(uint maximum READ maximum WRITE setMaximum NOTIFY maximumChanged)
    Q_PROPERTY(double displayGainRed READ displayGainRed NOTIFY displayGainRedChanged)
    Q_PROPERTY(double displayGainGreen READ displayGainGreen NOTIFY displayGainGreenChanged)
    Q_PROPERTY(double displayGainBlue READ displayGainBlue NOTIFY displayGainBlueChanged)
    Q_PROPERTY(bool cycling READ cycling WRITE setCycling NOTIFY cyclingChanged)
    Q_PROPERTY(QString colorStr READ colorStr NOTIFY colorStrChanged)
    Q_PROPERTY(QString colorReadout READ colorReadout NOTIFY colorReadoutChanged)
    Q_PROPERTY(bool supportsMeshUniformity READ supportsMeshUniformity NOTIFY supportsMeshUniformityChanged)
    Q_PROPERTY(uint ldmCount READ ldmCount NOTIFY ldmCountChanged)
    Q_PROPERTY(uint litLdmCount READ litLdmCount NOTIFY litLdmCountChanged)
    Q_PROPERTY(uint adjustableLdmCount READ adjustableLdmCount NOTIFY adjustableLdmCountChanged)
    Q_PROPERTY(int ldmData READ ldmData WRITE setLdmData NOTIFY ldmDataChanged)
    Q_PROPERTY(uint tileCount READ tileCount NOTIFY tileCountChanged)
    Q_PROPERTY(uint litTileCount READ litTileCount NOTIFY litTileCountChanged)
    Q_PROPERTY(uint adjustableTileCount READ adjustableTileCount NOTIFY adjustableTileCountChanged)
    Q_PROPERTY(int tileData READ tileData WRITE setTileData NOTIFY tileDataChanged)
    Q_PROPERTY(int maxX READ maxX NOTIFY maxXChanged)
    Q_PROPERTY(int minX READ minX NOTIFY minXChanged)
    Q_PROPERTY(int maxY READ maxY NOTIFY maxYChanged)
    Q_PROPERTY(int minY READ minY NOTIFY minYChanged)
    Q_PROPERTY(int maxLitLdmX READ maxLitLdmX NOTIFY maxLitLdmXChanged)
    Q_PROPERTY(int minLitLdmX READ minLitLdmX NOTIFY minLitLdmXChanged)
    Q_PROPERTY(int maxLitLdmY READ maxLitLdmY NOTIFY maxLitLdmYChanged)
    Q_PROPERTY(int minLitLdmY READ minLitLdmY NOTIFY minLitLdmYChanged)
    Q_PROPERTY(int refresh READ refresh NOTIFY refreshChanged)
    Q_PROPERTY(int needFakeLdmRGBs READ needFakeLdmRGBs NOTIFY needFakeLdmRGBsChanged)
    Q_PROPERTY(bool isVantor READ isVantor NOTIFY isVantorChanged)
    Q_PROPERTY(double outputFrequency READ outputFrequency WRITE setOutputFrequency NOTIFY outputFrequencyChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    // One point of the processor's output curves, as sent to the display.
    struct CalibrationPoint
    {
        double redPx = 0.0, redPy = 0.0, redMx = 0.0, redMy = 0.0;
        double greenPx = 0.0, greenPy = 0.0, greenMx = 0.0, greenMy = 0.0;
        double bluePx = 0.0, bluePy = 0.0, blueMx = 0.0, blueMy = 0.0;
    };

    enum TestPattern {
        TestPatternOff = 0,       // test pattern and generated media off
        TestPatternWhite = 1,     // the processor's built-in white
        TestPatternGenerated = 2, // generated media; the two ints are its steps
    };

    DisplayBase(QString name, QObject* parent);
    ~DisplayBase() override;

    QString name() const { return name_; }
    QString address() const { return address_; }
    double red() const;
    double green() const;
    double blue() const;
    uint maximum() const { return uint(maximum_); }
    double displayGainRed() const;
    double displayGainGreen() const;
    double displayGainBlue() const;
    bool cycling() const { return cycling_; }
    bool isVantor() const { return isVantor_; }
    double outputFrequency() const { return outputFrequency_; }
    // Why the last wall fetch or state read of the device failed (the fetch's
    // reason first); empty while both went well. The display panel's output
    // light shows it.
    QString error() const;

    uint litLdmCount() const;
    uint adjustableLdmCount() const;
    uint litTileCount() const;
    uint adjustableTileCount() const;
    int maxX() const;
    int minX() const;
    int maxY() const;
    int minY() const;
    int maxLitLdmX() const;
    int minLitLdmX() const;
    int maxLitLdmY() const;
    int minLitLdmY() const;

    // Change counters: every read returns a new number, so that a QML binding
    // evaluated after the change signal sees a change.
    int ldmData() { return int(++ldmData_); }
    int tileData() { return int(++tileData_); }
    int refresh() { return int(++refresh_); }
    int needFakeLdmRGBs() { return int(++needFakeLdmRGBs_); }

    void setName(const QString& name);
    void setMaximum(uint maximum);
    void setCycling(bool cycling);
    void setLdmData(int);
    void setTileData(int);
    void setOutputFrequency(double frequency);

    // The colour the wall would show, "#rrggbb", and the plain components.
    QString colorStr();
    QString colorReadout();

    // Asks the simulated wall's view to produce observed colours.
    void fetchFakeLdmRGBs();

    // Virtual operations, in the order of the display interface.
    virtual ErrorType setRed(double red);
    virtual ErrorType setGreen(double green);
    virtual ErrorType setBlue(double blue);
    virtual void setAddress(const QString& address);
    virtual bool supportsMeshUniformity() const;
    virtual uint ldmCount() const;
    virtual uint tileCount() const;
    virtual ErrorType read();
    virtual ErrorType sendCalibration(const QList<DisplayBase::CalibrationPoint>& points, double red,
                                      double green, double blue);
    virtual ErrorType fetchLdms();
    // The periodic refresh: fetches the wall again and, when it is the same
    // wall (the same tiles and LDMs at the same places), keeps the records as
    // they are and takes over only what the device reports (see
    // reportsLdmGains). A wall that changed is published as fetchLdms does;
    // a failed fetch leaves the wall as it was. GUI thread only.
    ErrorType refreshLdms();
    // True when a fetch reads the LDMs' gains from the device, so that a
    // refresh of the same wall takes them over.
    virtual bool reportsLdmGains() const { return false; }
    virtual ErrorType displayTestPattern(DisplayBase::TestPattern pattern, int x, int y);
    virtual ErrorType setMeshRGBs(QList<Macropixel*>& macropixels, float value);
    virtual ErrorType commitMeshRGBs(QList<Macropixel*>& macropixels);
    Q_INVOKABLE virtual ErrorType resetMesh() = 0;
    virtual void cancel() = 0;

    // The record lock (see the class comment).
    ModelMutex& modelMutex() const { return modelMutex_; }

    // Scoped access to the records from any thread: holds modelMutex() for as
    // long as it lives, so the references it hands out stay valid (no fetch
    // can replace the lists meanwhile). Keep it short: never across a wait,
    // a network request or event processing. Out-of-range lookups give
    // nullptr, never a shared default record.
    class Records
    {
    public:
        explicit Records(const DisplayBase& display);
        Records(const Records&) = delete;
        Records& operator=(const Records&) = delete;

        Macropixel* ldm(uint number);
        Macropixel* litLdm(uint index);
        Macropixel* adjustableLdm(uint index);
        Tile* tile(uint number);
        Tile* litTile(uint index);
        Tile* adjustableTile(uint index);
        // The LDM of that tile that covers the point, or nullptr. Same lock rule
    // as ldm(): off the GUI thread hold modelMutex() while using the result.
    const Macropixel* findLdm(uint tileNumber, int x, int y);
        qsizetype ldmCount() const { return display_.ldmList.size(); }
        qsizetype tileCount() const { return display_.tileList.size(); }

    private:
        DisplayBase& display_;
        QMutexLocker<ModelMutex> lock_;
    };

public Q_SLOTS:
    virtual ErrorType setRGB(uint number, double red, double green, double blue);
    virtual ErrorType setDisplayGainRGB(double red, double green, double blue);

    // Record lookups. Each takes modelMutex() only while it searches: the
    // reference (or pointer) it returns points into a list that a fetch on
    // the GUI thread may replace at any time after that. A caller on the GUI
    // thread may use it until it next lets a fetch run; a caller on any other
    // thread must hold modelMutex() from the lookup to its last use of the
    // record, or use Records. Out-of-range lookups return a per-operation
    // default record that the next out-of-range lookup resets.
    virtual Macropixel& ldm(uint number);
    virtual Macropixel& litLdm(uint index);
    virtual Macropixel& adjustableLdm(uint index);
    virtual int ldmX(uint number);
    virtual int ldmY(uint number);
    virtual int ldmWidth(uint number);
    virtual int ldmHeight(uint number);
    QString dumpLdm(uint number);
    void dumpLdms();

    // Same lock rule as ldm().
    virtual Tile& tile(uint number);
    virtual Tile& litTile(uint index);
    virtual Tile& adjustableTile(uint index);
    virtual int tileX(uint number);
    virtual int tileY(uint number);
    virtual int tileWidth(uint number);
    virtual int tileHeight(uint number);
    QString dumpTile(uint number);
    void dumpTiles();

    // The LDM of that tile that covers the point, or nullptr. Same lock rule
    // as ldm(): off the GUI thread hold modelMutex() while using the result.
    const Macropixel* findLdm(uint tileNumber, int x, int y);

    virtual double ldmRedGain(uint number);
    virtual double ldmGreenGain(uint number);
    virtual double ldmBlueGain(uint number);
    double ldmRedObserved(uint number);
    double ldmGreenObserved(uint number);
    double ldmBlueObserved(uint number);
    virtual double ldmIntensityGain(uint number);
    virtual bool ldmIsLit(uint number);
    virtual bool ldmAdjustable(uint number);
    virtual bool tileLit(uint number);
    virtual bool tileAdjustable(uint number);

    virtual ErrorType setLdmRGB(uint number, double r, double g, double b, double i);
    ErrorType setLdmRGB(uint number, double r, double g, double b) { return setLdmRGB(number, r, g, b, 0.0); }
    virtual void setLdmRGBObserved(uint number, double r, double g, double b);
    virtual ErrorType setLdmRGBs(QList<Macropixel*>& ldms);
    virtual void getLdmObservedRGBs(QList<Macropixel*>& ldms);

    void selectAllLdms();
    void selectLdms(QPoint start, QPoint end);
    virtual void lightSelectedLdms();
    virtual void lightLitLdms(bool on);
    void adjustSelectedLdms(int selectionMode);
    void adjustSelectedLdms() { adjustSelectedLdms(0); }
    virtual void resetLdms(bool resetRGB, bool resetIntensity);
    void setLitExtents();

    void selectAllTiles();
    void selectTiles(QPoint start, QPoint end);
    virtual void lightSelectedTiles();
    void adjustSelectedTiles(int selectionMode);
    void adjustSelectedTiles() { adjustSelectedTiles(0); }
    void recallLitTiles();

Q_SIGNALS:
    void nameChanged();
    void redChanged();
    void greenChanged();
    void blueChanged();
    void maximumChanged();
    void colorStrChanged();
    void colorReadoutChanged();
    void cyclingChanged();
    void addressChanged();
    void supportsMeshUniformityChanged();
    void fetchedOutputConfig();
    void ldmCountChanged();
    void litLdmCountChanged();
    void adjustableLdmCountChanged();
    void ldmDataChanged();
    void tileCountChanged();
    void litTileCountChanged();
    void adjustableTileCountChanged();
    void tileDataChanged();
    void refreshChanged();
    void needFakeLdmRGBsChanged();
    void displayGainRedChanged();
    void displayGainGreenChanged();
    void displayGainBlueChanged();
    void isVantorChanged();
    void maxXChanged();
    void minXChanged();
    void maxYChanged();
    void minYChanged();
    void maxLitLdmXChanged();
    void minLitLdmXChanged();
    void maxLitLdmYChanged();
    void minLitLdmYChanged();
    void outputFrequencyChanged(double newOutputFrequency);
    void errorChanged();

protected:
    // The outcome of a wall fetch or state read: an empty message clears the
    // error that exchange left.
    void setFetchError_(const QString& message);
    void setReadError_(const QString& message);
    // Appends a record, numbering it when its number is 0; addLdm also widens
    // the extents of all LDMs. Neither emits: fetchLdmsDone publishes.
    void addLdm(Macropixel ldm);
    void addTile(Tile tile);
    // Ends a fetch: counts, log lines, signals, lit extents.
    void fetchLdmsDone();

    // Stores the last tile selection as the lit tile rectangle of this address.
    void setLitTileRect_();
    QString litTileRectKey_() const;

    // The relative comparison of doubles used by the setters.
    static bool fuzzyEqual_(double a, double b);

    // A model value read under modelMutex().
    template <typename T>
    T underLock_(const T& field) const
    {
        QMutexLocker lock(&modelMutex_);
        return field;
    }
    // Stores a model value under modelMutex() unless it equals the held one
    // (exactly, or under fuzzyEqual_ for doubles); true when it was stored.
    template <typename T>
    bool storeUnderLock_(T& field, const T& value)
    {
        QMutexLocker lock(&modelMutex_);
        if constexpr (std::is_same_v<T, double>) {
            if (fuzzyEqual_(value, field))
                return false;
        } else if (value == field) {
            return false;
        }
        field = value;
        return true;
    }

    mutable ModelMutex modelMutex_;

    QString name_;
    double red_ = 0.0;
    double green_ = 0.0;
    double blue_ = 0.0;
    double maximum_ = 1.0;
    double displayGainRed_ = 1.0;
    double displayGainGreen_ = 1.0;
    double displayGainBlue_ = 1.0;
    QString colorStr_;
    QString colorReadout_;
    bool cycling_ = false;
    QString address_;
    QString addressKey;
    uint ldmCount_ = 0;
    uint litLdmCount_ = 0;
    uint adjustableLdmCount_ = 0;
    int maxX_ = 2;
    int maxY_ = 1;
    int minX_ = 0;
    int minY_ = 0;
    int maxLitLdmX_ = 2;
    int maxLitLdmY_ = 1;
    int minLitLdmX_ = 0;
    int minLitLdmY_ = 0;
    QList<Macropixel> ldmList;
    std::atomic<uint> ldmData_ {0};
    std::atomic<uint> refresh_ {0};
    uint tileCount_ = 0;
    uint litTileCount_ = 0;
    uint adjustableTileCount_ = 0;
    QList<Tile> tileList;
    std::atomic<uint> tileData_ {0};
    bool isVantor_ = false;
    std::atomic<uint> needFakeLdmRGBs_ {0};
    double outputFrequency_ = 60.0;
    QRect tileSelectionRect;
    QRect litTileRect;

private:
    void storeError_(QString& field, const QString& message);
    QString fetchError_;
    QString readError_;

    // While a refresh runs its fetch, fetchLdmsDone only counts the fetches
    // that got that far (a second one was asked for while the first waited);
    // the refresh decides what to publish.
    bool holdFetchDone_ = false;
    int fetchDonesHeld_ = 0;

    // The records that out-of-range lookups hand out, one per operation. Each
    // is reset before it is returned, so that nothing a caller wrote into it
    // reaches a later caller.
    Macropixel defaultLdm_;
    Macropixel defaultLitLdm_;
    Macropixel defaultAdjustableLdm_;
    Tile defaultTile_;
    Tile defaultLitTile_;
    Tile defaultAdjustableTile_;
};

// The first record of the list with that number, or nullptr (with a debug line).
Macropixel* ldmForNumber(QList<Macropixel*>& ldms, uint number);
Tile* tileForNumber(QList<Tile*>& tiles, uint number);
