#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pexil::camera {

class CameraFile;

// A folder on the card, as the catalogue reports it.
struct CameraFolder {
    std::uint32_t handle = 0;
    QString name;  // e.g. 100NCD850
    QString path;  // from the storage root, e.g. DCIM/100NCD850
};

// One batch of new things on the card: picture files and folders.
struct CameraItems {
    std::vector<std::shared_ptr<CameraFile>> files;
    std::vector<CameraFolder> folders;
    // Announced by the camera as new (ObjectAdded, on either event channel) rather than found
    // by reading the card: what a release just made arrives this way.
    bool added = false;
};

}  // namespace pexil::camera
