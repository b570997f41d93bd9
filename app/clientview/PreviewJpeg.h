#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pexil {

// The picture a client of the view sees: the saved file (a raw one through its embedded
// preview) upright, its longer side at most `maxPixel`, as a JPEG. Never the original's bytes.
// None when the file cannot be read or encoded. Stateless; any thread.
std::optional<QByteArray> previewJpeg(const QString& path, int maxPixel, int quality = 85);

}  // namespace pexil
