#pragma once

#include "errortype.h"
#include "optionlist.h"

#include <QObject>
#include <QString>

#include <mutex>

// The colour-meter interface, and by itself the dummy meter that needs no
// instrument and answers every read() with a random luminance.
//
// A meter holds one reading, the display strings the scene binds to, the
// error state of the last reading and two selectable lists (neutral-density
// filters and correction matrices). Address, filter and matrix are kept in the
// settings store under the name given to the constructor.
//
// Every reading that reaches an outcome, good or failed, ends with
// dataAvailable(this), emitted after the reading, error and errorType were
// stored. Readers on other threads copy the reading between lock() and unlock();
// every setter of a reading, error or error type holds the same (recursive)
// lock, and a meter holds it around each group of stores that belong together.
class Colorimeter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(double cct READ cct NOTIFY cctChanged)
    Q_PROPERTY(double duv READ duv NOTIFY duvChanged)
    Q_PROPERTY(double cieX READ cieX NOTIFY cieXChanged)
    Q_PROPERTY(double cieY READ cieY NOTIFY cieYChanged)
    Q_PROPERTY(double luminance READ luminance NOTIFY luminanceChanged)
    Q_PROPERTY(QString luminanceUnits READ luminanceUnits WRITE setLuminanceUnits NOTIFY
                   luminanceUnitsChanged)
    Q_PROPERTY(QString cctString READ cctString NOTIFY cctStringChanged)
    Q_PROPERTY(QString duvString READ duvString NOTIFY duvStringChanged)
    Q_PROPERTY(QString cieXYString READ cieXYString NOTIFY cieXYStringChanged)
    Q_PROPERTY(QString luminanceString READ luminanceString NOTIFY luminanceStringChanged)
    Q_PROPERTY(QString timestamp READ timestamp WRITE setTimestamp NOTIFY timestampChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(int filter READ filter WRITE setFilter NOTIFY filterChanged)
    Q_PROPERTY(QString filterName READ filterName NOTIFY filterNameChanged)
    Q_PROPERTY(OptionList* filterList READ filterList NOTIFY filterListChanged)
    Q_PROPERTY(int matrix READ matrix WRITE setMatrix NOTIFY matrixChanged)
    Q_PROPERTY(QString matrixName READ matrixName NOTIFY matrixNameChanged)
    Q_PROPERTY(OptionList* matrixList READ matrixList NOTIFY matrixListChanged)

public:
    explicit Colorimeter(const QString& name, QObject* parent = nullptr);
    ~Colorimeter() override;

    QString name() const { return name_; }
    QString address() const { return address_; }
    double cct() const { return cct_; }
    double duv() const { return duv_; }
    double cieX() const { return cieX_; }
    double cieY() const { return cieY_; }
    double luminance() const { return luminance_; }
    QString luminanceUnits() const { return luminanceUnits_; }
    QString cctString() const { return cctString_; }
    QString duvString() const { return duvString_; }
    QString cieXYString() const { return cieXYString_; }
    QString luminanceString() const { return luminanceString_; }
    QString timestamp() const { return timestamp_; }
    QString error() const { return error_; }
    ErrorType errorType() const { return errorType_; }
    QString filterName() const;
    QString matrixName() const;
    OptionList* filterList() { return &filterList_; }
    OptionList* matrixList() { return &matrixList_; }
    // Whether the serial instrument reported itself a spectrometer.
    bool spectrometer() const { return spectrometer_; }

    virtual void setErrorType(ErrorType e);
    virtual int filter() const;
    virtual void setFilter(int number);
    virtual int matrix() const;
    virtual void setMatrix(int number);

    void setName(const QString& name);
    void setAddress(const QString& address);
    void setCct(double cct);
    void setDuv(double duv);
    void setCieXY(double x, double y);
    void setLuminance(double luminance);
    void setLuminanceUnits(const QString& units);
    void setTimestamp(const QString& timestamp);
    void setTimestamp(); // now, local time with its UTC offset
    void setError(const QString& error);

    // The current local time as ISO 8601 with milliseconds and the UTC offset
    // ("Z" for a zero offset).
    static QString timestampNow();

public Q_SLOTS:
    virtual void read();
    void lock();
    void unlock();
    // Applied 1 ms later, matrix first; -2 (or below) leaves a selection as it is.
    void setFilterAndMatrix(int filter, int matrix);

Q_SIGNALS:
    void nameChanged();
    void cctChanged();
    void duvChanged();
    void cieXChanged();
    void cieYChanged();
    void luminanceChanged();
    void cctStringChanged();
    void duvStringChanged();
    void cieXYStringChanged();
    void luminanceStringChanged();
    void luminanceUnitsChanged();
    void dataAvailable(Colorimeter* meter);
    void addressChanged();
    void timestampChanged();
    void errorChanged();
    void errorTypeChanged();
    void filterListChanged();
    void filterChanged();
    void filterNameChanged();
    void matrixListChanged();
    void matrixChanged();
    void matrixNameChanged();

protected:
    void dumpFilters_() const;
    void dumpMatrices_() const;
    // The stored selections, whatever the lists hold.
    int storedFilter() const { return filter_; }
    int storedMatrix() const { return matrix_; }

    // A standard mutex, so that ThreadSanitizer follows the hand-over.
    std::recursive_mutex mutex_;
    bool spectrometer_ = false;
    bool verbose_ = false;
    OptionList filterList_;
    OptionList matrixList_;

private:
    void setLuminanceString_();
    void setString_(QString& held, const QString& text, void (Colorimeter::*signal)());

    QString name_;
    QString address_;
    double cct_ = 0.0;
    double duv_ = 0.0;
    double cieX_ = 0.0;
    double cieY_ = 0.0;
    double luminance_ = 0.0;
    QString cctString_;
    QString duvString_;
    QString cieXYString_;
    QString luminanceString_;
    QString luminanceUnits_;
    QString timestamp_;
    QString error_;
    ErrorType errorType_;
    int filter_ = -1;
    int matrix_ = -1;
    const QString addressKey_;
    const QString filterKey_;
    const QString matrixKey_;
};
