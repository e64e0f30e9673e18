#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

#include <opencv2/core.hpp>

namespace testsupport {

// A processor state of `receivers` receivers side by side (MACs
// AA:BB:CC:DD:EE:00, ...01, ...), each `width` x `height` pixels split into
// `ldmsW` x `ldmsH` LDMs, with mesh uniformity on.
QJsonObject meshWallState(int receivers, int width, int height, int ldmsW, int ldmsH);

// The light of a wall pixel before any correction (blue, green, red codes),
// by receiver MAC, LDM key and place within the LDM (fractions of its width
// and height, from 0 at its top-left corner).
using LdmLevel = std::function<cv::Vec3f(const QString& mac, int key, float u, float v)>;

// The wall that the stand-in processor drives, as the simulated camera's
// wall image (CV_32FC3, wall pixel (0, 0) = display pixel (0, 0)): every LDM
// of the state's receivers is a rectangle lit at its levels times the correction
// mesh last uploaded for it (`uploads` as /__uploads gives them), each pixel
// taking the mesh cell it lies in. LDMs without an upload show their level.
cv::Mat processorWall(const QJsonObject& state, const QJsonObject& uploads, const LdmLevel& level);

} // namespace testsupport
