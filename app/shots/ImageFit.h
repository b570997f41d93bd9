#pragma once

#include <QImage>
#include <QSize>

namespace pexil {

// Size arithmetic shared by the decoders: fitting a picture into a bounding square, and an
// embedded thumbnail to its picture's proportions.
class ImageFit {
public:
    // `size` scaled so that its longer side is exactly maxPixel, keeping its proportions (each
    // side at least 1). Unchanged when it already fits or when maxPixel is not positive.
    static QSize fitted(QSize size, int maxPixel);
    // The image smoothly scaled down to fitted(); the image itself when it already fits.
    static QImage shrunk(const QImage& image, int maxPixel);
    // The centre of the image with the proportions of `picture`: cameras letterbox a 3:2
    // picture's EXIF thumbnail into 160 × 120, and the bars must not reach the screen. The
    // image itself when the proportions already agree within 2 % or either size is empty.
    static QImage matchedAspect(const QImage& image, QSize picture);
};

}  // namespace pexil
