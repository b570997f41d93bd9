#include "app/shots/ExifOrientation.h"

#include <QTransform>

namespace pexil {

QImage ExifOrientation::upright(const QImage& image, int orientation) {
    if (image.isNull()) return image;
    const auto turned = [&](qreal clockwise) {
        return image.transformed(QTransform().rotate(clockwise));
    };
    switch (orientation) {
        case 2:
            return image.mirrored(true, false);
        case 3:
            return turned(180);
        case 4:
            return image.mirrored(false, true);
        case 5:  // transposed: rows stored as columns
            return turned(90).mirrored(true, false);
        case 6:
            return turned(90);
        case 7:  // transversed
            return turned(270).mirrored(true, false);
        case 8:
            return turned(270);
        default:
            return image;
    }
}

}  // namespace pexil
