#include "plantmeter.h"

#include "fakedisplay.h"


PlantMeter::PlantMeter(FakeDisplay& display, QObject* parent)
    : Colorimeter(QStringLiteral("plant"), parent)
    , display_(display)
{
    setDefaultPlant();
}

void PlantMeter::setDefaultPlant()
{
    const double m[3][3] = {{30, 60, 10}, {-3000, 500, 2500}, {-0.01, 0.02, -0.01}};
    const double o[3] = {0.0, 6500.0, 0.0};
    setPlant(m, o);
}

void PlantMeter::setPlant(const double matrix[3][3], const double offset[3])
{
    std::lock_guard lock(mutex_);
    for (int q = 0; q < 3; ++q) {
        offset_[q] = offset[q];
        for (int c = 0; c < 3; ++c)
            matrix_[q][c] = matrix[q][c];
    }
}

void PlantMeter::setNoise(double relative)
{
    std::lock_guard lock(mutex_);
    noise_ = relative;
}

void PlantMeter::failFrom(int read, int code)
{
    std::lock_guard lock(mutex_);
    failFrom_ = read;
    failCode_ = code;
}

int PlantMeter::reads() const
{
    std::lock_guard lock(mutex_);
    return reads_;
}

void PlantMeter::effectiveGains(double out[3]) const
{
    double wide[3] = {1, 1, 1}, rgb[3] = {1, 1, 1};
    bool haveWide = false, haveRgb = false;
    const QList<FakeDisplay::Call> calls = display_.calls();
    for (auto it = calls.crbegin(); it != calls.crend() && !(haveWide && haveRgb); ++it) {
        const bool isWide = it->op == QLatin1String("setDisplayGainRGB");
        double* target = isWide ? wide : rgb;
        bool& have = isWide ? haveWide : haveRgb;
        if (have)
            continue;
        target[0] = it->red;
        target[1] = it->green;
        target[2] = it->blue;
        have = true;
    }
    for (int c = 0; c < 3; ++c)
        out[c] = wide[c] * rgb[c];
}

void PlantMeter::read()
{
    double g[3];
    effectiveGains(g);
    double v[3];
    int code = 0;
    {
        std::lock_guard lock(mutex_);
        ++reads_;
        std::uniform_real_distribution<double> spread(-noise_, noise_);
        for (int q = 0; q < 3; ++q) {
            v[q] = offset_[q] + matrix_[q][0] * g[0] + matrix_[q][1] * g[1] + matrix_[q][2] * g[2];
            if (noise_ > 0)
                v[q] += v[q] * spread(random_);
        }
        if (failFrom_ > 0 && reads_ >= failFrom_)
            code = failCode_;
    }
    lock();
    setLuminance(v[0]);
    setCct(v[1]);
    setDuv(v[2]);
    setTimestamp(QString::number(reads()));
    setError(code == 0 ? QString() : QStringLiteral("plant error %1").arg(code));
    setErrorType(ErrorType(code, error()));
    unlock();
    Q_EMIT dataAvailable(this);
}
