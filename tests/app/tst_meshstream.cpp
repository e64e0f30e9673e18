#include "testsupport.h"

#include "glowkit/tesscalfile.h"

#include <QByteArray>

#include <sstream>

// The program's one call into the shared library: a correction mesh written
// into a memory buffer, whose bytes are then uploaded unchanged.
class TestMeshStream : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void programMeshSerialisesThroughTheLibrary()
    {
        const int nx = 4, ny = 3;
        TessCalFile::Mesh mesh;
        mesh.name = "Veltrano continuous";
        for (int plane = 0; plane < 3; ++plane) {
            std::vector<std::vector<float>> rows(ny + 2, std::vector<float>(nx + 2, 1.0f));
            rows[1][2] = 0.5f + 0.375f * float(plane); // 0.5, 0.875, 1.25
            mesh.planes.push_back(rows);
        }
        mesh.geometry = {0.5f, 0.5f, float(nx), float(ny)};
        mesh.value = 1.0f;

        std::ostringstream out;
        TessCalFile::Handler().writeStream(mesh, out);
        QVERIFY(out.good());
        const QByteArray body = QByteArray::fromStdString(out.str());
        // Header, set marker, one mesh record of 3 x 6 x 5 16-bit gains, CRC.
        QVERIFY(body.size() > 3 * (nx + 2) * (ny + 2) * 2);

        std::istringstream in(out.str());
        const TessCalFile::Mesh back = TessCalFile::Handler().readStreamMesh(in);
        QCOMPARE(back.name, mesh.name);
        QCOMPARE(back.planes.size(), size_t(3));
        // A cell whose gain differs per plane: each plane comes back in its place.
        for (size_t plane = 0; plane < 3; ++plane)
            QCOMPARE(back.planes[plane][1][2], mesh.planes[plane][1][2]);
        QCOMPARE(back.planes[0][0][0], 1.0f);
        QCOMPARE(back.geometry[2], float(nx));
    }

    void refusedMeshIsVisibleToTheCaller()
    {
        TessCalFile::Mesh mesh;
        mesh.name = "Veltrano continuous";
        mesh.planes = {{{1.0f, std::numeric_limits<float>::quiet_NaN()}}};
        std::ostringstream out;
        TessCalFile::Handler().writeStream(mesh, out);
        QVERIFY(out.fail());
        QVERIFY(out.str().empty());
    }
};

VELTRANO_TEST_MAIN(TestMeshStream)

#include "tst_meshstream.moc"
