#pragma once

#include "camera/virtual/PictureFactory.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace pexil::testing {

// A JPEG as a camera without an EXIF thumbnail saves it, "DSC_0007.JPG" for number 7, in
// `folder`; its path. Made by the virtual camera's encoder rather than QImage::save, whose
// image plugin is loaded and unloaded in a way the leak checker of this toolchain cannot scan.
inline QString savePicture(camera::PictureFactory& factory, const QDir& folder, int number,
                           int width, int height) {
    const QString path =
        folder.filePath(QStringLiteral("DSC_%1.JPG").arg(number, 4, 10, QLatin1Char('0')));
    auto scene = factory.render(width, height, 7, number);
    EXPECT_TRUE(scene.ok());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    const Bytes& jpeg = scene.value().picture;
    file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size()));
    return path;
}

}  // namespace pexil::testing
