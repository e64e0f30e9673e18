#include "rawdecoder.h"

#include <cstring>
#include <memory>
#include <mutex>

#include <QFileInfo>
#include <QtGlobal>

#include <libraw/libraw.h>

namespace rawdecoder {

namespace {

struct Decoder
{
    LibRaw processor{0};
    std::mutex mutex;
    int dataErrors = 0;
    int firstErrorOffset = 0;
};

Decoder& decoder()
{
    static Decoder instance;
    return instance;
}

// LibRaw reports damaged or missing raw data here instead of failing the call.
void recordDataError(void* data, const char*, const int offset)
{
    auto* d = static_cast<Decoder*>(data);
    if (d->dataErrors++ == 0)
        d->firstErrorOffset = offset;
}

// Three 16-bit colours, the only processed image the analysis takes.
bool acceptedFormat(int colors, int bits, const char* path)
{
    if (colors == 3 && bits == 16)
        return true;
    qDebug("rawImageLoader: %s decodes to %d channels of %d bits, not 3 of 16; refused", path, colors, bits);
    return false;
}

} // namespace

cv::Mat fromMemImage(const libraw_processed_image_t& image, const char* path)
{
    const std::size_t pixels = std::size_t(image.width) * image.height;
    if (image.type != LIBRAW_IMAGE_BITMAP || !acceptedFormat(image.colors, image.bits, path))
        return {};
    if (image.data_size < pixels * 3 * sizeof(std::uint16_t)) {
        qDebug("rawImageLoader: %s decodes to %u bytes, short of %d x %d pixels; refused", path,
               image.data_size, int(image.width), int(image.height));
        return {};
    }
    cv::Mat result(image.height, image.width, CV_16UC3);
    for (int r = 0; r < result.rows; ++r) {
        const auto* in = reinterpret_cast<const std::uint16_t*>(image.data) + std::size_t(r) * image.width * 3;
        auto* out = result.ptr<cv::Vec3w>(r);
        for (int c = 0; c < result.cols; ++c, in += 3)
            out[c] = cv::Vec3w(in[2], in[1], in[0]);
    }
    return result;
}

void applyParameters(LibRaw& processor, unsigned interpolation, unsigned highlight)
{
    auto& p = processor.imgdata.params;
    p.highlight = int(highlight);
    p.user_qual = int(interpolation);
    p.use_camera_wb = 1;
    p.gamm[0] = 1.0;
    p.gamm[1] = 1.0;
    p.output_bps = 16;
    p.four_color_rgb = 0;
    p.med_passes = 0;
    p.adjust_maximum_thr = 0.0f;
    p.no_auto_bright = 1;
    p.bright = highlight != 0 ? 1.0f : 0.395f;
#if LIBRAW_MINOR_VERSION >= 21 || LIBRAW_MAJOR_VERSION > 0
    processor.imgdata.rawparams.max_raw_memory_mb = maxRawMemoryMb;
#else
    p.max_raw_memory_mb = maxRawMemoryMb;
#endif
}

cv::Mat rawImage(const char* path, unsigned interpolation, unsigned highlight, bool verbose)
{
    if (verbose)
        qDebug(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> raw image is at %s", path);

    const QFileInfo info(QString::fromLocal8Bit(path));
    if (info.exists() && info.size() > maxFileBytes) {
        qDebug("rawImageLoader: %s is %lld bytes, more than the %lld a raw file may have; refused", path,
               qlonglong(info.size()), qlonglong(maxFileBytes));
        return cv::Mat(0, 0, CV_16UC3);
    }

    Decoder& d = decoder();
    std::lock_guard lock(d.mutex);
    LibRaw& raw = d.processor;
    applyParameters(raw, interpolation, highlight);
    d.dataErrors = 0;
    d.firstErrorOffset = 0;
    raw.set_dataerror_handler(recordDataError, &d);

    if (verbose)
        qDebug("libRaw set up: interpolation %u, highlights %u; opening file...", interpolation, highlight);

    cv::Mat result(0, 0, CV_16UC3);
    int rc = raw.open_file(path);
    if (verbose)
        qDebug("open returned");
    if (rc != LIBRAW_SUCCESS) {
        qDebug("rawImageLoader: Cannot open %s: %s\n", path, libraw_strerror(rc));
    } else {
        if (verbose)
            qDebug("opened; going to unpack...");
        rc = raw.unpack();
        if (rc != LIBRAW_SUCCESS) {
            qDebug("rawImageLoader: Cannot unpack %s: %s\n", path, libraw_strerror(rc));
        } else {
            if (verbose)
                qDebug("unpacked; going to process...");
            rc = raw.dcraw_process();
            if (rc != LIBRAW_SUCCESS) {
                qDebug("rawImageLoader: Cannot postprocess %s: %s\n", path, libraw_strerror(rc));
            } else if (d.dataErrors > 0) {
                // The pixels after the damage are made up; nothing measured from them holds.
                qDebug("rawImageLoader: %s is truncated or corrupt (%d data errors, first at offset %d)", path,
                       d.dataErrors, d.firstErrorOffset);
            } else {
                if (verbose)
                    qDebug("Successfully processed %s", path);
                // LibRaw writes the processed image straight into ours, blue first.
                int width = 0, height = 0, colors = 0, bits = 0;
                raw.get_mem_image_format(&width, &height, &colors, &bits);
                if (verbose)
                    qDebug("Made image for %s: channels %d, bits %d, width %d, height %d", path, colors, bits, width,
                           height);
                if (acceptedFormat(colors, bits, path) && width > 0 && height > 0) {
                    cv::Mat image(height, width, CV_16UC3);
                    rc = raw.copy_mem_image(image.data, int(image.step), 1);
                    if (rc == LIBRAW_SUCCESS)
                        result = image;
                    else
                        qDebug("rawImageLoader: Cannot copy the image of %s: %s\n", path, libraw_strerror(rc));
                }
            }
        }
    }
    raw.recycle();
    if (verbose)
        qDebug("<<<<<<<<<<<<<<<<<<<<<<<<<<<< raw image %s done!", path);
    return result;
}

} // namespace rawdecoder
