#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

// Scrambles short texts under a 64-bit key into a versioned, Base64 text form
// and back. The processor password is stored only in this form, so the byte
// layout is fixed:
//   [0x03][flags][scrambled body]
//   flags: 0x01 payload compressed, 0x02 checksum present, 0x04 SHA-1 present
//   body before scrambling: [random byte][integrity value][payload]
// Every scrambled byte is plain ^ key byte (p mod 8) ^ previous scrambled byte,
// the key bytes being taken least significant first.
class SimpleCrypt
{
public:
    enum CompressionMode {
        CompressionAuto = 0,   // compress when that makes the data strictly shorter
        CompressionAlways = 1,
        CompressionNever = 2,  // as is any other value
    };
    enum IntegrityProtectionMode {
        ProtectionNone = 0,
        ProtectionChecksum = 1, // 16-bit CRC (ISO 3309), big-endian
        ProtectionHash = 2,     // SHA-1, 20 bytes
    };
    enum Error {
        ErrorNoError = 0,
        ErrorNoKeySet = 1,
        ErrorUnknownVersion = 2, // not version 3, or too short to be a cyphertext
        ErrorIntegrityFailed = 3,
    };
    enum CryptoFlag {
        CryptoFlagNone = 0,
        CryptoFlagCompression = 0x01,
        CryptoFlagChecksum = 0x02,
        CryptoFlagHash = 0x04,
    };

    SimpleCrypt();
    explicit SimpleCrypt(quint64 key);

    void setKey(quint64 key);

    void setCompressionMode(CompressionMode mode) { compressionMode_ = mode; }
    CompressionMode compressionMode() const { return CompressionMode(compressionMode_); }
    void setIntegrityProtectionMode(IntegrityProtectionMode mode) { protectionMode_ = mode; }
    IntegrityProtectionMode integrityProtectionMode() const
    {
        return IntegrityProtectionMode(protectionMode_);
    }
    Error lastError() const { return Error(lastError_); }

    QByteArray encryptToByteArray(const QString& plaintext);
    QByteArray encryptToByteArray(QByteArray plaintext);
    QString encryptToString(const QString& plaintext);
    QString encryptToString(QByteArray plaintext);

    QByteArray decryptToByteArray(QByteArray cypher);
    QByteArray decryptToByteArray(const QString& cyphertext);
    QString decryptToString(const QString& cyphertext);
    QString decryptToString(QByteArray cypher);

private:
    void splitKey();

    quint64 key_ = 0;
    QList<char> keyParts_;
    int compressionMode_ = CompressionAuto;
    int protectionMode_ = ProtectionChecksum;
    int lastError_ = ErrorNoError;
    QRandomGenerator rand_;
};
