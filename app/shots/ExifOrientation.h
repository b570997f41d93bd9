#pragma once

#include <QImage>

namespace pexil {

// Turning a stored picture upright by its EXIF/TIFF orientation number.
class ExifOrientation {
public:
    // The image as it should be seen for orientations 1–8, mirrored ones included; unchanged
    // for 1 and for numbers outside 1–8.
    static QImage upright(const QImage& image, int orientation);
};

}  // namespace pexil
