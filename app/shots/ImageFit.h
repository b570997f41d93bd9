#pragma once

#include <QImage>
#include <QSize>

namespace pexil {

// Size arithmetic shared by the decoders: fitting a picture into a bounding square.
class ImageFit {
public:
    // `size` scaled so that its longer side is exactly maxPixel, keeping its proportions (each
    // side at least 1). Unchanged when it already fits or when maxPixel is not positive.
    static QSize fitted(QSize size, int maxPixel);
    // The image smoothly scaled down to fitted(); the image itself when it already fits.
    static QImage shrunk(const QImage& image, int maxPixel);
};

}  // namespace pexil
