// The card browser's pictures: lazy cell thumbnails and the large preview of the focus.
#include "app/card/CardModel.h"

#include "app/shots/OrientedImage.h"
#include "app/shots/PictureMetadata.h"
#include "kit/async/Sleep.h"
#include "kit/async/WorkQueue.h"
#include "kit/cardfile/CardFile.h"

#include <algorithm>

namespace pexil {

namespace {

bool isJpegName(const QString& name) {
    return name.endsWith(QStringLiteral(".JPG"), Qt::CaseInsensitive) ||
           name.endsWith(QStringLiteral(".JPEG"), Qt::CaseInsensitive);
}

QByteArray bytesOf(const Bytes& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()),
                      static_cast<qsizetype>(data.size()));
}

}  // namespace

// --- thumbnails ---

void CardModel::requestThumbnail(const QString& id) {
    if (thumbnailRequested_.count(id) == 0 &&
        std::find(thumbnailQueue_.begin(), thumbnailQueue_.end(), id) == thumbnailQueue_.end())
        thumbnailQueue_.push_back(id);
    if (!loading_) runThumbnailQueue();
}

void CardModel::withdrawThumbnail(const QString& id) {
    thumbnailQueue_.erase(std::remove(thumbnailQueue_.begin(), thumbnailQueue_.end(), id),
                          thumbnailQueue_.end());
}

void CardModel::runThumbnailQueue() {
    if (thumbnailWorker_ || thumbnailQueue_.empty()) return;
    const std::uint64_t generation = ++thumbnailGeneration_;
    thumbnailWorker_ = scope_.spawn(thumbnailLoop(generation));
}

void CardModel::cancelThumbnailWorker() {
    if (thumbnailWorker_) thumbnailWorker_->cancel();
    thumbnailWorker_.reset();
    ++thumbnailGeneration_;
}

async::Task<void> CardModel::thumbnailLoop(std::uint64_t generation) {
    for (;;) {
        const bool cancelled = co_await async::isCancelled();
        if (cancelled || loading_ || thumbnailQueue_.empty()) break;
        if (importPhase_) {
            // An import has the camera's attention; thumbnails would only slow it down.
            co_await async::sleep(importPauseSeconds);
            continue;
        }
        const QString id = thumbnailQueue_.front();
        thumbnailQueue_.pop_front();
        const CardItem* target = item(id);
        if (thumbnailRequested_.count(id) > 0 || !target) continue;
        thumbnailRequested_.insert(id);
        const auto source = sourceOf(target->file);
        if (!source) continue;

        const auto data = co_await CardFile::thumbnailData(source, thumbnailPixels);
        if (!data) continue;
        auto decode = [bytes = bytesOf(*data)] {
            return OrientedImage::make(bytes, std::nullopt, std::nullopt);
        };
        auto image = co_await async::runOn(decodeQueue(), std::move(decode));
        if (!image) continue;
        if (image->width() > image->height()) {
            // A camera's thumbnail is stored as the sensor sees it; the head says how it was held.
            const auto orientation = co_await CardFile::orientation(source);
            auto turn = [picture = *image, orientation] {
                return OrientedImage::rotate(picture, orientation);
            };
            auto turned = co_await async::runOn(decodeQueue(), std::move(turn));
            if (turned) image = std::move(turned);
        }
        const bool stopped = co_await async::isCancelled();
        if (stopped) break;
        if (CardItem* still = findItem(id)) {
            still->thumbnail = std::move(*image);
            emit itemUpdated(id);
        }
    }
    if (thumbnailGeneration_ == generation) thumbnailWorker_.reset();
}

// --- preview ---

void CardModel::cancelPreview() {
    if (previewTask_) previewTask_->cancel();
    previewTask_.reset();
}

void CardModel::open(const QString& id) {
    setFocus(id);
    setPreview(QImage());
    cancelPreview();
    if (!item(id)) return;
    previewTask_ = scope_.spawn(loadPreview(id));
}

void CardModel::close() {
    cancelPreview();
    setFocus(std::nullopt);
    setPreview(QImage());
}

async::Task<void> CardModel::loadPreview(QString id) {
    const CardItem* target = item(id);
    if (!target) co_return;
    const auto source = sourceOf(target->file);
    if (!source) co_return;

    // A JPEG has no larger picture inside than the camera's 160-pixel thumbnail: the file
    // itself is the preview, decoded at the view's size.
    if (isJpegName(target->name) && target->size > 0 && target->size <= CardFile::largestPreviewSize) {
        const auto whole = co_await CardFile::read(source, 0, target->size);
        const bool cancelledAfterFile = co_await async::isCancelled();
        if (cancelledAfterFile || focus_ != id) co_return;
        if (whole) {
            auto decode = [bytes = bytesOf(*whole)] {
                const auto metadata = PictureMetadata::read(bytes);
                return OrientedImage::make(bytes, metadata ? std::optional<int>(metadata->orientation) : std::nullopt,
                                           previewPixels);
            };
            auto image = co_await async::runOn(decodeQueue(), std::move(decode));
            const bool cancelledAfterDecode = co_await async::isCancelled();
            if (cancelledAfterDecode || focus_ != id) co_return;
            if (image) {
                setPreview(std::move(*image));
                co_return;
            }
        }
    }

    const auto embedded = co_await CardFile::embeddedPreview(source);
    const bool cancelledAfterEmbedded = co_await async::isCancelled();
    if (cancelledAfterEmbedded || focus_ != id) co_return;
    std::optional<QImage> image;
    if (embedded) {
        auto decode = [jpeg = bytesOf(embedded->jpeg), orientation = embedded->orientation] {
            return OrientedImage::make(jpeg, orientation, previewPixels);
        };
        image = co_await async::runOn(decodeQueue(), std::move(decode));
    } else {
        const auto data = co_await CardFile::thumbnailData(source, fallbackPreviewPixels);
        const bool cancelledAfterThumbnail = co_await async::isCancelled();
        if (cancelledAfterThumbnail || focus_ != id || !data) co_return;
        auto decode = [bytes = bytesOf(*data)] {
            return OrientedImage::make(bytes, std::nullopt, std::nullopt);
        };
        image = co_await async::runOn(decodeQueue(), std::move(decode));
    }
    // Decoding takes its time too; another item may have been opened meanwhile.
    const bool cancelledAfterDecode = co_await async::isCancelled();
    if (cancelledAfterDecode || focus_ != id || !image) co_return;
    setPreview(std::move(*image));
}

}  // namespace pexil
