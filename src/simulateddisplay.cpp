#include "simulateddisplay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

SimulatedDisplay::SimulatedDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("Simulated Display"), parent)
    , statePath_(qEnvironmentVariable("VELTRANO_SIMULATED_WALL_STATE"))
{
    if (statePath_.isEmpty())
        return;
    // Direct: the engine sets a colour and then reads the meter, so the file
    // must be written on the engine's thread before the change returns.
    connect(this, &DisplayBase::colorStrChanged, this, &SimulatedDisplay::publishState_, Qt::DirectConnection);
    publishState_();
}

void SimulatedDisplay::publishState_()
{
    const auto rgb = [](double r, double g, double b) {
        return QJsonObject {{QStringLiteral("r"), r}, {QStringLiteral("g"), g}, {QStringLiteral("b"), b}};
    };
    const std::lock_guard<std::mutex> lock(publishMutex_);
    const QJsonObject display {
        {QStringLiteral("gains"), rgb(displayGainRed(), displayGainGreen(), displayGainBlue())},
        {QStringLiteral("out"),
         QJsonObject {{QStringLiteral("adjust"), QJsonObject {{QStringLiteral("gain"), rgb(red(), green(), blue())}}}}},
    };
    const QJsonObject state {{QStringLiteral("dev"), QJsonObject {{QStringLiteral("display"), display}}}};
    QSaveFile file(statePath_);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(state).toJson(QJsonDocument::Compact)) < 0
        || !file.commit())
        qWarning("Simulated wall state not written to %s: %s", qUtf8Printable(statePath_),
                 qUtf8Printable(file.errorString()));
}

SimulatedDisplay::~SimulatedDisplay() = default;

ErrorType SimulatedDisplay::displayTestPattern(DisplayBase::TestPattern, int, int)
{
    return {};
}

ErrorType SimulatedDisplay::setMeshRGBs(QList<Macropixel*>&, float)
{
    return {};
}

ErrorType SimulatedDisplay::commitMeshRGBs(QList<Macropixel*>&)
{
    return {};
}

ErrorType SimulatedDisplay::resetMesh()
{
    return {};
}

void SimulatedDisplay::cancel()
{
}
