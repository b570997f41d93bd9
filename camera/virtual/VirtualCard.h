#pragma once

#include "camera/session/ObjectInfo.h"
#include "camera/virtual/PictureFactory.h"
#include "camera/virtual/PictureProbe.h"
#include "camera/virtual/VirtualModel.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace pexil::camera {

// One object of the card: a file or a folder (a PTP association).
struct CardObject {
    std::uint32_t handle = 0;
    std::uint32_t parent = 0;  // 0: at the card's root
    bool folder = false;
    QString name;
    QString path;  // absolute path of the file or folder
    std::uint64_t size = 0;
    QDateTime date;  // the file's time stamp, which the camera writes in its own clock
    std::optional<PictureFacts> facts;  // read from the file's head on first need
};

// The memory card of the virtual camera: a real folder. Everything in it is the card's
// content, whatever it holds; folders are PTP associations (DCIM, DCIM/100NCD850, …), files
// are objects whose ObjectInfo comes from the file itself (size, time stamp as the capture
// date, picture size and thumbnail from its head). Hidden entries (a leading dot, such as
// the camera's own half-written files) and symbolic links are not part of the card; the
// folder is read once, when the card is opened, and later changes made by others are not
// seen.
//
// Handles are numbered from 1 in the order of a sorted walk of the folder (so the same
// folder gives the same handles), and new objects take the next numbers; a handle is never
// reused.
//
// Not thread-safe: the camera calls it under its own lock. Writing a picture's bytes
// happens outside that lock, between nextSlot() and addFile().
class VirtualCard {
public:
    // What an empty folder is filled with when the card is opened.
    struct Fill {
        int photos = 0;
        std::uint64_t seed = 1;
        QDateTime now;  // the camera's clock: the pictures are dated over the days before it
        bool fullSize = false;
        // Every gpsEvery-th picture (1-based) carries the camera's own position; 0: none.
        int gpsEvery = 0;
    };

    // Opens `dir` as the card, creating it when missing; an empty folder is first filled
    // with `fill.photos` pictures: DCIM/100<suffix>/<prefix>0001.JPG, …0002.<raw>, …
    // alternately, `picturesPerFolder` to a folder, dated over the three days before
    // `fill.now` in ascending order, all made from `fill.seed`. Fails with a message for
    // the user when the folder cannot be made, read or filled.
    static Result<std::unique_ptr<VirtualCard>, QString> open(const QString& dir,
                                                              const VirtualModel& model,
                                                              const Fill& fill);

    const QString& root() const { return root_; }
    std::size_t objectCount() const { return objects_.size(); }
    const CardObject* object(std::uint32_t handle) const;

    // GetObjectHandles: `association` 0 gives every object, 0xFFFFFFFF those at the root,
    // a folder's handle its children; `format` 0 gives every format. None when
    // `association` is neither of these nor a folder.
    std::optional<std::vector<std::uint32_t>> handles(std::uint32_t association,
                                                      std::uint16_t format);

    // The ObjectInfo dataset, none for an unknown handle. Reads the file's head on first need.
    std::optional<Bytes> objectInfo(std::uint32_t handle);
    // GetObjectPropList's data: for `handle`, or every object when none, those of `format`
    // (0: all), with every property or only `property` (0xFFFFFFFF: all). The same facts as
    // objectInfo gives. None for a property the card does not describe.
    std::optional<Bytes> objectPropList(std::optional<std::uint32_t> handle, std::uint16_t format,
                                        std::uint32_t property);
    // The embedded thumbnail of a file, none when it has none or cannot be read.
    std::optional<Bytes> thumbnail(std::uint32_t handle);
    // The StorageInfo dataset.
    Bytes storageInfo() const;

    // Where the next picture goes: the folder (made now when needed) and the base name
    // with the next file number ("DSC_0042"). `newFolders` lists the folders just made, so
    // that the camera can announce them.
    struct Slot {
        std::uint32_t folder = 0;
        QString folderPath;
        QString baseName;
        std::vector<std::uint32_t> newFolders;
    };
    Result<Slot, QString> nextSlot();
    // Adds a file the camera has written (already under its final name) to `folder`.
    std::uint32_t addFile(std::uint32_t folder, const QString& path,
                          std::optional<PictureFacts> facts);
    // DeleteObject: 0x2001 when gone, 0x2009 for an unknown handle, 0x200F for a folder that
    // is not empty, 0x200D when the file system refuses.
    std::uint16_t remove(std::uint32_t handle);

private:
    VirtualCard(QString root, const VirtualModel& model);
    Result<Done, QString> scan();
    void scanFolder(const QString& path, std::uint32_t parent, int depth);
    std::uint32_t add(CardObject object);
    const PictureFacts& factsOf(CardObject& object);
    std::optional<ObjectInfo> describe(std::uint32_t handle);
    std::uint64_t usedBytes() const;
    std::vector<std::uint32_t> children(std::uint32_t parent) const;
    std::optional<std::uint32_t> handleOfPath(const QString& path) const;

    QString root_;
    const VirtualModel& model_;
    std::map<std::uint32_t, CardObject> objects_;
    std::uint32_t nextHandle_ = 1;
    int lastNumber_ = 0;  // the highest file number on the card
};

// The size of the pictures the camera makes: about 1600 pixels wide by default (so that
// thousands are made in seconds), the sensor's size when `fullSize`.
std::pair<int, int> pictureSize(const VirtualModel& model, bool fullSize);
// The length of the raw data in a raw file: 128 KiB by default, about what the body's own
// compressed raw files hold when `fullSize`.
std::uint32_t rawDataBytes(const VirtualModel& model, bool fullSize);

// The position a virtual body with a GPS unit records (fixed, so tests can recognise it).
PictureGps cameraGpsFix();
// Whether picture `number` (1-based) carries it when every `every`-th does (0: none do).
bool carriesGps(int number, int every);

// GetObjectInfo's answer for a picture, on the card or waiting in SDRAM.
ObjectInfo pictureObjectInfo(const PictureFacts& facts, const QString& name,
                             const QDateTime& date, std::uint64_t size);

// Writes a file of the card: `produce` fills a hidden temporary file in the same folder,
// which is then time-stamped with `date` and renamed to `path`. An existing file is never
// replaced, and a failure leaves nothing under the real name (the temporary file is
// removed). The message is for the user.
using CardFileProducer = std::function<Result<Done, QString>(QIODevice&)>;
Result<Done, QString> writeCardFile(const QString& path, const CardFileProducer& produce,
                                    const QDateTime& date);
Result<Done, QString> writeCardFile(const QString& path, ByteView bytes, const QDateTime& date);

}  // namespace pexil::camera
