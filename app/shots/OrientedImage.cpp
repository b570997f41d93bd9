#include "app/shots/OrientedImage.h"

#include "app/shots/PictureDecoder.h"

#include <QTransform>

namespace pexil {

std::optional<QImage> OrientedImage::make(const QByteArray& data, std::optional<int> orientation,
                                          std::optional<int> maxPixel) {
    auto image = PictureDecoder::decode(data, maxPixel.value_or(0));
    if (!image) return std::nullopt;
    if (auto turned = rotate(*image, orientation)) return turned;
    return image;
}

std::optional<QImage> OrientedImage::rotate(const QImage& image, std::optional<int> orientation) {
    if (!orientation || image.isNull()) return std::nullopt;
    qreal degrees = 0;  // clockwise, as Qt's y-down coordinates turn
    switch (*orientation) {
        case 3:
            degrees = 180;
            break;
        case 6:
        case 8:
            // Card thumbnails are often already turned by the camera: a picture at least as
            // tall as wide is taken to be upright.
            if (image.height() >= image.width()) return std::nullopt;
            degrees = *orientation == 6 ? 90 : 270;
            break;
        default:
            return std::nullopt;
    }
    QImage turned = image.transformed(QTransform().rotate(degrees));
    if (turned.isNull()) return std::nullopt;
    return turned;
}

}  // namespace pexil
