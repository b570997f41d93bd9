#include "app/clientview/PreviewJpeg.h"

#include "app/shots/Thumbnailer.h"

#include <turbojpeg.h>

#include <memory>

namespace pexil {

std::optional<QByteArray> previewJpeg(const QString& path, int maxPixel, int quality) {
    const auto loaded = Thumbnailer::load(path, maxPixel);
    if (!loaded || loaded->image.isNull()) return std::nullopt;
    const QImage rgb = loaded->image.convertToFormat(QImage::Format_RGB888);
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor) return std::nullopt;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(compressor.get(), rgb.constBits(), rgb.width(),
                                   static_cast<int>(rgb.bytesPerLine()), rgb.height(), TJPF_RGB,
                                   &out, &size, TJSAMP_420, quality, TJFLAG_FASTDCT);
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
    if (failed != 0 || !out) return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
}

}  // namespace pexil
