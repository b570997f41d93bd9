#include "camera/virtual/VirtualCard.h"

#include "camera/session/ObjectPropList.h"

#include "camera/session/ObjectInfo.h"
#include "camera/virtual/PictureFactory.h"
#include "camera/virtual/ScenePainter.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPCodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace pexil::camera {

namespace {

// The camera's own files keep their thumbnail in the first few KiB; other files may have an
// EXIF block of up to 64 KiB, read when the first look finds no thumbnail.
constexpr qint64 kFirstLook = 16 * 1024;
constexpr qint64 kHeadSize = 64 * 1024;
constexpr int kMaxDepth = 8;
constexpr std::uint32_t kAllObjects = 0;
constexpr std::uint32_t kRootObjects = 0xFFFFFFFF;
// Folder and file numbers of the DCF layout.
constexpr int kFirstFolder = 100;
constexpr int kLastFolder = 999;
constexpr int kLastFileNumber = 9999;
constexpr std::uint32_t kSmallWidth = 1600;
constexpr std::uint32_t kSmallRawBytes = 128 * 1024;

const QRegularExpression& folderPattern() {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{3})[A-Za-z0-9_]+$"));
    return pattern;
}

const QRegularExpression& filePattern() {
    static const QRegularExpression pattern(
        QStringLiteral("^[A-Za-z0-9_]{4}(\\d{4})\\.[A-Za-z0-9]+$"));
    return pattern;
}

QString numbered(const QString& prefix, int number) {
    return prefix + QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0'));
}

QString folderName(int number, const VirtualModel& model) {
    return QString::number(number) + model.folderSuffix;
}

Result<Done, QString> fillCard(const QString& root, const VirtualModel& model,
                               const VirtualCard::Fill& fill) {
    PictureFactory factory;
    SeedSequence seq(fill.seed);
    const auto [width, height] = pictureSize(model, fill.fullSize);
    const std::uint32_t rawBytes = rawDataBytes(model, fill.fullSize);

    // A few scenes serve all pictures: compressing thousands of distinct pictures would take
    // minutes, and the EXIF data (dates, orientation) still makes every file its own.
    const int poolSize = std::min(fill.photos, fill.fullSize ? 2 : 6);
    std::vector<RenderedScene> pool;
    for (int k = 0; k < poolSize; ++k) {
        auto scene = factory.render(width, height, seq.next(), k + 1);
        if (!scene) return scene.error();
        pool.push_back(std::move(scene).value());
    }

    const VirtualProperties settings(model);
    const QDateTime first = fill.now.addDays(-3);
    // The last picture is two hours old, so that none of them passes for a fresh shot.
    const qint64 span = first.secsTo(fill.now.addSecs(-2 * 3600));
    const qint64 step = std::max<qint64>(1, span / std::max(1, fill.photos));
    for (int i = 1; i <= fill.photos; ++i) {
        const int folderNumber =
            std::min(kLastFolder, kFirstFolder + (i - 1) / std::max(1, model.picturesPerFolder));
        const QString folder = root + QStringLiteral("/DCIM/") + folderName(folderNumber, model);
        if (!QDir().mkpath(folder))
            return QString::fromUtf8("カードのフォルダを作れません: ") + folder;
        const int number = (i - 1) % kLastFileNumber + 1;
        const bool raw = i % 2 == 0;
        const QString path = folder + u'/' + numbered(model.filePrefix, number) + u'.' +
                             (raw ? model.rawExtension : QStringLiteral("JPG"));

        PictureMeta meta;
        meta.make = model.exifMake;
        meta.model = model.exifModel;
        meta.software = model.software;
        meta.taken = first.addSecs(
            step * (i - 1) + static_cast<qint64>(seq.below(static_cast<std::uint64_t>(step))));
        const std::uint64_t turn = seq.below(20);
        meta.orientation = turn == 0 ? 6 : turn == 1 ? 8 : 1;
        meta.exposure = settings.exposure();
        meta.sensorWidth = model.sensorWidth;
        meta.sensorHeight = model.sensorHeight;
        meta.rawBitDepth = model.rawBitDepth;
        if (carriesGps(i, fill.gpsEvery)) meta.gps = cameraGpsFix();
        const RenderedScene& scene =
            pool[static_cast<std::size_t>(seq.below(static_cast<std::uint64_t>(poolSize)))];

        Result<Done, QString> written = Done{};
        if (raw) {
            const std::uint64_t noiseSeed = seq.next();
            written = writeCardFile(
                path,
                [&](QIODevice& out) {
                    return PictureFactory::writeRawFile(out, scene, meta, rawBytes, noiseSeed);
                },
                meta.taken);
        } else {
            written = writeCardFile(
                path,
                [&](QIODevice& out) { return PictureFactory::writeJpegFile(out, scene, meta); },
                meta.taken);
        }
        if (!written) return written.error();
    }
    return Done{};
}

}  // namespace

PictureGps cameraGpsFix() {
    return PictureGps{35.658581, 139.745433, 150.0};
}

bool carriesGps(int number, int every) {
    return every > 0 && number > 0 && number % every == 0;
}

std::pair<int, int> pictureSize(const VirtualModel& model, bool fullSize) {
    const int width = fullSize ? std::max(1, model.sensorWidth) : static_cast<int>(kSmallWidth);
    const int height =
        static_cast<int>(std::lround(static_cast<double>(width) * std::max(1, model.sensorHeight) /
                                     std::max(1, model.sensorWidth)));
    return {width, std::max(1, height)};
}

std::uint32_t rawDataBytes(const VirtualModel& model, bool fullSize) {
    if (!fullSize) return kSmallRawBytes;
    const double bytes = static_cast<double>(model.sensorWidth) * model.sensorHeight *
                         model.rawBitDepth / 8.0 * 0.55;
    return static_cast<std::uint32_t>(std::min(bytes, 2.0e9));
}

ObjectInfo pictureObjectInfo(const PictureFacts& facts, const QString& name, const QDateTime& date,
                             std::uint64_t size) {
    ObjectInfo info;
    info.format = facts.format;
    info.size = size;
    info.filename = name;
    info.captureDate = date;
    info.modificationDate = date;
    info.imageWidth = facts.width;
    info.imageHeight = facts.height;
    info.imageBitDepth = facts.bitDepth;
    if (facts.thumbnail) {
        info.thumbFormat = ObjectInfo::jfifThumbnail;
        info.thumbSize = static_cast<std::uint32_t>(facts.thumbnail->length);
        info.thumbWidth = facts.thumbWidth;
        info.thumbHeight = facts.thumbHeight;
    }
    return info;
}

Result<Done, QString> writeCardFile(const QString& path, const CardFileProducer& produce,
                                    const QDateTime& date) {
    const QFileInfo target(path);
    if (target.exists()) return QString::fromUtf8("カードに同じ名前のファイルがあります: ") + path;
    const QString temporary =
        target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".part");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString::fromUtf8("カードに書けません: ") + path + QStringLiteral(" (") +
               file.errorString() + u')';
    auto produced = produce(file);
    // The time stamp goes on last: closing a file with buffered bytes would move it again.
    const bool flushed = produced && file.flush();
    const bool stamped = flushed && file.setFileTime(date, QFileDevice::FileModificationTime);
    file.close();
    if (!produced || !flushed || !stamped || !QFile::rename(temporary, path)) {
        QFile::remove(temporary);
        if (!produced) return produced.error();
        return QString::fromUtf8("カードに書けません: ") + path;
    }
    return Done{};
}

Result<Done, QString> writeCardFile(const QString& path, ByteView bytes, const QDateTime& date) {
    return writeCardFile(
        path,
        [bytes](QIODevice& out) -> Result<Done, QString> {
            if (out.write(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
                return QString::fromUtf8("カードに書けません: ") + out.errorString();
            return Done{};
        },
        date);
}

VirtualCard::VirtualCard(QString root, const VirtualModel& model)
    : root_(std::move(root)), model_(model) {}

Result<std::unique_ptr<VirtualCard>, QString> VirtualCard::open(const QString& dir,
                                                                const VirtualModel& model,
                                                                const Fill& fill) {
    const QString root = QFileInfo(dir).absoluteFilePath();
    if (!QDir().mkpath(root))
        return QString::fromUtf8("仮想カメラのカードフォルダを作れません: ") + root;
    const bool empty = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
    if (empty && fill.photos > 0) {
        const auto filled = fillCard(root, model, fill);
        if (!filled) return filled.error();
    }
    std::unique_ptr<VirtualCard> card(new VirtualCard(root, model));
    const auto scanned = card->scan();
    if (!scanned) return scanned.error();
    return card;
}

Result<Done, QString> VirtualCard::scan() {
    if (!QFileInfo(root_).isDir() || !QFileInfo(root_).isReadable())
        return QString::fromUtf8("仮想カメラのカードフォルダを読めません: ") + root_;
    scanFolder(root_, 0, 0);
    return Done{};
}

void VirtualCard::scanFolder(const QString& path, std::uint32_t parent, int depth) {
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& entry : entries) {
        CardObject object;
        object.parent = parent;
        object.folder = entry.isDir();
        object.name = entry.fileName();
        object.path = entry.absoluteFilePath();
        object.size = object.folder ? 0 : static_cast<std::uint64_t>(entry.size());
        object.date = entry.lastModified();
        const std::uint32_t handle = add(std::move(object));
        if (entry.isDir() && depth < kMaxDepth)
            scanFolder(entry.absoluteFilePath(), handle, depth + 1);
    }
}

std::uint32_t VirtualCard::add(CardObject object) {
    object.handle = nextHandle_++;
    if (!object.folder) {
        const auto match = filePattern().match(object.name);
        if (match.hasMatch()) lastNumber_ = std::max(lastNumber_, match.captured(1).toInt());
    }
    const std::uint32_t handle = object.handle;
    objects_.emplace(handle, std::move(object));
    return handle;
}

const CardObject* VirtualCard::object(std::uint32_t handle) const {
    const auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : &it->second;
}

std::vector<std::uint32_t> VirtualCard::children(std::uint32_t parent) const {
    std::vector<std::uint32_t> out;
    for (const auto& [handle, object] : objects_)
        if (object.parent == parent) out.push_back(handle);
    return out;
}

const PictureFacts& VirtualCard::factsOf(CardObject& object) {
    if (!object.facts) {
        QFile file(object.path);
        if (!file.open(QIODevice::ReadOnly)) {
            object.facts = probePicture({}, object.name);
            return *object.facts;
        }
        QByteArray bytes = file.read(kFirstLook);
        PictureFacts facts =
            probePicture(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                  static_cast<std::size_t>(bytes.size())),
                         object.name);
        if (!facts.thumbnail && bytes.size() == kFirstLook) {
            bytes += file.read(kHeadSize - kFirstLook);
            facts = probePicture(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size())),
                                 object.name);
        }
        object.facts = facts;
    }
    return *object.facts;
}

std::optional<std::vector<std::uint32_t>> VirtualCard::handles(std::uint32_t association,
                                                               std::uint16_t format) {
    if (association != kAllObjects && association != kRootObjects) {
        const CardObject* folder = object(association);
        if (!folder || !folder->folder) return std::nullopt;
    }
    std::vector<std::uint32_t> out;
    for (auto& [handle, object] : objects_) {
        if (association == kRootObjects && object.parent != 0) continue;
        if (association != kAllObjects && association != kRootObjects &&
            object.parent != association)
            continue;
        if (format != 0) {
            const std::uint16_t own =
                object.folder ? PTP::code(PTP::ObjectFormat::association) : factsOf(object).format;
            if (own != format) continue;
        }
        out.push_back(handle);
    }
    return out;
}

std::optional<Bytes> VirtualCard::objectInfo(std::uint32_t handle) {
    const auto info = describe(handle);
    if (!info) return std::nullopt;
    return info->encode();
}

std::optional<Bytes> VirtualCard::objectPropList(std::optional<std::uint32_t> handle,
                                                 std::uint16_t format, std::uint32_t property) {
    std::optional<std::uint16_t> only;
    if (property != ObjectPropList::allProperties) {
        if (property > 0xFFFF) return std::nullopt;
        only = static_cast<std::uint16_t>(property);
    }
    ObjectPropList::Objects objects;
    for (const auto& [h, object] : objects_) {
        if (handle && h != *handle) continue;
        auto info = describe(h);
        if (!info || (format != 0 && info->format != format)) continue;
        objects.emplace_back(h, std::move(*info));
    }
    return ObjectPropList::encode(objects, only);
}

std::optional<ObjectInfo> VirtualCard::describe(std::uint32_t handle) {
    const auto it = objects_.find(handle);
    if (it == objects_.end()) return std::nullopt;
    CardObject& object = it->second;
    ObjectInfo info;
    if (object.folder) {
        info.format = ObjectInfo::associationFormat;
        info.associationType = ObjectInfo::genericFolder;
        info.size = object.size;
        info.filename = object.name;
        info.captureDate = object.date;
        info.modificationDate = object.date;
    } else {
        info = pictureObjectInfo(factsOf(object), object.name, object.date, object.size);
    }
    info.storageId = model_.storageId;
    info.parent = object.parent;
    return info;
}

std::optional<Bytes> VirtualCard::thumbnail(std::uint32_t handle) {
    const auto it = objects_.find(handle);
    if (it == objects_.end() || it->second.folder) return std::nullopt;
    const PictureFacts& facts = factsOf(it->second);
    if (!facts.thumbnail) return std::nullopt;
    QFile file(it->second.path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(static_cast<qint64>(facts.thumbnail->offset)))
        return std::nullopt;
    const QByteArray bytes = file.read(static_cast<qint64>(facts.thumbnail->length));
    if (static_cast<std::uint64_t>(bytes.size()) != facts.thumbnail->length) return std::nullopt;
    return Bytes(bytes.begin(), bytes.end());
}

std::uint64_t VirtualCard::usedBytes() const {
    std::uint64_t used = 0;
    for (const auto& [handle, object] : objects_) used += object.size;
    return used;
}

Bytes VirtualCard::storageInfo() const {
    const std::uint64_t used = usedBytes();
    const std::uint64_t free = model_.capacity > used ? model_.capacity - used : 0;
    const double perImage =
        std::max(1.0, static_cast<double>(model_.sensorWidth) * model_.sensorHeight * 0.8);
    Bytes out;
    PTP::appendLE(out, std::uint16_t{4});  // removable RAM (memory card)
    PTP::appendLE(out, std::uint16_t{3});  // DCF
    PTP::appendLE(out, model_.accessCapability);
    PTP::appendLE(out, model_.capacity);
    PTP::appendLE(out, free);
    PTP::appendLE(
        out, static_cast<std::uint32_t>(std::min(static_cast<double>(free) / perImage, 4.0e9)));
    out.push_back(0);  // StorageDescription: none
    const Bytes label =
        model_.volumeLabel.isEmpty() ? Bytes{0} : PTP::encodeString(model_.volumeLabel);
    out.insert(out.end(), label.begin(), label.end());
    return out;
}

std::optional<std::uint32_t> VirtualCard::handleOfPath(const QString& path) const {
    for (const auto& [handle, object] : objects_)
        if (object.path == path) return handle;
    return std::nullopt;
}

Result<VirtualCard::Slot, QString> VirtualCard::nextSlot() {
    Slot slot;
    const auto makeFolder = [&](const QString& path,
                                std::uint32_t parent) -> std::optional<std::uint32_t> {
        if (const auto known = handleOfPath(path)) return known;
        if (!QDir().mkpath(path)) return std::nullopt;
        CardObject folder;
        folder.parent = parent;
        folder.folder = true;
        folder.name = QFileInfo(path).fileName();
        folder.path = path;
        folder.date = QFileInfo(path).lastModified();
        const std::uint32_t handle = add(std::move(folder));
        slot.newFolders.push_back(handle);
        return handle;
    };

    std::optional<std::uint32_t> dcim;
    for (const auto& [handle, object] : objects_)
        if (object.parent == 0 && object.folder &&
            object.name.compare(QStringLiteral("DCIM"), Qt::CaseInsensitive) == 0)
            dcim = handle;
    if (!dcim) dcim = makeFolder(root_ + QStringLiteral("/DCIM"), 0);
    if (!dcim) return QString::fromUtf8("カードに DCIM フォルダを作れません: ") + root_;

    // The current folder is the highest-numbered one; a full one, or a file number that
    // has run out, starts the next.
    int folderNumber = 0;
    std::optional<std::uint32_t> current;
    for (const auto& [handle, object] : objects_) {
        if (object.parent != *dcim || !object.folder) continue;
        const auto match = folderPattern().match(object.name);
        if (match.hasMatch() && match.captured(1).toInt() > folderNumber) {
            folderNumber = match.captured(1).toInt();
            current = handle;
        }
    }
    const auto fileCount = [this](std::uint32_t folder) {
        const auto list = children(folder);
        return static_cast<int>(std::count_if(
            list.begin(), list.end(), [this](std::uint32_t h) { return !objects_.at(h).folder; }));
    };
    if (current &&
        (fileCount(*current) >= model_.picturesPerFolder || lastNumber_ >= kLastFileNumber)) {
        if (folderNumber >= kLastFolder)
            return QString::fromUtf8("カードのフォルダ番号が尽きました: ") + root_;
        current.reset();
        ++folderNumber;
    }
    if (!current) {
        const QString path = objects_.at(*dcim).path + u'/' +
                             folderName(std::max(folderNumber, kFirstFolder), model_);
        current = makeFolder(path, *dcim);
        if (!current) return QString::fromUtf8("カードにフォルダを作れません: ") + path;
    }

    // A number whose name is taken in any form is skipped, as the camera does.
    const QString folderPath = objects_.at(*current).path;
    for (int attempt = 0; attempt < kLastFileNumber; ++attempt) {
        const int number = lastNumber_ >= kLastFileNumber ? 1 : lastNumber_ + 1;
        lastNumber_ = number;
        const QString base = numbered(model_.filePrefix, number);
        const QDir folderDir(folderPath);
        if (folderDir.entryList({base + QStringLiteral(".*")}, QDir::Files | QDir::Hidden)
                .isEmpty()) {
            slot.folder = *current;
            slot.folderPath = folderPath;
            slot.baseName = base;
            return slot;
        }
    }
    return QString::fromUtf8("カードのファイル番号が尽きました: ") + folderPath;
}

std::uint32_t VirtualCard::addFile(std::uint32_t folder, const QString& path,
                                   std::optional<PictureFacts> facts) {
    const QFileInfo info(path);
    CardObject object;
    object.parent = folder;
    object.name = info.fileName();
    object.path = info.absoluteFilePath();
    object.size = static_cast<std::uint64_t>(info.size());
    object.date = info.lastModified();
    object.facts = std::move(facts);
    return add(std::move(object));
}

std::uint16_t VirtualCard::remove(std::uint32_t handle) {
    const auto it = objects_.find(handle);
    if (it == objects_.end()) return PTP::code(PTP::Response::invalidObjectHandle);
    const CardObject& object = it->second;
    if (object.folder) {
        if (!children(handle).empty()) return PTP::code(PTP::Response::accessDenied);
        if (QFileInfo::exists(object.path) && !QDir().rmdir(object.path))
            return PTP::code(PTP::Response::storeReadOnly);
    } else if (QFileInfo::exists(object.path) && !QFile::remove(object.path)) {
        return PTP::code(PTP::Response::storeReadOnly);
    }
    objects_.erase(it);
    return PTP::code(PTP::Response::ok);
}

}  // namespace pexil::camera
