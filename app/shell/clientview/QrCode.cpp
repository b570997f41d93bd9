#include "app/shell/clientview/QrCode.h"

#include <qrencode.h>

#include <QPainter>

#include <memory>

namespace pexil::shell {

QImage qrCodeImage(const QString& text, int moduleSize) {
    const QByteArray utf8 = text.toUtf8();
    const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString8bit(utf8.constData(), 0, QR_ECLEVEL_M), QRcode_free);
    if (!code || moduleSize < 1) return {};
    constexpr int quiet = 4;
    const int width = code->width;
    const int side = (width + 2 * quiet) * moduleSize;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < width; ++y)
        for (int x = 0; x < width; ++x)
            // The lowest bit of each module says dark or light.
            if (code->data[y * width + x] & 1)
                painter.fillRect((x + quiet) * moduleSize, (y + quiet) * moduleSize, moduleSize,
                                 moduleSize, Qt::black);
    return image;
}

}  // namespace pexil::shell
