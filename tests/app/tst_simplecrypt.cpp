#include "testsupport.h"

#include "simplecrypt.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>

// The password scrambler against an independent Python reference of the stored
// format (tests/app/simplecrypt_reference.py): fixed vectors made with it, and
// live round trips through it in both directions.

namespace {

constexpr quint64 kKey = 0x0F3B71C5E29D4A68ULL;
const char* const kKeyText = "0x0F3B71C5E29D4A68";

QString referenceScript()
{
    return QStringLiteral(VELTRANO_SOURCE_DIR "/tests/app/simplecrypt_reference.py");
}

QString hexOrDash(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(bytes.toHex());
}

// The random byte is the first body byte, scrambled with key byte 0 only.
int randomByteOf(const QByteArray& cypher, quint64 key)
{
    return quint8(cypher.at(2)) ^ int(key & 0xFF);
}

// Flips bits of one body byte of a Base64 text.
QString tampered(const QString& text, int position, char mask)
{
    QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    bytes[position] = char(bytes.at(position) ^ mask);
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT

    QString python_;

    QString reference(const QStringList& args)
    {
        QProcess process;
        process.start(python_, QStringList {referenceScript()} + args);
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            qWarning() << "reference failed:" << args << process.readAllStandardError();
            return QString();
        }
        return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        python_ = QStandardPaths::findExecutable(QStringLiteral("python3"));
    }

    // Vectors produced by the reference, pasted here: the stored format must
    // keep reading them.
    void decryptsReferenceVectors_data()
    {
        QTest::addColumn<quint64>("key");
        QTest::addColumn<QString>("cypher");
        QTest::addColumn<QByteArray>("plain");

        QTest::newRow("checksum") << kKey << "AwIyZuh52cuC6PQ=" << QByteArray("secret");
        QTest::newRow("empty") << kKey << "AwJoIr8=" << QByteArray();
        QTest::newRow("key 0, utf-8") << quint64(0) << "AwIRtDNjoAR3BHOwBnQA4mDM"
                                      << QString::fromUtf8("Pässwört€").toUtf8();
        QTest::newRow("compressed")
            << kKey << "AwOrYDjaH279ijhZDac3bhrZeGM2+GtSQ4aiJ5IhrBFhPx94roEXTmwnPXdWfYNn"
            << QByteArray("the wall is bright and even ").repeated(6);
        QTest::newRow("sha-1") << kKey << "AwQWH3urigzxEqvX7JvpmCW+bU4G84uSyLS03i6p"
                               << QByteArray("hash me");
        QTest::newRow("compressed empty") << kKey << "AwMqnN89+Imy" << QByteArray();
    }

    void decryptsReferenceVectors()
    {
        QFETCH(quint64, key);
        QFETCH(QString, cypher);
        QFETCH(QByteArray, plain);

        SimpleCrypt crypt(key);
        QCOMPARE(crypt.decryptToByteArray(cypher), plain);
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
        QCOMPARE(crypt.decryptToString(cypher), QString::fromUtf8(plain));
        // The byte form is the cyphertext itself, not its Base64 text.
        QCOMPARE(crypt.decryptToString(QByteArray::fromBase64(cypher.toLatin1())),
                 QString::fromUtf8(plain));
    }

    // Byte-for-byte agreement with the reference, given the same random byte,
    // and each side reads what the other writes.
    void matchesReference_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("integrity");
        QTest::addColumn<QByteArray>("plain");

        const QByteArray longText = QByteArray("LED wall calibration, row after row. ").repeated(8);
        QTest::newRow("auto/checksum short") << 0 << 1 << QByteArray("lit");
        QTest::newRow("auto/checksum empty") << 0 << 1 << QByteArray();
        QTest::newRow("auto/checksum long") << 0 << 1 << longText;
        QTest::newRow("auto/checksum utf-8") << 0 << 1 << QString::fromUtf8("Grüße – ’quoted’").toUtf8();
        QTest::newRow("always/checksum") << 1 << 1 << QByteArray("admin");
        QTest::newRow("always/checksum empty") << 1 << 1 << QByteArray();
        QTest::newRow("never/hash long") << 2 << 2 << longText;
        QTest::newRow("auto/none") << 0 << 0 << QByteArray("0123456789abcdef0123");
        QTest::newRow("always/hash") << 1 << 2 << longText;
    }

    void matchesReference()
    {
        if (python_.isEmpty())
            QSKIP("python3 is not installed");
        QFETCH(int, compression);
        QFETCH(int, integrity);
        QFETCH(QByteArray, plain);

        SimpleCrypt crypt(kKey);
        crypt.setCompressionMode(SimpleCrypt::CompressionMode(compression));
        crypt.setIntegrityProtectionMode(SimpleCrypt::IntegrityProtectionMode(integrity));
        const QString text = crypt.encryptToString(plain);
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
        const QByteArray bytes = QByteArray::fromBase64(text.toLatin1());

        const QString again =
            reference({QStringLiteral("encrypt"), QString::fromLatin1(kKeyText),
                       QString::number(randomByteOf(bytes, kKey)), QString::number(compression),
                       QString::number(integrity), hexOrDash(plain)});
        QCOMPARE(again, text);

        QCOMPARE(reference({QStringLiteral("decrypt"), QString::fromLatin1(kKeyText), text}),
                 QStringLiteral("ok ") + hexOrDash(plain));

        // And back: the reference scrambles with a random byte of its own.
        const QString theirs =
            reference({QStringLiteral("encrypt"), QString::fromLatin1(kKeyText),
                       QStringLiteral("0xA5"), QString::number(compression),
                       QString::number(integrity), hexOrDash(plain)});
        QCOMPARE(SimpleCrypt(kKey).decryptToByteArray(theirs), plain);
    }

    void layoutAndCompressionRule()
    {
        SimpleCrypt crypt(kKey);

        // Empty text: version, flags (checksum only), random byte, 2 checksum bytes.
        const QByteArray empty = crypt.encryptToByteArray(QString());
        QCOMPARE(empty.size(), 5);
        QCOMPARE(int(empty.at(0)), 3);
        QCOMPARE(int(empty.at(1)), SimpleCrypt::CryptoFlagChecksum);
        QCOMPARE(crypt.encryptToString(QString()).size(), 8);

        // Short texts never compress: qCompress adds a 4-byte size and zlib framing.
        const QByteArray shortOne = crypt.encryptToByteArray(QStringLiteral("password1"));
        QCOMPARE(int(shortOne.at(1)), SimpleCrypt::CryptoFlagChecksum);
        QCOMPARE(shortOne.size(), 2 + 1 + 2 + 9);

        // At break-even the plain form is kept: compressed must be strictly shorter.
        // A run of 'a' ahead of fixed noise moves the compressed size one byte
        // at a time past the plain size.
        QByteArray noise;
        QRandomGenerator noiseSource(7);
        for (int i = 0; i < 40; ++i)
            noise.append(char(noiseSource.generate()));
        bool evenSeen = false, shorterSeen = false;
        for (int run = 0; run < 80; ++run) {
            const QByteArray data = QByteArray(run, 'a') + noise;
            const qsizetype margin = qCompress(data, 9).size() - data.size();
            if (margin != 0 && margin != -1)
                continue;
            (margin == 0 ? evenSeen : shorterSeen) = true;
            const QByteArray cypher = crypt.encryptToByteArray(data);
            const int compressed = margin < 0 ? int(SimpleCrypt::CryptoFlagCompression) : 0;
            QCOMPARE(int(cypher.at(1)), int(SimpleCrypt::CryptoFlagChecksum) | compressed);
            QCOMPARE(cypher.size(), 2 + 1 + 2 + data.size() + std::min<qsizetype>(margin, 0));
            QCOMPARE(crypt.decryptToByteArray(cypher), data);
        }
        QVERIFY(evenSeen && shorterSeen);

        // A long repetitive text is kept compressed.
        const QByteArray longOne = crypt.encryptToByteArray(QString(QStringLiteral("ab")).repeated(100));
        QCOMPARE(int(longOne.at(1)), SimpleCrypt::CryptoFlagCompression | SimpleCrypt::CryptoFlagChecksum);
        QVERIFY(longOne.size() < 200);

        // Every scrambling draws a new random byte; all of them unscramble.
        QSet<QString> texts;
        for (int i = 0; i < 8; ++i) {
            const QString text = crypt.encryptToString(QStringLiteral("same secret"));
            QCOMPARE(crypt.decryptToString(text), QStringLiteral("same secret"));
            texts.insert(text);
        }
        QVERIFY(texts.size() > 1);
    }

    void keyHandling()
    {
        // A key of 0 is a key: the chain then depends on the data alone.
        SimpleCrypt zero(0);
        const QString text = zero.encryptToString(QStringLiteral("x"));
        QCOMPARE(zero.lastError(), SimpleCrypt::ErrorNoError);
        QCOMPARE(zero.decryptToString(text), QStringLiteral("x"));

        // setKey replaces the key bytes; the old key no longer reads.
        SimpleCrypt crypt(kKey);
        const QString secret = crypt.encryptToString(QStringLiteral("secret"));
        crypt.setKey(kKey ^ 0x0100000000000000ULL);
        QVERIFY(crypt.decryptToString(secret).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
        crypt.setKey(kKey);
        QCOMPARE(crypt.decryptToString(secret), QStringLiteral("secret"));

        // Wrong key on a fixed vector.
        SimpleCrypt wrong(0x1122334455667788ULL);
        QVERIFY(wrong.decryptToByteArray(QStringLiteral("AwIyZuh52cuC6PQ=")).isEmpty());
        QCOMPARE(wrong.lastError(), SimpleCrypt::ErrorIntegrityFailed);
    }

    void errors()
    {
        // No key: both directions refuse with error 1.
        SimpleCrypt none;
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(none.encryptToByteArray(QStringLiteral("x")).isEmpty());
        QCOMPARE(none.lastError(), SimpleCrypt::ErrorNoKeySet);
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(none.decryptToString(QStringLiteral("AwIyZuh52cuC6PQ=")).isEmpty());
        QCOMPARE(none.lastError(), SimpleCrypt::ErrorNoKeySet);

        SimpleCrypt crypt(kKey);
        // Wrong version.
        QByteArray cypher = QByteArray::fromBase64("AwIyZuh52cuC6PQ=");
        cypher[0] = 2;
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QVERIFY(crypt.decryptToByteArray(cypher).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorUnknownVersion);

        // Too short to be a cyphertext: error 2 even after a success.
        for (const QByteArray& tiny : {QByteArray(), QByteArray("\x03"), QByteArray("\x03\x02")}) {
            QCOMPARE(crypt.decryptToString(QStringLiteral("AwIyZuh52cuC6PQ=")), QStringLiteral("secret"));
            QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
            QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
            QVERIFY(crypt.decryptToByteArray(tiny).isEmpty());
            QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorUnknownVersion);
        }
        // A stored text that is not Base64 of a cyphertext at all.
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QVERIFY(crypt.decryptToString(QStringLiteral("not scrambled")).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorUnknownVersion);
    }

    void tamperingIsDetected()
    {
        SimpleCrypt crypt(kKey);
        const QStringList texts {
            QStringLiteral("AwIyZuh52cuC6PQ="),                                            // checksum
            QStringLiteral("AwOrYDjaH279ijhZDac3bhrZeGM2+GtSQ4aiJ5IhrBFhPx94roEXTmwnPXdWfYNn"), // compressed
            QStringLiteral("AwQWH3urigzxEqvX7JvpmCW+bU4G84uSyLS03i6p"),                    // SHA-1
        };
        for (const QString& text : texts) {
            const int size = int(QByteArray::fromBase64(text.toLatin1()).size());
            for (int p = 2; p < size; ++p) {
                for (char mask : {char(0x01), char(0x80), char(0xFF)}) {
                    QVERIFY(crypt.decryptToByteArray(tampered(text, p, mask)).isEmpty());
                    QVERIFY2(crypt.lastError() == SimpleCrypt::ErrorIntegrityFailed,
                             qPrintable(QStringLiteral("%1 byte %2").arg(text).arg(p)));
                }
            }
        }
        // Cut short: the checksum no longer fits or no longer matches.
        QByteArray cut = QByteArray::fromBase64("AwIyZuh52cuC6PQ=").left(4);
        QVERIFY(crypt.decryptToByteArray(cut).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
    }

    // Cyphertexts that the program never writes but may find in a settings file.
    void unusualFlags()
    {
        if (python_.isEmpty())
            QSKIP("python3 is not installed");
        SimpleCrypt crypt(kKey);
        const QString key = QString::fromLatin1(kKeyText);

        // Both integrity flags: only the checksum is looked at.
        const QString both = reference({QStringLiteral("raw"), key, QStringLiteral("7"),
                                        QStringLiteral("0x06"), QByteArray("pw").toHex()});
        QCOMPARE(crypt.decryptToByteArray(both), QByteArray("pw"));
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);

        // No integrity value at all.
        const QString bare = reference({QStringLiteral("raw"), key, QStringLiteral("7"),
                                        QStringLiteral("0x00"), QByteArray("pw").toHex()});
        QCOMPARE(crypt.decryptToByteArray(bare), QByteArray("pw"));

        // Flagged compressed with a checksum that holds, but the payload does not
        // decompress: a failure, not an empty secret.
        const QString corrupt =
            reference({QStringLiteral("raw"), key, QStringLiteral("7"), QStringLiteral("0x03"),
                       QByteArray("\x00\x00\x00\x10garbage-not-zlib", 20).toHex()});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^qUncompress")));
        QVERIFY(crypt.decryptToByteArray(corrupt).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
        // The same without any integrity value.
        const QString corruptBare =
            reference({QStringLiteral("raw"), key, QStringLiteral("7"), QStringLiteral("0x01"),
                       QByteArray("junk").toHex()});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^qUncompress")));
        QVERIFY(crypt.decryptToByteArray(corruptBare).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
    }
};

VELTRANO_TEST_MAIN(TestSimpleCrypt)
#include "tst_simplecrypt.moc"
