#pragma once

#include "camera/session/ObjectInfo.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPError.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace pexil::camera {

class CameraDevice;

// A picture file on the card. Requests are answered exactly once, on the main thread;
// without an open session they fail at once with a TransportError.
class CameraFile : public std::enable_shared_from_this<CameraFile> {
public:
    struct DownloadOptions {
        QString folder;                   // an existing folder
        QString fileName;                 // the name wanted; never overwritten
        bool deleteAfterDownload = false; // deleted from the card once the file is complete on disk
    };
    // The name actually written (NAME-1.EXT … when the wanted one was taken) or the error;
    // on error nothing is left under a real name and the card keeps the picture. When only
    // the deletion failed, the name comes back together with the error.
    using DownloadDone = std::function<void(std::optional<QString> written, std::optional<TransportError> error)>;
    using DataDone = std::function<void(std::optional<Bytes> data, std::optional<TransportError> error)>;

    CameraFile(std::weak_ptr<CameraDevice> device, std::uint32_t handle, ObjectInfo info, QString folderPath);

    const QString& name() const { return info_.filename; }
    // The folder's own name (100NCD850) and its path from the storage root (DCIM/100NCD850).
    QString parentFolder() const;
    const QString& folderPath() const { return folderPath_; }
    // In the camera's clock.
    std::optional<QDateTime> creationDate() const { return info_.captureDate ? info_.captureDate : info_.modificationDate; }
    std::uint64_t fileSize() const { return info_.size; }
    std::uint32_t handle() const { return handle_; }
    const ObjectInfo& info() const { return info_; }

    void requestDownload(DownloadOptions options, DownloadDone done);
    // Up to `length` bytes from `offset` (fewer at the end of the file).
    void requestReadData(std::uint64_t offset, std::uint32_t length, DataDone done);
    // The camera's thumbnail as JPEG, scaled down to fit `maxPixel` when larger (0: as is).
    void requestThumbnail(int maxPixel, DataDone done);

private:
    std::weak_ptr<CameraDevice> device_;
    std::uint32_t handle_;
    ObjectInfo info_;
    QString folderPath_;
};

}  // namespace pexil::camera
