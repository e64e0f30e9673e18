#include "simplecrypt.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>

namespace {

constexpr char kVersion = 3;

// The generator only makes the one random byte of each cyphertext.
quint32 timeSeed_()
{
    return quint32(QDateTime::currentMSecsSinceEpoch() & 0xFFFF);
}

// qCompress puts the uncompressed size in front, big-endian, and compresses
// nothing into that size alone: four zero bytes.
bool isCompressedEmpty_(const QByteArray& compressed)
{
    return compressed == QByteArray(4, '\0');
}

} // namespace

SimpleCrypt::SimpleCrypt()
    : rand_(timeSeed_())
{
}

SimpleCrypt::SimpleCrypt(quint64 key)
    : key_(key)
    , rand_(timeSeed_())
{
    splitKey();
}

void SimpleCrypt::setKey(quint64 key)
{
    key_ = key;
    splitKey();
}

void SimpleCrypt::splitKey()
{
    keyParts_.clear();
    keyParts_.resize(8);
    for (int i = 0; i < 8; ++i)
        keyParts_[i] = char((key_ >> (8 * i)) & 0xFF);
}

QByteArray SimpleCrypt::encryptToByteArray(const QString& plaintext)
{
    return encryptToByteArray(plaintext.toUtf8());
}

QByteArray SimpleCrypt::encryptToByteArray(QByteArray plaintext)
{
    if (keyParts_.isEmpty()) {
        qWarning("No key set.");
        lastError_ = ErrorNoKeySet;
        return QByteArray();
    }

    QByteArray payload = plaintext;
    char flags = CryptoFlagNone;
    if (compressionMode_ == CompressionAlways) {
        payload = qCompress(payload, 9);
        flags |= CryptoFlagCompression;
    } else if (compressionMode_ == CompressionAuto) {
        QByteArray compressed = qCompress(payload, 9);
        if (compressed.size() < payload.size()) {
            payload = compressed;
            flags |= CryptoFlagCompression;
        }
    }

    QByteArray integrity;
    if (protectionMode_ == ProtectionChecksum) {
        flags |= CryptoFlagChecksum;
        const quint16 sum = qChecksum(payload);
        integrity.append(char(sum >> 8));
        integrity.append(char(sum & 0xFF));
    } else if (protectionMode_ == ProtectionHash) {
        flags |= CryptoFlagHash;
        integrity = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
    }

    QByteArray body;
    body.reserve(1 + integrity.size() + payload.size());
    body.append(char(rand_.generate() & 0xFF));
    body.append(integrity);
    body.append(payload);

    char last = 0;
    for (qsizetype p = 0; p < body.size(); ++p) {
        body[p] = char(body.at(p) ^ keyParts_.at(p % 8) ^ last);
        last = body.at(p);
    }

    QByteArray result;
    result.reserve(2 + body.size());
    result.append(kVersion);
    result.append(flags);
    result.append(body);
    lastError_ = ErrorNoError;
    return result;
}

QString SimpleCrypt::encryptToString(const QString& plaintext)
{
    return QString::fromLatin1(encryptToByteArray(plaintext).toBase64());
}

QString SimpleCrypt::encryptToString(QByteArray plaintext)
{
    return QString::fromLatin1(encryptToByteArray(std::move(plaintext)).toBase64());
}

QByteArray SimpleCrypt::decryptToByteArray(QByteArray cypher)
{
    if (keyParts_.isEmpty()) {
        qWarning("No key set.");
        lastError_ = ErrorNoKeySet;
        return QByteArray();
    }
    // Shorter than version, flags and the random byte: not a cyphertext.
    if (cypher.size() < 3 || cypher.at(0) != kVersion) {
        lastError_ = ErrorUnknownVersion;
        qWarning("Invalid version or not a cyphertext.");
        return QByteArray();
    }

    const char flags = cypher.at(1);
    QByteArray body = cypher.mid(2);
    char last = 0;
    for (qsizetype p = 0; p < body.size(); ++p) {
        const char scrambled = body.at(p);
        body[p] = char(scrambled ^ keyParts_.at(p % 8) ^ last);
        last = scrambled;
    }
    body.remove(0, 1); // the random byte

    bool intact = true;
    if (flags & CryptoFlagChecksum) {
        if (body.size() < 2) {
            intact = false;
        } else {
            const quint16 stored =
                quint16((quint16(quint8(body.at(0))) << 8) | quint16(quint8(body.at(1))));
            body.remove(0, 2);
            intact = qChecksum(body) == stored;
        }
    } else if (flags & CryptoFlagHash) {
        if (body.size() < 20) {
            intact = false;
        } else {
            const QByteArray stored = body.left(20);
            body.remove(0, 20);
            intact = QCryptographicHash::hash(body, QCryptographicHash::Sha1) == stored;
        }
    }
    if (!intact) {
        lastError_ = ErrorIntegrityFailed;
        return QByteArray();
    }

    if (flags & CryptoFlagCompression) {
        QByteArray plain = qUncompress(body);
        // Nothing out of anything but the compressed form of nothing: corrupt.
        if (plain.isEmpty() && !isCompressedEmpty_(body)) {
            lastError_ = ErrorIntegrityFailed;
            return QByteArray();
        }
        body = plain;
    }

    lastError_ = ErrorNoError;
    return body;
}

QByteArray SimpleCrypt::decryptToByteArray(const QString& cyphertext)
{
    return decryptToByteArray(QByteArray::fromBase64(cyphertext.toLatin1()));
}

QString SimpleCrypt::decryptToString(const QString& cyphertext)
{
    return QString::fromUtf8(decryptToByteArray(cyphertext));
}

QString SimpleCrypt::decryptToString(QByteArray cypher)
{
    return QString::fromUtf8(decryptToByteArray(std::move(cypher)));
}
