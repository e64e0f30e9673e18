// Draws the scene's icons (PNG) and the lens-compensation flat fields (JPEG).
//
//   assetgen <icon folder> <lens folder>
//
// Icons are white figures on a transparent ground, the status lights a red
// and a green disc. A flat field holds, per pixel, 255 times the relative
// illumination of the lens at that place, so that dividing a photo by it (and
// multiplying by 255) lifts the corners back to the centre's level. The
// fall-off follows the radial model the photo analysis uses for its built-in
// lenses: gain = 1 / (1 - k (dx^2 + dy^2)) on a 180 by 120 grid centred on
// the image, so the flat field is 255 (1 - k (dx^2 + dy^2)).

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdio>

namespace {

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
}

QPolygonF triangleRight(double left, double top, double right, double bottom)
{
    return QPolygonF({QPointF(left, top), QPointF(right, (top + bottom) / 2), QPointF(left, bottom)});
}

QImage iconRun()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    p.drawPolygon(triangleRight(14, 8, 56, 56));
    return image;
}

QImage iconStop()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    p.drawRoundedRect(QRectF(12, 12, 40, 40), 3, 3);
    return image;
}

QImage iconResume()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    p.drawRect(QRectF(8, 10, 10, 44));
    p.drawPolygon(triangleRight(24, 8, 60, 56));
    return image;
}

QImage iconSpotMeasure()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 4));
    p.drawEllipse(QPointF(32, 32), 22, 22);
    p.drawLine(QPointF(32, 2), QPointF(32, 24));
    p.drawLine(QPointF(32, 40), QPointF(32, 62));
    p.drawLine(QPointF(2, 32), QPointF(24, 32));
    p.drawLine(QPointF(40, 32), QPointF(62, 32));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 32), 3, 3);
    return image;
}

QImage iconRefresh()
{
    QImage image = canvas(48, 64);
    QPainter p(&image);
    prepare(p);
    const QRectF ring(6, 14, 36, 36);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::FlatCap));
    // Qt angles: 1/16 degree, counter-clockwise from three o'clock.
    p.drawArc(ring, 100 * 16, 300 * 16);
    // Arrow head at the arc's start (top, a little left of centre), pointing
    // along the arc's clockwise direction.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const double a = 100.0 * M_PI / 180.0;
    const QPointF tip(24 + 18 * std::cos(a), 32 - 18 * std::sin(a));
    p.drawPolygon(QPolygonF({tip + QPointF(12, 0), tip + QPointF(-2, -9), tip + QPointF(-2, 9)}));
    return image;
}

QImage iconConnect()
{
    QImage image = canvas(120, 64);
    QPainter p(&image);
    prepare(p);
    // The arrow.
    p.drawRect(QRectF(6, 28, 40, 8));
    p.drawPolygon(QPolygonF({QPointF(44, 16), QPointF(64, 32), QPointF(44, 48)}));
    // The framed circle.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 4));
    p.drawRoundedRect(QRectF(72, 10, 44, 44), 6, 6);
    p.drawEllipse(QPointF(94, 32), 12, 12);
    return image;
}

QImage iconGrab()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    p.drawRoundedRect(QRectF(4, 8, 56, 48), 3, 3);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setBrush(Qt::black);
    // The picture area and the sprocket holes along both edges.
    p.drawRect(QRectF(10, 18, 44, 28));
    for (int i = 0; i < 6; ++i) {
        const double x = 8 + i * 8.8;
        p.drawRect(QRectF(x, 11, 4, 4));
        p.drawRect(QRectF(x, 49, 4, 4));
    }
    return image;
}

QImage iconLed(QColor centre, QColor rim)
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    prepare(p);
    QRadialGradient gradient(QPointF(26, 24), 34);
    gradient.setColorAt(0.0, centre.lighter(140));
    gradient.setColorAt(0.6, centre);
    gradient.setColorAt(1.0, rim);
    p.setBrush(gradient);
    p.drawEllipse(QPointF(32, 32), 28, 28);
    return image;
}

// Fall-off coefficients of the two analytic lens settings, at 50 mm and 70 mm.
constexpr double kAt50 = 1.2829823e-5;
constexpr double kAt70 = 1.1498427e-5;

// k(f) = a + b / f through the two known settings: wider settings fall off more.
double falloff(double focal)
{
    const double b = (kAt50 - kAt70) / (1.0 / 50.0 - 1.0 / 70.0);
    const double a = kAt50 - b / 50.0;
    return a + b / focal;
}

QImage flatField(int width, int height, double k)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int r = 0; r < height; ++r) {
        const float dy = float(r) * 120.0f / float(height) - 60.0f;
        uchar* line = image.scanLine(r);
        for (int c = 0; c < width; ++c) {
            const float dx = float(c) * 180.0f / float(width) - 90.0f;
            const double level = 255.0 * (1.0 - k * double(dx * dx + dy * dy));
            const int v = int(std::lround(std::clamp(level, 0.0, 255.0)));
            line[3 * c] = line[3 * c + 1] = line[3 * c + 2] = uchar(v);
        }
    }
    return image;
}

struct Lens {
    const char* key;        // lens words as they stand in the file names
    double scale;           // fall-off of this lens relative to the model's
    QList<int> focals;      // fixed focal lengths, widest first
};

bool save(const QImage& image, const QString& path, const char* format, int quality)
{
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: assetgen <icon folder> <lens folder>\n");
        return 2;
    }
    const QDir icons(QString::fromLocal8Bit(argv[1]));
    const QDir lenses(QString::fromLocal8Bit(argv[2]));
    if (!icons.exists() || !lenses.exists()) {
        std::fprintf(stderr, "both folders must exist\n");
        return 2;
    }

    bool ok = true;
    ok &= save(iconRun(), icons.filePath("IconRun.png"), "PNG", -1);
    ok &= save(iconStop(), icons.filePath("IconStop.png"), "PNG", -1);
    ok &= save(iconResume(), icons.filePath("IconResume.png"), "PNG", -1);
    ok &= save(iconSpotMeasure(), icons.filePath("IconSpotMeasure.png"), "PNG", -1);
    ok &= save(iconRefresh(), icons.filePath("IconRefresh.png"), "PNG", -1);
    ok &= save(iconConnect(), icons.filePath("IconConnect.png"), "PNG", -1);
    ok &= save(iconGrab(), icons.filePath("IconGrab.png"), "PNG", -1);
    ok &= save(iconLed(QColor("#e02424"), QColor("#6a0a0a")), icons.filePath("IconRedLED.png"), "PNG", -1);
    ok &= save(iconLed(QColor("#24c040"), QColor("#0a4a14")), icons.filePath("IconGreenLED.png"), "PNG", -1);

    // Two camera bodies, two zoom lenses: per lens one image per focal length
    // and one per range between neighbouring focal lengths; the 24-70 lens also
    // has a large image at 35 mm.
    const QStringList cameras = {"ILCE-7C", "ILCE-7SM3"};
    const QList<Lens> lensSet = {
        {"FE_4^024-070", 1.0, {24, 35, 50, 70}},
        {"FE_4^024-105", 1.08, {24, 35, 50, 70, 105}},
    };
    constexpr int quality = 90;
    for (const QString& camera : cameras) {
        const double bodyScale = camera == "ILCE-7C" ? 1.0 : 0.96;
        for (const Lens& lens : lensSet) {
            const QString prefix = QString("%1_%2_@").arg(camera, QString::fromLatin1(lens.key));
            for (qsizetype i = 0; i < lens.focals.size(); ++i) {
                const int focal = lens.focals[i];
                const double k = falloff(focal) * lens.scale * bodyScale;
                const QString base = prefix + QString("%1").arg(focal, 3, 10, QChar('0'));
                ok &= save(flatField(180, 120, k), lenses.filePath(base + ".jpg"), "JPEG", quality);
                if (i + 1 < lens.focals.size()) {
                    const int next = lens.focals[i + 1];
                    const double kRange = falloff((focal + next) / 2.0) * lens.scale * bodyScale;
                    ok &= save(flatField(180, 120, kRange),
                               lenses.filePath(QString("%1~%2.jpg").arg(base).arg(next)), "JPEG", quality);
                }
                if (focal == 35 && QString::fromLatin1(lens.key) == "FE_4^024-070")
                    ok &= save(flatField(1200, 800, k), lenses.filePath(base + "_[1200x800].jpg"), "JPEG",
                               quality);
            }
        }
    }
    return ok ? 0 : 1;
}
