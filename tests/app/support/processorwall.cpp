#include "processorwall.h"

#include "glowkit/tesscalfile.h"

#include <QByteArray>
#include <QJsonDocument>

#include <algorithm>
#include <sstream>

namespace testsupport {

namespace {

int number(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toInt();
}

} // namespace

QJsonObject meshWallState(int receivers, int width, int height, int ldmsW, int ldmsH)
{
    QJsonObject all;
    for (int r = 0; r < receivers; ++r) {
        QJsonObject ldms;
        for (int k = 1; k <= ldmsW * ldmsH; ++k)
            ldms.insert(QString::number(k), QJsonDocument::fromJson(R"({"gains":{"i":0}})").object());
        const QString text = QStringLiteral(R"({"x":%1,"y":0,"info":{"type":"P","pixelsW":%2,"pixelsH":%3,)"
                                            R"("ldmsW":%4,"ldmsH":%5}})")
                                 .arg(width * r).arg(width).arg(height).arg(ldmsW).arg(ldmsH);
        QJsonObject receiver = QJsonDocument::fromJson(text.toUtf8()).object();
        receiver.insert(QStringLiteral("ldms"), ldms);
        all.insert(QStringLiteral("AA:BB:CC:DD:EE:0%1").arg(r), receiver);
    }
    return QJsonObject {
        {"sys", QJsonDocument::fromJson(R"({"fixtures":{"P":{"cal":{"uniformity":{"mesh":true}}}}})").object()},
        {"dev", QJsonObject {{"receivers", all}}}};
}

cv::Mat processorWall(const QJsonObject& state, const QJsonObject& uploads, const LdmLevel& level)
{
    const QJsonObject receivers =
        state.value(QStringLiteral("dev")).toObject().value(QStringLiteral("receivers")).toObject();
    int width = 0, height = 0;
    for (const QJsonValue& value : receivers) {
        const QJsonObject receiver = value.toObject(), info = receiver.value(QStringLiteral("info")).toObject();
        width = std::max(width, number(receiver, "x") + number(info, "pixelsW"));
        height = std::max(height, number(receiver, "y") + number(info, "pixelsH"));
    }
    cv::Mat wall(std::max(height, 1), std::max(width, 1), CV_32FC3, cv::Scalar::all(0));
    for (auto r = receivers.begin(); r != receivers.end(); ++r) {
        const QJsonObject receiver = r.value().toObject(), info = receiver.value(QStringLiteral("info")).toObject();
        const int wide = number(info, "ldmsW"), high = number(info, "ldmsH");
        if (wide <= 0 || high <= 0)
            continue;
        const int w = number(info, "pixelsW") / wide, h = number(info, "pixelsH") / high;
        const QJsonObject meshes = uploads.value(r.key()).toObject();
        const QStringList keys = receiver.value(QStringLiteral("ldms")).toObject().keys();
        for (const QString& key : keys) {
            const int k = key.toInt() - 1;
            const cv::Rect place(number(receiver, "x") + k % wide * w, number(receiver, "y") + k / wide * h, w, h);
            TessCalFile::Mesh mesh;
            if (meshes.contains(key)) {
                std::istringstream in(QByteArray::fromBase64(meshes.value(key).toString().toLatin1()).toStdString());
                mesh = TessCalFile::Handler().readStreamMesh(in);
            }
            const bool corrected = mesh.planes.size() == 3 && mesh.planes[0].size() > 2
                                   && mesh.planes[0][0].size() > 2;
            const int nx = corrected ? int(mesh.planes[0][0].size()) - 2 : 1;
            const int ny = corrected ? int(mesh.planes[0].size()) - 2 : 1;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const cv::Point at = place.tl() + cv::Point(x, y);
                    if (!cv::Rect(0, 0, wall.cols, wall.rows).contains(at))
                        continue;
                    cv::Vec3f pixel = level(r.key(), k + 1, (float(x) + 0.5f) / float(w), (float(y) + 0.5f) / float(h));
                    if (corrected) {
                        const size_t row = size_t(y * ny / h + 1), column = size_t(x * nx / w + 1);
                        for (int c = 0; c < 3; ++c) // planes red, green, blue; pixels blue, green, red
                            pixel[2 - c] *= mesh.planes[size_t(c)][row][column];
                    }
                    wall.at<cv::Vec3f>(at) = pixel;
                }
        }
    }
    return wall;
}

} // namespace testsupport
