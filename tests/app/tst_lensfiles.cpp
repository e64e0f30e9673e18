// Lens lists for a camera against the images built into the program: which
// lenses and images are offered, in what order, under which names, and which
// saved choices come back.
#include "polledcontext.h"
#include "testsupport.h"
#include "veltranor.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {

struct Entry {
    int number;
    QString name;
    QString type;
    bool operator==(const Entry&) const = default;
};

// The entries after the list's leading "none".
QList<Entry> entries(OptionList* list)
{
    QList<Entry> result;
    for (qsizetype i = 1; i < list->count(); ++i)
        result.append({list->option(i)->number(), list->option(i)->name(), list->option(i)->type()});
    return result;
}

QString image(const QString& name)
{
    return QStringLiteral(":src/lenscomp/") + name;
}

} // namespace

class TestLensFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::PolledContext> net_;
    std::unique_ptr<Veltranor> make() { return std::make_unique<Veltranor>(net_->io()); }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<testsupport::PolledContext>();
    }
    void init() { QSettings().clear(); }
    void cleanupTestCase() { net_.reset(); }

    void displayNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lens key") << "FE_4^024-105" << "FE 4/24-105";
        QTest::newRow("range") << "@070~105.jpg" << "@70~105mm";
        QTest::newRow("image size") << "@035_[1200x800].jpg" << "@35mm [1200x800]";
        QTest::newRow("three zeros at most") << "@0007.jpg" << "@7mm";
        QTest::newRow("ending only past 0") << ".jpg" << ".jpg";
        QTest::newRow("no focal part") << "A_B.jpeg" << "A B";
    }
    void displayNames()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Veltranor::lensNameForFile(text);
        QCOMPARE(text, expected);
    }

    void listsForACamera()
    {
        auto v = make();
        QSignalSpy names(v.get(), &Veltranor::lensNameListChanged);
        v->setCameraName(QStringLiteral("ILCE-7C"));
        QCOMPARE(names.count(), 1);
        QCOMPARE(v->lensNameList()->option(0)->number(), -1); // the list's own "none"
        const QList<Entry> lenses{{1, "FE 4/24-70", "FE_4^024-070"}, {1, "FE 4/24-105", "FE_4^024-105"}};
        QCOMPARE(entries(v->lensNameList()), lenses);
        QCOMPARE(entries(v->lensFileList()).size(), 0); // no lens chosen yet
        QCOMPARE(v->lensFile(), QString());

        // Choosing a lens lists its images by name without regard to case,
        // numbered by their place in the whole folder.
        v->setLensName(QStringLiteral("FE_4^024-070"));
        v->getLensFiles();
        const QStringList files{"ILCE-7C_FE_4^024-070_@024.jpg",          "ILCE-7C_FE_4^024-070_@024~35.jpg",
                                "ILCE-7C_FE_4^024-070_@035.jpg",          "ILCE-7C_FE_4^024-070_@035_[1200x800].jpg",
                                "ILCE-7C_FE_4^024-070_@035~50.jpg",       "ILCE-7C_FE_4^024-070_@050.jpg",
                                "ILCE-7C_FE_4^024-070_@050~70.jpg",       "ILCE-7C_FE_4^024-070_@070.jpg"};
        const QStringList shown{"@24mm", "@24~35mm", "@35mm", "@35mm [1200x800]",
                                "@35~50mm", "@50mm", "@50~70mm", "@70mm"};
        QList<Entry> expected;
        for (int i = 0; i < files.size(); ++i)
            expected.append({i, shown.at(i), image(files.at(i))});
        QCOMPARE(entries(v->lensFileList()), expected);

        // The other camera's images come after this camera's in the listing.
        v->setCameraName(QStringLiteral("ILCE-7SM3"));
        QCOMPARE(entries(v->lensFileList()).first().number, 17);
    }

    void savedChoicesComeBack()
    {
        const QString file = image("ILCE-7C_FE_4^024-105_@070~105.jpg");
        QSettings().setValue("lensName", "FE_4^024-105");
        QSettings().setValue("lensFile", file);
        auto v = make();
        QSignalSpy applied(v.get(), &Veltranor::lensFileChanged);

        // Same camera and lens: both come back.
        v->setCameraName(QStringLiteral("ILCE-7C"));
        QCOMPARE(v->lensName(), QStringLiteral("FE_4^024-105"));
        QCOMPARE(v->lensFile(), file);
        QCOMPARE(applied.last().first().toString(), file);
        QCOMPARE(entries(v->lensFileList()).size(), 9);

        // A camera without images: empty lists, no image in use, the lens
        // name kept for when the camera comes back.
        v->setCameraName(QStringLiteral("ILCE-9"));
        QCOMPARE(v->lensNameList()->count(), 1);
        QCOMPARE(v->lensFileList()->count(), 1);
        QCOMPARE(v->lensFile(), QString());
        QCOMPARE(v->lensName(), QStringLiteral("FE_4^024-105"));

        // No camera: nothing listed, the image in use stays.
        v->setCameraName(QStringLiteral("ILCE-7C"));
        v->setLensFile(file);
        v->setCameraName(QString());
        QCOMPARE(v->lensNameList()->count(), 1);
        QCOMPARE(v->lensFile(), file);
    }
};

VELTRANO_TEST_MAIN(TestLensFiles)
#include "tst_lensfiles.moc"
