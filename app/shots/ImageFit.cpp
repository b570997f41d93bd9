#include "app/shots/ImageFit.h"

#include <algorithm>
#include <cmath>

namespace pexil {

QSize ImageFit::fitted(QSize size, int maxPixel) {
    const int longSide = std::max(size.width(), size.height());
    if (maxPixel <= 0 || longSide <= maxPixel || size.isEmpty()) return size;
    const double factor = static_cast<double>(maxPixel) / longSide;
    const auto side = [&](int length) {
        return std::max(1, static_cast<int>(std::lround(length * factor)));
    };
    if (size.width() >= size.height()) return {maxPixel, side(size.height())};
    return {side(size.width()), maxPixel};
}

QImage ImageFit::shrunk(const QImage& image, int maxPixel) {
    const QSize target = fitted(image.size(), maxPixel);
    if (target == image.size()) return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage ImageFit::matchedAspect(const QImage& image, QSize picture) {
    if (image.isNull() || picture.isEmpty()) return image;
    const double wanted = static_cast<double>(picture.width()) / picture.height();
    const double stored = static_cast<double>(image.width()) / image.height();
    if (std::abs(stored - wanted) <= 0.02 * wanted) return image;
    if (stored < wanted) {  // bars above and below
        const int height =
            std::clamp(static_cast<int>(std::lround(image.width() / wanted)), 1, image.height());
        return image.copy(0, (image.height() - height) / 2, image.width(), height);
    }
    const int width =
        std::clamp(static_cast<int>(std::lround(image.height() * wanted)), 1, image.width());
    return image.copy((image.width() - width) / 2, 0, width, image.height());
}

}  // namespace pexil
