#pragma once

#include "camera/session/FilePlacement.h"
#include "camera/session/ObjectInfo.h"
#include "kit/async/Task.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace pexil::camera {

class CameraDevice;

// Why a picture was not saved: the camera's side (the transfer broke, the camera refused,
// the session ended) or the destination's (the folder, the disk). Either way the card keeps
// the picture.
struct DownloadError {
    enum class Kind {
        // The camera's side.
        transport,     // the connection failed or the transfer came short
        refused,       // the camera answered `response`
        sessionEnded,  // no session, or it ended (the device went away) before the answer
        // The destination's side (PlacementError::Kind).
        folder,
        diskFull,
        permission,
        write,
        rename,
    };
    Kind kind = Kind::transport;
    QString path;                // the file wanted (camera side) or the folder or file concerned
    QString reason;              // in Japanese
    std::uint16_t response = 0;  // refused: the camera's response code

    static DownloadError camera(Kind kind, QString path, QString reason);
    static DownloadError destination(const PlacementError& error);
    bool fromCamera() const { return kind <= Kind::sessionEnded; }
    // For the user: which side failed, where and why.
    QString message() const;
    friend bool operator==(const DownloadError&, const DownloadError&) = default;
};

// A picture file on the card. Its requests are tasks that resume on the main thread; they
// run as tasks of the device, so a request still waiting when the device goes away (a
// camera that hangs is let go) ends with an error and touches nothing of it. Without an open
// session they fail at once. A request holds neither the device nor the file.
class CameraFile {
public:
    struct DownloadOptions {
        QString folder;                    // made with its parents when missing
        bool deleteAfterDownload = false;  // deleted from the card once the file is on disk
        PendingFile::Writer writer;        // tests: a disk that refuses; empty: the disk
        // Bytes on disk so far and the size the camera announced, as they arrive: on the
        // I/O thread, about every 1/50 of the file. May be empty.
        std::function<void(std::uint64_t received, std::uint64_t total)> progress;
        QString name;  // the name wanted; empty: the camera's own
    };
    struct Downloaded {
        QString name;  // as written into the folder
        // The picture is on disk but its deletion from the card failed.
        std::optional<TransportError> notDeleted;
    };

    CameraFile(std::weak_ptr<CameraDevice> device, std::uint32_t handle, ObjectInfo info,
               QString folderPath);

    const QString& name() const { return info_.filename; }
    // The folder's own name (100NCD850) and its path from the storage root (DCIM/100NCD850).
    QString parentFolder() const;
    const QString& folderPath() const { return folderPath_; }
    // In the camera's clock.
    std::optional<QDateTime> creationDate() const {
        return info_.captureDate ? info_.captureDate : info_.modificationDate;
    }
    std::uint64_t fileSize() const { return info_.size; }
    std::uint32_t handle() const { return handle_; }
    const ObjectInfo& info() const { return info_; }
    // Saves the file into `options.folder` under its name made safe (safeFileName), or
    // NAME-1.EXT … when taken, never overwriting; on error nothing is left under a real
    // name and the card keeps the picture.
    async::Task<Result<Downloaded, DownloadError>> download(DownloadOptions options) const;
    // Up to `length` bytes from `offset` (fewer at the end of the file).
    async::Task<Result<Bytes, TransportError>> readData(std::uint64_t offset,
                                                        std::uint32_t length) const;
    // The camera's thumbnail as JPEG, scaled down off the main thread to fit `maxPixel`
    // when larger (0: as is).
    async::Task<Result<Bytes, TransportError>> thumbnail(int maxPixel) const;

private:
    // The card-file adapter runs its relays as tasks of the device, as requests run.
    friend class CameraFileSource;
    std::shared_ptr<CameraDevice> device() const { return device_.lock(); }

    std::weak_ptr<CameraDevice> device_;
    std::uint32_t handle_;
    ObjectInfo info_;
    QString folderPath_;
};

}  // namespace pexil::camera
