#include "colorimeter.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <cmath>

namespace {

// NaN never equals anything, so a NaN always counts as a change.
bool sameValue(double a, double b)
{
    return a == b;
}

} // namespace

Colorimeter::Colorimeter(const QString& name, QObject* parent)
    : QObject(parent)
    , filterList_(this)
    , matrixList_(this)
    , name_(name)
    , luminanceUnits_(QStringLiteral("cd/m²"))
    , addressKey_(name + QStringLiteral("/address"))
    , filterKey_(name + QStringLiteral("/filter"))
    , matrixKey_(name + QStringLiteral("/matrix"))
{
    qRegisterMetaType<ErrorType>();
    qRegisterMetaType<Colorimeter*>();

    QSettings settings;
    if (settings.contains(addressKey_))
        setAddress(settings.value(addressKey_).toString());
    if (name_ == QLatin1String("dummy")) {
        setAddress(QStringLiteral("N/A"));
        setCct(6500.0);
        setDuv(9.9654e-05);
        setCieXY(0.3, 0.345678);
        setLuminance(1024.0);
    }
    // Read as signed: a stored -1 ("none") must come back as -1.
    filter_ = settings.value(filterKey_, -1).toInt();
    matrix_ = settings.value(matrixKey_, -1).toInt();
}

Colorimeter::~Colorimeter() = default;

QString Colorimeter::timestampNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    // A local time prints no offset; one with an explicit offset does
    // (and a zero offset prints as "Z").
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void Colorimeter::setString_(QString& held, const QString& text, void (Colorimeter::*signal)())
{
    if (held == text)
        return;
    held = text;
    Q_EMIT(this->*signal)();
}

void Colorimeter::setName(const QString& name)
{
    if (name_ == name)
        return;
    name_ = name;
    Q_EMIT nameChanged();
}

void Colorimeter::setAddress(const QString& address)
{
    if (address_ == address)
        return;
    address_ = address;
    address_.remove(QStringLiteral("http://"), Qt::CaseInsensitive);
    Q_EMIT addressChanged();
    QSettings().setValue(addressKey_, address_);
}

void Colorimeter::setCct(double cct)
{
    const std::lock_guard locker(mutex_);
    if (sameValue(cct_, cct))
        return;
    cct_ = cct;
    Q_EMIT cctChanged();
    setString_(cctString_, QStringLiteral("%1 K").arg(cct_), &Colorimeter::cctStringChanged);
}

void Colorimeter::setDuv(double duv)
{
    const std::lock_guard locker(mutex_);
    if (sameValue(duv_, duv))
        return;
    duv_ = duv;
    Q_EMIT duvChanged();
    const QString sign = duv_ < 0 ? QStringLiteral("\u2212") : QStringLiteral("+");
    setString_(duvString_, QStringLiteral("%1%2").arg(sign).arg(std::fabs(duv_), 5, 'f', 4),
               &Colorimeter::duvStringChanged);
}

void Colorimeter::setCieXY(double x, double y)
{
    const std::lock_guard locker(mutex_);
    if (sameValue(cieX_, x) && sameValue(cieY_, y))
        return;
    cieX_ = x;
    cieY_ = y;
    Q_EMIT cieXChanged();
    Q_EMIT cieYChanged();
    setString_(cieXYString_, QStringLiteral("%1, %2").arg(cieX_, 5, 'f', 4).arg(cieY_, 5, 'f', 4),
               &Colorimeter::cieXYStringChanged);
}

void Colorimeter::setLuminance(double luminance)
{
    const std::lock_guard locker(mutex_);
    if (sameValue(luminance_, luminance))
        return;
    luminance_ = luminance;
    Q_EMIT luminanceChanged();
    setLuminanceString_();
}

void Colorimeter::setLuminanceUnits(const QString& units)
{
    const std::lock_guard locker(mutex_);
    if (luminanceUnits_ != units) {
        luminanceUnits_ = units;
        Q_EMIT luminanceUnitsChanged();
    }
    setLuminanceString_();
}

void Colorimeter::setLuminanceString_()
{
    setString_(luminanceString_, QStringLiteral("%1 %2").arg(luminance_).arg(luminanceUnits_),
               &Colorimeter::luminanceStringChanged);
}

void Colorimeter::setTimestamp(const QString& timestamp)
{
    const std::lock_guard locker(mutex_);
    setString_(timestamp_, timestamp, &Colorimeter::timestampChanged);
}

void Colorimeter::setTimestamp()
{
    setTimestamp(timestampNow());
}

void Colorimeter::setError(const QString& error)
{
    const std::lock_guard locker(mutex_);
    setString_(error_, error, &Colorimeter::errorChanged);
}

void Colorimeter::setErrorType(ErrorType e)
{
    const std::lock_guard locker(mutex_);
    // Any change of code or message is kept, so that a fatal error following
    // a recoverable one reads as fatal; only OK <-> error is announced.
    if (errorType_.code == e.code && errorType_.message == e.message)
        return;
    const bool announce = errorType_ != e;
    errorType_ = e;
    if (announce)
        Q_EMIT errorTypeChanged();
}

int Colorimeter::filter() const
{
    dumpFilters_();
    return filterList_.count() < 2 ? -1 : filter_;
}

int Colorimeter::matrix() const
{
    dumpMatrices_();
    return matrixList_.count() < 2 ? -1 : matrix_;
}

namespace {

QString nameOf(const OptionList& list, int number)
{
    for (qsizetype i = 0; i < list.count(); ++i) {
        if (list.option(i)->number() == number)
            return list.option(i)->name();
    }
    return {};
}

bool listed(const OptionList& list, int number)
{
    for (qsizetype i = 0; i < list.count(); ++i) {
        if (list.option(i)->number() == number)
            return true;
    }
    return false;
}

} // namespace

QString Colorimeter::filterName() const
{
    return nameOf(filterList_, filter_);
}

QString Colorimeter::matrixName() const
{
    return nameOf(matrixList_, matrix_);
}

void Colorimeter::setFilter(int number)
{
    if (!listed(filterList_, number)) {
        qDebug("Filter #%d not found in filter list; setting no filter.", number);
        number = -1;
    }
    if (number != filter_) {
        filter_ = number;
        QSettings().setValue(filterKey_, filter_);
    }
    Q_EMIT filterChanged();
    Q_EMIT filterNameChanged();
}

void Colorimeter::setMatrix(int number)
{
    if (!listed(matrixList_, number)) {
        qDebug("Matrix #%d not found in matrix list; setting no matrix.", number);
        number = -1;
    }
    if (number != matrix_) {
        matrix_ = number;
        QSettings().setValue(matrixKey_, matrix_);
    }
    Q_EMIT matrixChanged();
    Q_EMIT matrixNameChanged();
}

void Colorimeter::setFilterAndMatrix(int filter, int matrix)
{
    if (filter == filter_ && matrix == matrix_)
        return;
    qDebug("Filter %d matrix %d", filter, matrix);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer, filter, matrix] {
        timer->deleteLater();
        if (matrix >= -1)
            setMatrix(matrix);
        if (filter >= -1)
            setFilter(filter);
    });
    timer->start(1);
}

void Colorimeter::dumpFilters_() const
{
    if (!verbose_)
        return;
    const qsizetype n = filterList_.count();
    qDebug("%s has %lld ND filter%s", qUtf8Printable(name_), qint64(n), n == 1 ? "" : "s");
    for (qsizetype i = 0; i < n; ++i) {
        const Option* o = filterList_.option(i);
        qDebug("  %p: #%d, %s", static_cast<const void*>(o), o->number(), qUtf8Printable(o->name()));
    }
}

void Colorimeter::dumpMatrices_() const
{
    if (!verbose_)
        return;
    const qsizetype n = matrixList_.count();
    qDebug("%s has %lld matri%s", qUtf8Printable(name_), qint64(n), n == 1 ? "x" : "ces");
    for (qsizetype i = 0; i < n; ++i) {
        const Option* o = matrixList_.option(i);
        qDebug("  %p: #%d, %s", static_cast<const void*>(o), o->number(), qUtf8Printable(o->name()));
    }
}

void Colorimeter::read()
{
    lock();
    setLuminance(double(QRandomGenerator::global()->generate() % 2000));
    setTimestamp();
    unlock();
    Q_EMIT dataAvailable(this);
}

void Colorimeter::lock()
{
    mutex_.lock();
}

void Colorimeter::unlock()
{
    mutex_.unlock();
}
