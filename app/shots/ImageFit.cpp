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

}  // namespace pexil
