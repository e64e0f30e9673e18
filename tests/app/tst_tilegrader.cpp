#include "messagecapture.h"
#include "photorender.h"
#include "rawdecoder.h"
#include "testsupport.h"
#include "tilegrader.h"

#include <cmath>
#include <cstring>
#include <memory>

#include <QFile>
#include <QSignalSpy>

#include <libraw/libraw.h>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using testsupport::Shot;
using testsupport::Wall;

Q_DECLARE_METATYPE(testsupport::Shot)
Q_DECLARE_METATYPE(testsupport::Wall)

namespace {

constexpr float k050 = 1.2829823e-5f;
constexpr float k070 = 1.1498427e-5f;
const char* const realRaw = "/usr/share/doc/rawtran/IMG_5952.CR2";

// The camera's S-Log3 curve and the display encoding, written out from their definitions.
double sLog3Linear(int code) { return std::lround(std::pow(10.0, code / 65.5) / 30.545 * 256.0); }
double encode(double linear) { return std::lround(std::pow(linear / 65535.0, 0.41) * 255.0); }

Wall colouredWall()
{
    Wall wall;
    wall.columns = 6;
    wall.rows = 4;
    for (int i = 0; i < wall.columns * wall.rows; ++i)
        wall.colours.push_back(cv::Vec3f(90 + (i * 37) % 140, 120 + (i * 53) % 110, 100 + (i * 29) % 130));
    return wall;
}

// The outline's corners are polygon vertices that the simplification picks
// from boundary pixels within 1 % of the photo's size, so they may sit a
// few pixels along an edge from the true corner.
// Largest coordinate difference from the edge point `corner` (a pixel's
// centre lies half a pixel inside its edges) to the nearest point of `contour`.
double nearest(const TileGrader::Contour& contour, cv::Point2f corner)
{
    double best = 1e9;
    for (const cv::Point& p : contour) {
        const cv::Point2f d = cv::Point2f(p) - (corner - cv::Point2f(0.5f, 0.5f));
        best = std::min(best, double(std::max(std::abs(d.x), std::abs(d.y))));
    }
    return best;
}

// A float screen image with one lit block per module of `wall` on a dark canvas.
cv::Mat moduleScreen(const Wall& wall, int margin)
{
    cv::Mat screen(wall.size() + cv::Size(2 * margin, 2 * margin), CV_32FC3, cv::Scalar::all(0));
    testsupport::renderWall(wall).copyTo(screen(cv::Rect(cv::Point(margin, margin), wall.size())));
    return screen;
}

// Rewrites the JPEG at `file` with its Huffman tables ahead of its frame header.
bool tablesBeforeFrame(const QString& file)
{
    const QByteArray jpeg = testsupport::readFile(file);
    QByteArray tables, others;
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos + 1]) != 0xDA) {
        const int length = 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
        (uchar(jpeg[pos + 1]) == 0xC4 ? tables : others) += jpeg.mid(pos, length);
        pos += length;
    }
    QFile out(file);
    return !tables.isEmpty() && out.open(QIODevice::WriteOnly) && out.write(jpeg.left(2) + tables + others + jpeg.mid(pos)) > 0;
}

// True when `image` holds, pixel for pixel, the float image `old` converted to 8 bits.
bool sameAs(const QImage& image, const cv::Mat& old)
{
    cv::Mat old8;
    old.convertTo(old8, CV_8UC3);
    if (image.format() != QImage::Format_BGR888 || image.width() != old8.cols || image.height() != old8.rows)
        return false;
    for (int r = 0; r < old8.rows; ++r)
        if (std::memcmp(image.constScanLine(r), old8.ptr(r), std::size_t(old8.cols) * 3) != 0)
            return false;
    return true;
}

} // namespace

class TestTileGrader : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void toneTables_data();
    void toneTables();
    void settersFallBack();
    void wallInPhoto_data();
    void wallInPhoto();
    void darkFrame_data();
    void darkFrame();
    void refusals_data();
    void refusals();
    void unusableLensImages_data();
    void unusableLensImages();
    void meshLocations_data();
    void meshLocations();
    void sectionWindows();
    void meshWindows_data();
    void meshWindows();
    void averagesCache();
    void previews_data();
    void previews();
    void rawDecoding();
};

void TestTileGrader::toneTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("input");
    QTest::addColumn<float>("parameter");
    QTest::addColumn<int>("expected");
    const int slog[][2] = {{0, 8}, {1, 9}, {64, 80}, {95, 236}, {128, 754}, {200, 9478}, {255, 65528}};
    for (const auto& [in, out] : slog)
        QTest::addRow("slog3 %d", in) << "slog3" << in << 0.0f << out;
    const int gamma[][2] = {{0, 0}, {1, 3}, {16, 8}, {256, 26}, {4096, 82}, {16384, 144}, {32768, 192}, {65535, 255}};
    for (const auto& [in, out] : gamma)
        QTest::addRow("gamma %d", in) << "gamma" << in << 1.0f << out;
    QTest::newRow("gamma boost 2 saturates") << "gamma" << 32768 << 2.0f << 255;
    QTest::newRow("gamma boost 2") << "gamma" << 16 << 2.0f << 17;
    QTest::newRow("gain 2 clamps") << "gain" << 40000 << 2.0f << 65535;
    QTest::newRow("gain 2") << "gain" << 1000 << 2.0f << 2000;
    QTest::newRow("gain 0.5 truncates") << "gain" << 3 << 0.5f << 1;
    QTest::newRow("gain negative") << "gain" << 3000 << -1.0f << 0;
    QTest::newRow("tweak 0.5") << "tweak" << 16384 << 0.5f << 32768;
    QTest::newRow("tweak 2") << "tweak" << 32768 << 2.0f << 16384;
}

void TestTileGrader::toneTables()
{
    QFETCH(QString, table);
    QFETCH(int, input);
    QFETCH(float, parameter);
    QFETCH(int, expected);
    TileGrader grader;
    grader.setLinearGainBoost(unsigned(parameter));
    cv::Mat3w linear(2, 3, cv::Vec3w(0, 0, 0));
    cv::Mat out8(2, 3, CV_8UC3, cv::Scalar::all(0));
    int got = -1;
    if (table == "slog3") {
        cv::Mat in(2, 3, CV_8UC3, cv::Scalar(input, 0, input));
        grader.sLog3To16bitLinear(in, linear);
        QCOMPARE(int(linear(1, 2)[2]), int(linear(0, 0)[0]));
        got = linear(1, 2)[0];
    } else {
        linear.setTo(cv::Vec3w(0, 0, std::uint16_t(input)));
        if (table == "gamma") {
            grader.linearTo8BitGamma(linear, out8);
            got = out8.at<cv::Vec3b>(1, 2)[2];
        } else {
            table == "gain" ? grader.gainTweak(linear, parameter) : grader.gammaTweak(linear, parameter);
            got = linear(1, 2)[2];
        }
    }
    QCOMPARE(got, expected);
}

void TestTileGrader::settersFallBack()
{
    const struct
    {
        bool interpolation;
        uint value, stored;
        const char* message;
    } rows[] = {
        {true, 5, 0, "Unknown raw interpolation value 5; using 0 (bilinear)"},
        {true, 12, 12, nullptr},
        {true, 11, 11, nullptr},
        {false, 10, 3, "unknown highlight recovery mode 10, using 3 (rebuild favoring white)"},
        {false, 9, 9, nullptr},
    };
    for (const auto& row : rows) {
        testsupport::MessageCapture log;
        TileGrader grader;
        row.interpolation ? grader.setRawInterpolation(row.value) : grader.setHighlightRecovery(row.value);
        QCOMPARE(row.interpolation ? grader.rawInterpolation() : grader.highlightRecovery(), row.stored);
        QCOMPARE(log.messages().size(), row.message ? 1 : 0);
        if (row.message)
            QCOMPARE(log.messages().front(), QString::fromLatin1(row.message));
    }
}

void TestTileGrader::wallInPhoto_data()
{
    QTest::addColumn<Shot>("shot");
    QTest::addColumn<QString>("lens");
    QTest::addColumn<double>("tolerance");

    Shot plain;
    QTest::newRow("perspective, no lens") << plain << QString() << 1.0;
    Shot tilted;
    tilted.corners = {cv::Point2f(60, 75), cv::Point2f(545, 40), cv::Point2f(525, 352), cv::Point2f(72, 338)};
    tilted.noise = 2.0f;
    QTest::newRow("top edge rising to the right") << tilted << QString() << 1.0;

    Shot wide;
    wide.corners = {cv::Point2f(14, 12), cv::Point2f(588, 18), cv::Point2f(584, 388), cv::Point2f(18, 384)};
    wide.noise = 1.5f;
    wide.lensK = k050;
    QTest::newRow("analytic lens at 50 mm") << wide << QStringLiteral(":/src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg") << 1.0;
    wide.lensK = k070;
    QTest::newRow("analytic lens at 70 mm, resource path")
        << wide << QStringLiteral(":/src/lenscomp/ILCE-7C_FE_4^024-070_@070.jpg") << 1.0;

    // A 4:3 photo: the 3:2 flat field covers it and is cropped at the sides.
    Shot fourByThree = wide;
    fourByThree.size = cv::Size(640, 480);
    fourByThree.corners = {cv::Point2f(16, 14), cv::Point2f(626, 20), cv::Point2f(620, 466), cv::Point2f(20, 460)};
    fourByThree.lensK = k050;
    fourByThree.frame = cv::Rect2f(-40, 0, 720, 480);
    QTest::newRow("flat field, 4:3 photo") << fourByThree << QStringLiteral("flat_@070.png") << 1.5;
}

void TestTileGrader::wallInPhoto()
{
    QFETCH(Shot, shot);
    QFETCH(QString, lens);
    QFETCH(double, tolerance);
    const Wall wall = colouredWall();
    const QString photoPath = path(QStringLiteral("wall_%1.png").arg(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(wall, shot), photoPath));
    if (lens.endsWith(".png")) {
        lens = path(lens);
        const cv::Mat flat = testsupport::lensFalloff(cv::Size(180, 120), shot.lensK) * 255.0;
        cv::Mat flat3;
        cv::merge(std::vector<cv::Mat>{flat, flat, flat}, flat3);
        QVERIFY(testsupport::savePhoto(flat3, lens));
    }

    TileGrader grader;
    grader.setLensFile(lens);
    grader.setSections(wall.columns, wall.rows);
    grader.setSubsections(1, 1);
    QSignalSpy screenSpy(&grader, &TileGrader::screenImageUpdated);
    testsupport::MessageCapture log;
    QVERIFY(grader.loadOriginal(photoPath, QString()));
    // The flat field is fitted as a 3:2 frame covering the photo, cropped at the sides.
    QCOMPARE(log.count("cropping to rows (0 480) cols (40, 680)"), lens.endsWith(".png") ? 1 : 0);
    QVERIFY(grader.hasScreenContour());
    QCOMPARE(screenSpy.count(), 1);

    const TileGrader::Contour contour = *grader.screenContour();
    for (const cv::Point2f& corner : shot.corners)
        QVERIFY2(nearest(contour, corner) <= 3.0, qPrintable(QStringLiteral("corner %1,%2").arg(corner.x).arg(corner.y)));
    const cv::Rect expected = cv::boundingRect(std::vector<cv::Point2f>(shot.corners.begin(), shot.corners.end()));
    const cv::Mat screen = grader.screenImage();
    QCOMPARE(screen.type(), CV_32FC3);
    QCOMPARE(screen.size(), cv::boundingRect(contour).size());
    QVERIFY(std::abs(screen.cols - expected.width) <= 4 && std::abs(screen.rows - expected.height) <= 4);
    QCOMPARE(screenSpy.front().front().value<QImage>().size(), QSize(screen.cols, screen.rows));

    const QList<cv::Mat*>* averages = grader.sectionAverages();
    QCOMPARE(averages->size(), wall.columns * wall.rows);
    for (int r = 0; r < wall.rows; ++r)
        for (int c = 0; c < wall.columns; ++c) {
            const cv::Vec3f got = averages->at(r * wall.columns + c)->at<cv::Vec3f>(0, 0);
            const cv::Vec3f want = wall.colour(c, r);
            for (int ch = 0; ch < 3; ++ch)
                QVERIFY2(std::abs(got[ch] - want[ch]) <= tolerance,
                         qPrintable(QStringLiteral("module %1,%2 channel %3: %4 for %5")
                                        .arg(c).arg(r).arg(ch).arg(got[ch]).arg(want[ch])));
        }
}

void TestTileGrader::darkFrame_data()
{
    QTest::addColumn<bool>("withDark");
    QTest::addColumn<bool>("logImages");
    QTest::addColumn<float>("gain");
    QTest::addColumn<double>("expected");
    // Modules at S-Log3 code 200 over a glow of code 95 that the dark frame holds alone.
    QTest::newRow("dark subtracted, log off") << true << false << 1.0f << encode(sLog3Linear(200) - sLog3Linear(95));
    QTest::newRow("dark scaled to nothing") << true << false << 0.0f << encode(sLog3Linear(200));
    QTest::newRow("dark doubled") << true << true << 2.0f << encode(sLog3Linear(200) - 2 * sLog3Linear(95));
    QTest::newRow("no dark, log on") << false << true << 1.0f << encode(sLog3Linear(200));
    QTest::newRow("no dark, log off: codes as taken") << false << false << 0.5f << 200.0;
}

void TestTileGrader::darkFrame()
{
    QFETCH(bool, withDark);
    QFETCH(bool, logImages);
    QFETCH(float, gain);
    QFETCH(double, expected);
    Wall wall;
    wall.fill = cv::Vec3f(105, 105, 105);
    Shot shot;
    shot.ambient = cv::Vec3f(95, 95, 95);
    const QString lit = path("lit.png"), dark = path("dark.png");
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(wall, shot), lit));
    wall.fill = cv::Vec3f(0, 0, 0);
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(wall, shot), dark));

    TileGrader grader;
    grader.useLogImages(logImages);
    grader.setGainTweak(gain);
    grader.setSections(2, 2);
    QVERIFY(grader.loadOriginal(lit, withDark ? dark : QString()));
    for (const cv::Mat* section : *grader.sectionAverages())
        for (int ch = 0; ch < 3; ++ch)
            QCOMPARE(std::lround(section->at<cv::Vec3f>(0, 0)[ch]), std::lround(expected));
}

void TestTileGrader::refusals_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("dark");
    QTest::addColumn<bool>("reuse");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("previews");
    QTest::newRow("pentagon") << "pentagon.png" << QString() << false
                              << "TileGrader failed to detect rectangular display in captured image: contour has 5 points, not 4!"
                              << 1;
    QTest::newRow("blank photo") << "blank.png" << QString() << false
                                 << "TileGrader failed to detect display in captured image: no contour found!" << 0;
    QTest::newRow("reuse without an outline") << "wall.png" << QString() << true
                                              << "TileGrader failed to detect display in captured image: no contour found!" << 0;
    QTest::newRow("not an image") << "notes.png" << QString() << false
                                  << "TileGrader: unable to load or interpret image from %1." << 0;
    QTest::newRow("lower-case arw is read as an image, not raw") << "wall.arw" << "missing.png" << false
                                                                 << "            dark file does NOT exist." << 0;
    QTest::newRow("dark of another size") << "wall.png" << "small.png" << false
                                          << "TileGrader: dark image %2 is 300 x 200, the image is 600 x 400." << 0;
    QTest::newRow("text named as raw") << "notes.ARW" << QString() << false
                                       << "TileGrader: unable to load or interpret image from %1." << 0;
    QTest::newRow("8192 x 8192 photo") << "huge.png" << QString() << false
                                       << "TileGrader: %1 not decoded: it is 8192 x 8192 pixels, more than 64000000." << 0;
    QTest::newRow("8192 x 8192 JPEG, its tables before its frame") << "tables.jpg" << QString() << false
                                       << "TileGrader: %1 not decoded: it is 8192 x 8192 pixels, more than 64000000." << 0;
    QTest::newRow("10000 x 100 photo") << "wide.png" << QString() << false
                                       << "TileGrader failed to detect display in captured image: no contour found!" << 0;
    QTest::newRow("4000 x 20000 photo") << "tall.png" << QString() << false
                                        << "TileGrader: %1 not decoded: it is 4000 x 20000 pixels, more than 64000000." << 0;
    QTest::newRow("JPEG cut short") << "cut.jpg" << QString() << false
                                    << "TileGrader: %1 not decoded: the file ends before its image data does." << 0;
    QTest::newRow("dark frame cut short") << "wall.jpg" << "short.jpg" << false
                                          << "TileGrader: %2 not decoded: the file ends before its image data does." << 0;
    // Frames without a lit area that stands out from its surround.
    QTest::newRow("uniform dim frame") << "uniform.png" << QString() << false
                                       << "TileGrader failed to detect display in captured image: no contour found!" << 0;
    QTest::newRow("saturated white frame") << "white.png" << QString() << false
                                           << "TileGrader failed to detect display in captured image: no contour found!" << 0;
    QTest::newRow("lit to every edge around a dark patch")
        << "hole.png" << QString() << false
        << "TileGrader failed to detect display in captured image: no contour found!" << 0;
}

void TestTileGrader::refusals()
{
    QFETCH(QString, photo);
    QFETCH(QString, dark);
    QFETCH(bool, reuse);
    QFETCH(QString, message);
    QFETCH(int, previews);
    {
        cv::Mat pentagon(400, 600, CV_8UC3, cv::Scalar::all(0));
        const std::vector<cv::Point> corners{{300, 40}, {540, 170}, {450, 360}, {150, 360}, {60, 170}};
        cv::fillPoly(pentagon, std::vector<std::vector<cv::Point>>{corners}, cv::Scalar::all(220));
        cv::imwrite(path("pentagon.png").toStdString(), pentagon);
        cv::imwrite(path("blank.png").toStdString(), cv::Mat(400, 600, CV_8UC3, cv::Scalar::all(0)));
        cv::imwrite(path("small.png").toStdString(), cv::Mat(200, 300, CV_8UC3, cv::Scalar::all(0)));
        cv::imwrite(path("wide.png").toStdString(), cv::Mat(100, 10000, CV_8UC1, cv::Scalar::all(0)));
        cv::imwrite(path("uniform.png").toStdString(), cv::Mat(400, 600, CV_8UC3, cv::Scalar::all(2)));
        cv::imwrite(path("white.png").toStdString(), cv::Mat(400, 600, CV_8UC3, cv::Scalar::all(255)));
        cv::Mat hole(400, 600, CV_8UC3, cv::Scalar::all(200));
        hole(cv::Rect(200, 120, 200, 160)).setTo(cv::Scalar::all(10));
        cv::imwrite(path("hole.png").toStdString(), hole);
        testsupport::savePhoto(testsupport::renderPhoto(Wall(), Shot()), path("wall.png"));
        QFile::remove(path("wall.arw"));
        QFile::copy(path("wall.png"), path("wall.arw"));
        // A photo far larger than any camera's, small on disk, with a lit
        // wall that the analysis would find.
        if (!QFile::exists(path("huge.png"))) {
            cv::Mat huge(8192, 8192, CV_8UC1, cv::Scalar::all(0));
            huge(cv::Rect(2048, 2048, 4096, 3072)).setTo(cv::Scalar::all(200));
            cv::imwrite(path("huge.png").toStdString(), huge);
        }
        QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(Wall(), Shot()), path("wall.jpg")));
        const QByteArray jpeg = testsupport::readFile(path("wall.jpg"));
        // The same JPEG cut short twice: its last bytes missing (the wall
        // whole), its last third missing (as a dark frame).
        for (const auto& [name, size] : {std::pair{"cut.jpg", jpeg.size() - 64}, std::pair{"short.jpg", jpeg.size() * 2 / 3}}) {
            QFile cut(path(name));
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(jpeg.left(size));
        }
        // Headers alone: a Huffman table segment, then the frame; a PNG's IHDR.
        const std::pair<const char*, QByteArray> headers[] = {
            {"tables.jpg", QByteArray::fromHex("ffd8ffc4001f0000010501010101010100000000000000000102030405060708090a0b"
                                               "ffc00011082000200003012200021101031101ffda000c03010002110311003f00")},
            {"tall.png", QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000fa000004e200802000000")},
        };
        for (const auto& [name, bytes] : headers) {
            QFile header(path(name));
            QVERIFY(header.open(QIODevice::WriteOnly));
            header.write(bytes);
        }
        for (const char* name : {"notes.png", "notes.ARW"}) {
            QFile text(path(name));
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("just some notes\n");
        }
    }
    TileGrader grader;
    grader.setReuseScreenContour(reuse);
    QSignalSpy contoured(&grader, &TileGrader::contouredImageUpdated);
    QSignalSpy screen(&grader, &TileGrader::screenImageUpdated);
    testsupport::MessageCapture log;
    const QString darkPath = dark.isEmpty() ? QString() : path(dark);
    QVERIFY(!grader.loadOriginal(path(photo), darkPath));
    QCOMPARE(grader.isRaw(), photo.endsWith("ARW"));
    const QString expected = QString(message).replace("%1", path(photo)).replace("%2", darkPath);
    QVERIFY2(log.count(expected) == 1, qPrintable(log.messages().join('\n')));
    QCOMPARE(contoured.count(), previews);
    QCOMPARE(screen.count(), 0);
    QVERIFY(!grader.hasScreenContour());
}

void TestTileGrader::unusableLensImages_data()
{
    QTest::addColumn<QString>("lens");     // file name in the test folder
    QTest::addColumn<QByteArray>("bytes"); // null: no file; "black": a black image
    QTest::addColumn<QString>("reason");   // empty: any reader's error
    QTest::newRow("missing") << "none_@050x.png" << QByteArray() << "no such file";
    QTest::newRow("empty") << "empty_@050x.png" << QByteArray("") << "the file is empty";
    QTest::newRow("corrupt") << "corrupt_@050x.jpg" << QByteArray("\xff\xd8\xff\xe0 not quite a JPEG") << QString();
    QTest::newRow("black") << "black_@050x.png" << QByteArray("black") << "it is black";
}

// A lens image that cannot be used leaves the photo uncompensated, and the
// log names the image.
void TestTileGrader::unusableLensImages()
{
    QFETCH(QString, lens);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString lensPath = path(lens);
    QFile::remove(lensPath);
    if (bytes == "black") {
        QVERIFY(cv::imwrite(lensPath.toStdString(), cv::Mat(120, 180, CV_8UC3, cv::Scalar::all(0))));
    } else if (!bytes.isNull()) {
        QFile file(lensPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const Wall wall = colouredWall();
    const QString photoPath = path(QStringLiteral("plain.png"));
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(wall, Shot()), photoPath));

    TileGrader grader;
    grader.setLensFile(lensPath);
    grader.setSections(wall.columns, wall.rows);
    grader.setSubsections(1, 1);
    testsupport::MessageCapture log;
    QVERIFY(grader.loadOriginal(photoPath, QString()));
    const QString prefix = QStringLiteral("TileGrader: lens-compensation image %1 can't be used (").arg(lensPath);
    const QString suffix = QStringLiteral("); the photo is not compensated.");
    const QStringList lines = log.messages().filter(prefix);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().endsWith(suffix), qPrintable(lines.front()));
    if (!reason.isEmpty())
        QCOMPARE(lines.front(), prefix + reason + suffix);
    const cv::Vec3f got = grader.sectionAverages()->at(0)->at<cv::Vec3f>(0, 0);
    for (int ch = 0; ch < 3; ++ch)
        QVERIFY(std::abs(got[ch] - wall.colour(0, 0)[ch]) <= 1.0);
}

void TestTileGrader::meshLocations_data()
{
    QTest::addColumn<Wall>("wall");
    QTest::addColumn<bool>("withDot");
    QTest::addColumn<QString>("failure");
    Wall square;
    square.columns = 5;
    square.rows = 4;
    square.module = cv::Size(20, 20);
    square.gap = 10;
    QTest::newRow("square cells") << square << false << QString();
    QTest::newRow("square cells and a stray dot") << square << true << QString();
    Wall wide;
    wide.module = cv::Size(30, 20);
    wide.gap = 10; // a 40 x 30 step
    QTest::newRow("cells wider than high") << wide << false << QString();
    Wall tall;
    tall.columns = 3;
    tall.rows = 5;
    tall.module = cv::Size(16, 30);
    tall.gap = 8;
    QTest::newRow("cells higher than wide") << tall << false << QString();
    Wall ragged = square;
    ragged.columns = 8;
    ragged.rows = 3;
    ragged.colours.assign(24, ragged.fill);
    ragged.colours.back() = cv::Vec3f(0, 0, 0);
    QTest::newRow("8, 8 and 7 modules") << ragged << false
                                         << "findMeshLocations: inconsistent width! grid is 8 wide, row 2 is 7 wide";
}

void TestTileGrader::meshLocations()
{
    QFETCH(Wall, wall);
    QFETCH(bool, withDot);
    QFETCH(QString, failure);
    const int margin = 25;
    cv::Mat screen = moduleScreen(wall, margin);
    QVERIFY(!TileGrader().findMeshLocations(cv::Mat())); // before any photo was analysed
    if (withDot)
        screen.at<cv::Vec3f>(screen.rows - 3, screen.cols / 2 + 3) = cv::Vec3f(250, 250, 250);
    TileGrader grader;
    QSignalSpy preview(&grader, &TileGrader::locationsImageUpdated);
    testsupport::MessageCapture log;
    const std::optional<cv::Mat> grid = grader.findMeshLocations(screen);
    QCOMPARE(preview.count(), 1);
    if (!failure.isEmpty()) {
        QVERIFY(!grid);
        QCOMPARE(log.count(failure), 1);
        return;
    }
    QVERIFY(grid);
    QCOMPARE(grid->type(), CV_32FC2);
    QCOMPARE(grid->rows, wall.rows);
    QCOMPARE(grid->cols, wall.columns);
    for (int r = 0; r < wall.rows; ++r)
        for (int c = 0; c < wall.columns; ++c) {
            const cv::Vec2f p = grid->at<cv::Vec2f>(r, c);
            const cv::Point2f want = wall.centre(c, r) + cv::Point2f(margin, margin);
            QVERIFY2(cv::norm(cv::Point2f(p[0], p[1]) - want) <= 1.0,
                     qPrintable(QStringLiteral("cell %1,%2 at %3,%4").arg(c).arg(r).arg(p[0]).arg(p[1])));
        }
}

void TestTileGrader::sectionWindows()
{
    TileGrader grader;
    // 4 x 2 sections of 2 x 4 subsections on 1000 x 500: the first window is
    // rows 16..46 and columns 31..93. Channels: row, column, row².
    cv::Mat3f screen(500, 1000);
    for (int y = 0; y < screen.rows; ++y)
        for (int x = 0; x < screen.cols; ++x)
            screen(y, x) = cv::Vec3f(float(y), float(x), float(y * y));
    QSignalSpy sampled(&grader, &TileGrader::sampledImageUpdated);
    const QList<cv::Mat*> list = grader.sectionAvgList(screen, cv::Size(4, 2), cv::Size(2, 4));
    QCOMPARE(list.size(), 8);
    QCOMPARE(list.front()->rows, 4);
    QCOMPARE(list.front()->cols, 2);
    double rowSquares = 0;
    for (int y = 16; y <= 46; ++y)
        rowSquares += y * y;
    const cv::Vec3f first = list.front()->at<cv::Vec3f>(0, 0);
    QCOMPARE(first[0], 31.0f);
    QCOMPARE(first[1], 62.0f);
    QVERIFY(std::abs(first[2] - rowSquares / 31) < 1e-3 * rowSquares / 31);
    // The last row of the screen is never sampled; the preview halves what was.
    const QImage preview = sampled.front().front().value<QImage>();
    QCOMPARE(qRed(preview.pixel(31, 16)), 128);
    QCOMPARE(qBlue(preview.pixel(31, 16)), 8);
    QCOMPARE(qBlue(preview.pixel(31, 499)), 255);
    qDeleteAll(list);

    // Averages keep every pixel's fraction, also over a large window.
    cv::Mat3f grey(1600, 1600, cv::Vec3f(123.4f, 77.25f, 0.5f));
    const QList<cv::Mat*> one = grader.sectionAvgList(grey, cv::Size(0, 0), cv::Size(0, 0));
    QCOMPARE(one.size(), 1);
    const cv::Vec3f mean = one.front()->at<cv::Vec3f>(0, 0);
    QVERIFY2(std::abs(mean[0] - 123.4f) < 1e-3f && std::abs(mean[1] - 77.25f) < 1e-3f && std::abs(mean[2] - 0.5f) < 1e-4f,
             qPrintable(QStringLiteral("%1 %2 %3").arg(mean[0]).arg(mean[1]).arg(mean[2])));
    qDeleteAll(one);
}

void TestTileGrader::meshWindows_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("meshUsed");
    QTest::newRow("3 x 2 grid") << 3 << 2 << true;
    QTest::newRow("one row") << 4 << 1 << true;
    QTest::newRow("one column") << 1 << 3 << true;
    QTest::newRow("one module") << 1 << 1 << false;
}

void TestTileGrader::meshWindows()
{
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(bool, meshUsed);
    // Blocks of 60 x 60 at a 100-pixel pitch, shifted 20 pixels right and
    // down from where regular windows would look.
    cv::Mat3f screen(rows * 100, columns * 100, cv::Vec3f(0, 0, 0));
    cv::Mat grid(rows, columns, CV_32FC2);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const float v = float(40 + 30 * (r * columns + c));
            screen(cv::Rect(c * 100 + 40, r * 100 + 40, 60, 60)).setTo(cv::Vec3f(v, v + 1, v + 2));
            grid.at<cv::Vec2f>(r, c) = cv::Vec2f(float(c * 100 + 70), float(r * 100 + 70));
        }
    TileGrader grader;
    grader.setMeshLocations(grid);
    QVERIFY(grader.hasMeshLocations());
    const QList<cv::Mat*> list = grader.sectionAvgList(screen, cv::Size(columns, rows), cv::Size(1, 1));
    QCOMPARE(list.size(), rows * columns);
    for (int i = 0; i < list.size(); ++i) {
        const float v = float(40 + 30 * i);
        const cv::Vec3f got = list[i]->at<cv::Vec3f>(0, 0);
        if (meshUsed)
            QCOMPARE(got, cv::Vec3f(v, v + 1, v + 2));
        else // the regular window (25..74 both ways) catches only part of the block
            QVERIFY(got[0] > 0 && got[0] < v - 1);
    }
    qDeleteAll(list);
}

void TestTileGrader::averagesCache()
{
    const QString photo = path("cache.png");
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(colouredWall(), Shot()), photo));
    TileGrader grader;
    grader.setSections(6, 4);
    QVERIFY(grader.loadOriginal(photo, QString()));
    QSignalSpy sampled(&grader, &TileGrader::sampledImageUpdated);
    QList<cv::Mat*>* first = grader.sectionAverages();
    const QList<cv::Mat*> images = *first;
    QCOMPARE(grader.sectionAverages(), first);
    QCOMPARE(*grader.sectionAverages(), images);
    QCOMPARE(sampled.count(), 1);
    grader.setSections(6, 4); // unchanged: still fresh
    QCOMPARE(*grader.sectionAverages(), images);
    grader.setSubsections(2, 1);
    QCOMPARE(grader.sectionAverages()->front()->cols, 2);
    QCOMPARE(sampled.count(), 2);
    QVERIFY(grader.loadOriginal(photo, QString()));
    grader.sectionAverages();
    QCOMPARE(sampled.count(), 3);
}

void TestTileGrader::previews_data()
{
    QTest::addColumn<Shot>("shot");
    QTest::addColumn<QString>("file");
    QTest::newRow("600 x 400") << Shot() << "plain.png";
    Shot wide;
    wide.size = cv::Size(3000, 300);
    wide.corners = {cv::Point2f(100, 20), cv::Point2f(2900, 30), cv::Point2f(2890, 280), cv::Point2f(110, 270)};
    wide.supersample = 1;
    QTest::newRow("3000 x 300") << wide << "wide.png";
    QTest::newRow("JPEG with its tables before the frame") << Shot() << "tables.jpg";
}

void TestTileGrader::previews()
{
    QFETCH(Shot, shot);
    QFETCH(QString, file);
    const QString photoPath = path(file);
    QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(colouredWall(), shot), photoPath));
    if (file.endsWith(".jpg"))
        QVERIFY(tablesBeforeFrame(photoPath));
    TileGrader grader;
    grader.setSections(6, 4);
    grader.setSubsections(2, 2);
    QSignalSpy contoured(&grader, &TileGrader::contouredImageUpdated);
    QSignalSpy screened(&grader, &TileGrader::screenImageUpdated);
    QSignalSpy sampled(&grader, &TileGrader::sampledImageUpdated);
    QVERIFY(grader.loadOriginal(photoPath, QString()));
    grader.sectionAverages();
    QCOMPARE(contoured.count() + screened.count() + sampled.count(), 3);

    // Each preview as drawn on a float copy and converted at the end.
    cv::Mat photo;
    cv::imread(QFile::encodeName(photoPath).toStdString(), cv::IMREAD_COLOR).convertTo(photo, CV_32FC3);
    cv::drawContours(photo, std::vector<TileGrader::Contour>{*grader.screenContour()}, -1, cv::Scalar(0, 255, 0), 15, 8);
    QVERIFY(sameAs(contoured.front().front().value<QImage>(), photo));
    const cv::Mat screen = grader.screenImage();
    QVERIFY(sameAs(screened.front().front().value<QImage>(), screen));
    cv::Mat halved = screen.clone();
    const float secW = float(screen.cols) / 6.0f, secH = float(screen.rows) / 4.0f;
    const float subW = secW / 2.0f, subH = secH / 2.0f;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 6; ++sx)
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) {
                    const float y0 = float(sy) * secH, x0 = float(sx) * secW;
                    const int top = std::lround(float(j) * subH + y0 + 0.25f * subH);
                    const int bottom = std::min<long>(std::lround(float(j + 1) * subH + y0 - 0.25f * subH), screen.rows - 1);
                    const int left = std::lround(float(i) * subW + x0 + 0.25f * subW);
                    const int right = std::min<long>(std::lround(float(i + 1) * subW + x0 - 0.25f * subW), screen.cols - 1);
                    if (bottom > top && right > left)
                        halved(cv::Range(top, bottom), cv::Range(left, right)) *= 0.5;
                }
    QVERIFY(sameAs(sampled.front().front().value<QImage>(), halved));
}

void TestTileGrader::rawDecoding()
{
    testsupport::MessageCapture log;
    // Refusals first: a file over the size cap never reaches the decoder.
    const QString huge = path("huge.ARW");
    {
        QFile f(huge);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(rawdecoder::maxFileBytes + 1)); // sparse
    }
    QVERIFY(rawdecoder::rawImage(QFile::encodeName(huge), 0, 0, false).empty());
    QCOMPARE(log.count(QStringLiteral("rawImageLoader: %1 is %2 bytes").arg(huge).arg(rawdecoder::maxFileBytes + 1), true), 1);
    QFile::remove(huge);

    // LibRaw's own text for what it cannot open.
    const QString text = path("text.ARW");
    {
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    QVERIFY(rawdecoder::rawImage(QFile::encodeName(text), 0, 0, false).empty());
    QCOMPARE(log.count(QStringLiteral("rawImageLoader: Cannot open %1: ").arg(text), true), 1);

    // Memory images other than three 16-bit colours are refused.
    std::vector<unsigned char> buffer(sizeof(libraw_processed_image_t) + 64);
    auto* mono = reinterpret_cast<libraw_processed_image_t*>(buffer.data());
    *mono = {LIBRAW_IMAGE_BITMAP, 2, 2, 1, 16, 8, {0}};
    QVERIFY(rawdecoder::fromMemImage(*mono, "mono").empty());
    QCOMPARE(log.count("rawImageLoader: mono decodes to 1 channels of 16 bits, not 3 of 16; refused"), 1);
    *mono = {LIBRAW_IMAGE_BITMAP, 1, 2, 3, 16, 12, {0}};
    const std::uint16_t rgb[6] = {1, 2, 3, 40000, 50000, 60000};
    std::memcpy(mono->data, rgb, sizeof rgb);
    const cv::Mat colour = rawdecoder::fromMemImage(*mono, "colour");
    QCOMPARE(colour.type(), CV_16UC3);
    QCOMPARE(colour.at<cv::Vec3w>(0, 1), cv::Vec3w(60000, 50000, 40000));
    mono->data_size = 11; // short of its own size
    QVERIFY(rawdecoder::fromMemImage(*mono, "short").empty());
    QCOMPARE(log.count("rawImageLoader: short decodes to 11 bytes, short of 2 x 1 pixels; refused"), 1);

    if (!QFile::exists(realRaw))
        QSKIP("no camera raw file installed (Debian package rawtran-doc)");
    const QString arw = path("IMG_5952.ARW");
    QVERIFY(QFile::copy(realRaw, arw));
    const cv::Mat decoded = rawdecoder::rawImage(QFile::encodeName(arw), 0, 0, true);
    QCOMPARE(decoded.type(), CV_16UC3);
    QVERIFY(decoded.cols > 1000 && decoded.rows > 1000);
    QVERIFY(cv::mean(decoded)[1] > 0);
    QCOMPARE(log.count(QStringLiteral("Successfully processed %1").arg(arw)), 1);
    {
        // The pixels of LibRaw's own memory image of the file, red and blue swapped.
        LibRaw own(0);
        rawdecoder::applyParameters(own, 0, 0);
        QCOMPARE(own.open_file(QFile::encodeName(arw)), LIBRAW_SUCCESS);
        QCOMPARE(own.unpack(), LIBRAW_SUCCESS);
        QCOMPARE(own.dcraw_process(), LIBRAW_SUCCESS);
        libraw_processed_image_t* image = own.dcraw_make_mem_image();
        QVERIFY(image);
        const cv::Mat theirs = rawdecoder::fromMemImage(*image, "own");
        LibRaw::dcraw_clear_mem(image);
        QCOMPARE(cv::norm(decoded, theirs, cv::NORM_INF), 0.0);
    }

    // Damaged copies: cut short, and with a stretch of the image data zeroed.
    const QByteArray bytes = testsupport::readFile(arw);
    const struct
    {
        QByteArray content;
        const char* name;
        const char* message;
    } damaged[] = {
        {bytes.left(bytes.size() * 2 / 3), "cut.ARW", "rawImageLoader: Cannot unpack %1"},
        {bytes.left(bytes.size() - 1000), "end.ARW", "rawImageLoader: Cannot unpack %1"},
        {QByteArray(bytes).replace(bytes.size() / 3, 200000, QByteArray(200000, '\0')), "zeroed.ARW",
         "rawImageLoader: %1 is truncated or corrupt"},
    };
    for (const auto& copy : damaged) {
        const QString name = path(copy.name);
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(copy.content);
        f.close();
        log.clear();
        TileGrader grader;
        QVERIFY(!grader.loadOriginal(name, QString()));
        QVERIFY(grader.isRaw());
        QVERIFY2(log.count(QString::fromLatin1(copy.message).arg(name), true) == 1, copy.name);
        QCOMPARE(log.count(QStringLiteral("TileGrader: unable to load or interpret image from %1.").arg(name)), 1);
    }

    // The decoder is reusable after a failure.
    QCOMPARE(rawdecoder::rawImage(QFile::encodeName(arw), 0, 1, false).size(), decoded.size());
}

VELTRANO_TEST_MAIN(TestTileGrader)
#include "tst_tilegrader.moc"
