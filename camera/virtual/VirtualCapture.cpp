#include "camera/virtual/VirtualCapture.h"

#include "camera/virtual/PictureFactory.h"

#include <algorithm>

namespace pexil::camera {

namespace {

// What the quality setting (0x5004) makes, in Nikon's numbering: 4 raw, 5–7 and 11–13 raw
// plus JPEG, the rest JPEG. TIFF (3) is written as JPEG.
FileKind fileKind(const VirtualModel& model, std::int64_t compression) {
    if (!model.isNikon()) return FileKind::jpeg;
    if (compression == 4) return FileKind::raw;
    if ((compression >= 5 && compression <= 7) || (compression >= 11 && compression <= 13))
        return FileKind::both;
    return FileKind::jpeg;
}

// The lock is held.
void captureDone(VirtualBodyState& s) {
    --s.capturesPending;
    if (s.properties.has(PTP::code(PTP::Prop::nikonMaximumShots)))
        s.raiseChanged(
            s.properties.force(PTP::code(PTP::Prop::nikonMaximumShots), s.model.bufferShots));
    s.changed.notify_all();
}

// Without the lock but while it writes the files.
void finishCapture(VirtualBodyState& s, const CaptureOrder& order, PictureFactory& factory) {
    const VirtualModel& model = s.model;
    const auto finished = [&] {
        std::lock_guard lock(s.mutex);
        captureDone(s);
    };

    std::optional<VirtualCard::Slot> slot;
    int number = 0;
    {
        std::lock_guard lock(s.mutex);
        if (order.toSdram) {
            number = ++s.sdramShots;
        } else {
            auto next = s.card->nextSlot();
            if (!next) {
                s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + next.error());
                s.changed.notify_all();
            } else {
                slot = std::move(next).value();
                number = slot->baseName.right(4).toInt();
            }
        }
    }
    if (!order.toSdram && !slot) {
        finished();
        return;
    }

    const auto [width, height] = pictureSize(model, s.options.fullSizePictures);
    auto scene = factory.render(
        width, height, s.options.seed ^ (static_cast<std::uint64_t>(number) << 20), number);
    if (!scene) {
        s.log(QString::fromUtf8("仮想カメラ: 撮影した画像を作れません: ") + scene.error());
        finished();
        return;
    }
    PictureMeta meta;
    meta.make = model.exifMake;
    meta.model = model.exifModel;
    meta.software = model.software;
    meta.taken = order.taken;
    meta.exposure = order.exposure;
    meta.sensorWidth = model.sensorWidth;
    meta.sensorHeight = model.sensorHeight;
    meta.rawBitDepth = model.rawBitDepth;
    if (carriesGps(number, s.options.gpsEvery)) meta.gps = cameraGpsFix();
    const std::uint32_t rawBytes = rawDataBytes(model, s.options.fullSizePictures);
    const std::uint64_t noiseSeed = s.options.seed ^ static_cast<std::uint64_t>(number);

    if (order.toSdram) {
        // The camera's memory holds one picture: the raw file when it records raw, else the JPEG.
        VirtualBodyState::Sdram sdram;
        const bool raw = order.kind != FileKind::jpeg;
        sdram.name = model.filePrefix + QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0')) +
                     u'.' + (raw ? model.rawExtension : QStringLiteral("JPG"));
        sdram.date = order.taken;
        if (raw) {
            sdram.data = PictureFactory::rawHead(scene.value(), meta, 0);
        } else {
            sdram.data = PictureFactory::jpegFile(scene.value(), meta);
        }
        sdram.facts = probePicture(sdram.data, sdram.name);
        std::lock_guard lock(s.mutex);
        s.sdram = std::move(sdram);
        s.raise(PTP::Event::objectAdded, kSdramHandle);
        s.raise(PTP::Event::captureComplete, order.transactionId);
        captureDone(s);
        return;
    }

    struct Written {
        QString path;
        PictureFacts facts;
    };
    std::vector<Written> written;
    const QString base = slot->folderPath + u'/' + slot->baseName;
    if (order.kind != FileKind::jpeg) {
        const QString path = base + u'.' + model.rawExtension;
        const auto result = writeCardFile(
            path,
            [&](QIODevice& out) {
                return PictureFactory::writeRawFile(out, scene.value(), meta, rawBytes, noiseSeed);
            },
            order.taken);
        if (result)
            written.push_back(
                {path, probePicture(PictureFactory::rawHead(scene.value(), meta, rawBytes), path)});
        else
            s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + result.error());
    }
    if (order.kind != FileKind::raw) {
        const QString path = base + QStringLiteral(".JPG");
        const Bytes bytes = PictureFactory::jpegFile(scene.value(), meta);
        const auto result = writeCardFile(path, bytes, order.taken);
        if (result)
            written.push_back({path, probePicture(bytes, path)});
        else
            s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + result.error());
    }

    std::lock_guard lock(s.mutex);
    for (const std::uint32_t folder : slot->newFolders) s.raise(PTP::Event::objectAdded, folder);
    for (const Written& file : written)
        s.raise(PTP::Event::objectAdded, s.card->addFile(slot->folder, file.path, file.facts));
    if (!written.empty()) s.raise(PTP::Event::captureComplete, order.transactionId);
    captureDone(s);
}

}  // namespace

void startCapture(VirtualBodyState& s, std::uint32_t transactionId) {
    CaptureOrder order;
    order.taken = s.cameraNow();
    order.exposure = s.properties.exposure();
    order.kind =
        fileKind(s.model, s.properties.has(PTP::code(PTP::Prop::compressionSetting))
                              ? s.properties.number(PTP::code(PTP::Prop::compressionSetting))
                              : 2);
    order.toSdram = s.properties.has(PTP::code(PTP::Prop::nikonRecordingMedia)) &&
                    s.properties.number(PTP::code(PTP::Prop::nikonRecordingMedia)) == 1;
    order.transactionId = transactionId;
    const auto now = s.now();
    ++s.capturesPending;
    s.busyUntil = std::max(s.busyUntil, now + s.options.timings.capture);
    s.jobs.push_back({now + s.options.timings.capture, order});
    if (!s.options.bodyThread && s.options.wakeAt) s.options.wakeAt(s.jobs.back().due);
    if (s.properties.has(PTP::code(PTP::Prop::nikonMaximumShots)))
        s.raiseChanged(s.properties.force(
            PTP::code(PTP::Prop::nikonMaximumShots),
            std::max<std::int64_t>(
                0, s.properties.number(PTP::code(PTP::Prop::nikonMaximumShots)) - 1)));
    s.changed.notify_all();
}

void finishDueCaptures(VirtualBodyState& s, std::unique_lock<std::mutex>& lock) {
    std::optional<PictureFactory> factory;
    while (!s.stopping && !s.jobs.empty() && s.jobs.front().due <= s.now()) {
        const CaptureOrder order = s.jobs.front().order;
        s.jobs.pop_front();
        if (!factory) factory.emplace();
        lock.unlock();
        finishCapture(s, order, *factory);
        lock.lock();
    }
}

void runBody(VirtualBodyState& s) {
    PictureFactory factory;
    std::unique_lock lock(s.mutex);
    while (!s.stopping) {
        if (s.jobs.empty()) {
            s.changed.wait(lock);
            continue;
        }
        const auto due = s.jobs.front().due;
        if (s.now() < due) {
            s.clock->waitUntil(lock, s.changed, due, [&] { return s.stopping; });
            continue;
        }
        const CaptureOrder order = s.jobs.front().order;
        s.jobs.pop_front();
        lock.unlock();
        finishCapture(s, order, factory);
        lock.lock();
    }
}

}  // namespace pexil::camera
