#include "photoheader.h"

#include <QFile>

#include <cstring>

namespace photoheader {

namespace {

unsigned be16(const unsigned char* p)
{
    return (unsigned(p[0]) << 8) | unsigned(p[1]);
}

std::uint32_t be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

// Start-of-frame markers: C0..CF except DHT (C4), JPG (C8) and DAC (CC).
bool isStartOfFrame(unsigned marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers without a length: restart markers, TEM and the start of image.
bool isStandalone(unsigned marker)
{
    return (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01;
}

Info inspectJpeg(const unsigned char* data, std::int64_t size)
{
    Info info;
    info.format = Info::Jpeg;
    info.complete = false;
    std::int64_t pos = 2; // past the start-of-image marker
    while (pos < size) {
        // A marker is 0xFF, any number of 0xFF fill bytes and the code.
        if (data[pos] != 0xFF)
            return info; // not a segment: the file is damaged here
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos >= size)
            return info;
        const unsigned marker = data[pos++];
        if (marker == 0xD9) {
            info.complete = true;
            return info;
        }
        if (isStandalone(marker))
            continue;
        if (pos + 2 > size)
            return info;
        const unsigned length = be16(data + pos);
        if (length < 2 || pos + std::int64_t(length) > size)
            return info;
        if (isStartOfFrame(marker) && info.width == 0 && length >= 7) {
            info.height = be16(data + pos + 3);
            info.width = be16(data + pos + 5);
        }
        pos += length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data follows a start of scan up to the next marker
        // that is neither a stuffed 0xFF00 nor a restart marker.
        for (;;) {
            while (pos < size && data[pos] != 0xFF)
                ++pos;
            if (pos + 1 >= size)
                return info;
            const unsigned next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                pos += 2;
                continue;
            }
            if (next == 0xFF) {
                ++pos; // fill byte before a marker
                continue;
            }
            break;
        }
    }
    return info;
}

Info inspectPng(const unsigned char* data, std::int64_t size)
{
    Info info;
    info.format = Info::Png;
    // Signature, then the IHDR chunk: length, type, width, height.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        info.width = be32(data + 16);
        info.height = be32(data + 20);
    }
    return info;
}

} // namespace

Info inspect(const unsigned char* data, std::int64_t size)
{
    static const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return inspectJpeg(data, size);
    if (size >= 8 && std::memcmp(data, pngSignature, 8) == 0)
        return inspectPng(data, size);
    return {};
}

Info inspectFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    const qint64 size = file.size();
    if (size <= 0) {
        if (error)
            *error = QStringLiteral("the file is empty");
        return {};
    }
    if (const uchar* bytes = file.map(0, size)) {
        const Info info = inspect(bytes, size);
        file.unmap(const_cast<uchar*>(bytes));
        return info;
    }
    // Not mappable: read it, as the decoder would.
    const QByteArray all = file.readAll();
    return inspect(reinterpret_cast<const unsigned char*>(all.constData()), all.size());
}

QString refusal(const Info& info)
{
    if (info.width <= 0 || info.height <= 0)
        return QStringLiteral("its dimensions cannot be read");
    // Divided, not multiplied: a PNG header may give 2^32 - 1 each way.
    if (info.width > kMaxPixels / info.height)
        return QStringLiteral("it is %1 x %2 pixels, more than %3").arg(info.width).arg(info.height).arg(kMaxPixels);
    if (!info.complete)
        return QStringLiteral("the file ends before its image data does");
    return QString();
}

} // namespace photoheader
