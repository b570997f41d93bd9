// The card catalogue of CameraLink: what is on the card, when that list is complete, and
// which arriving files are fresh shots to save.
#include "app/connection/CameraLink.h"

#include "kit/async/Sleep.h"
#include "kit/ptp/PTPReader.h"

namespace pexil {

namespace {

constexpr double settleQuietSeconds = 1.5;
constexpr int countSlack = 10;
constexpr double settleExtraSeconds = 8;
constexpr double notifyDelaySeconds = 0.3;
constexpr double freshMarginSeconds = 2;

// Whether the camera's own count leaves nothing to wait for: the catalogue is within the slack
// of it (folders are counted objects that never arrive as files).
bool countAgrees(std::size_t catalogued, std::optional<int> expected) {
    return expected && static_cast<qint64>(catalogued) + countSlack >= *expected;
}

}  // namespace

void CameraLink::cardFilesArrived(const std::vector<CameraFilePtr>& files) {
    for (const auto& file : files) {
        if (!file || file->name().isEmpty()) continue;  // ingest() tells of it
        cardFiles_[file->parentFolder() + u'/' + file->name()] = file;
    }
    scheduleSettle();
    notifyCardChanged();
}

void CameraLink::scheduleSettle() {
    if (!serviceCatalogComplete_ || cardSettled_) return;
    if (settleTask_) settleTask_->cancel();
    settleTask_.reset();
    // Our camera service reports the catalogue complete only once it has read every object;
    // with the camera's count agreeing there is nothing left to wait for. The quiet period
    // stays for a count that is unknown or short, and for a service whose notice may come early.
    if (settleOnCatalogComplete && countAgrees(cardFiles_.size(), cardExpected_)) {
        settleNow();
        return;
    }
    settleTask_ = scope_.spawn(settle());
}

async::Task<void> CameraLink::settle() {
    co_await async::sleep(settleQuietSeconds);
    const bool quietCancelled = co_await async::isCancelled();
    if (quietCancelled) co_return;
    const int catalogued = static_cast<int>(cardFiles_.size());
    if (cardExpected_ && catalogued + countSlack < *cardExpected_) {
        co_await async::sleep(settleExtraSeconds);
        const bool extraCancelled = co_await async::isCancelled();
        if (extraCancelled) co_return;
        write(QString::fromUtf8("カードの一覧: %1 件のうち %2 件で到着が止まった")
                  .arg(QString::number(*cardExpected_), QString::number(cardFiles_.size())));
    }
    settleNow();
}

void CameraLink::settleNow() {
    cardSettled_ = true;
    emit cardSettledNow();
    const QString counted = cardExpected_ ? QString::number(*cardExpected_) : QStringLiteral("?");
    write(QString::fromUtf8("カードの一覧が出そろった: %1 件（数えたオブジェクト %2 件）")
              .arg(QString::number(cardFiles_.size()), counted));
    notifyCardChanged();
}

async::Task<void> CameraLink::countObjects(std::shared_ptr<PTPCamera> cam) {
    std::vector<std::uint32_t> params{0xFFFFFFFF, 0, 0};
    auto answer = co_await cam->send(PTP::Op::getObjectHandles, std::move(params));
    // A count that arrives after the session ended belongs to no catalogue.
    if (!answer || camera_ != cam) co_return;
    PTPReader reader(answer.value());
    const auto count = reader.read<std::uint32_t>();
    if (!count) co_return;
    // Handle arrays are counted in 32 bits; no card holds more than an int's worth.
    cardExpected_ = static_cast<int>(std::min<std::uint32_t>(*count, 0x7FFFFFFF));
    write(QString::fromUtf8("カード内のオブジェクト %1 件").arg(*cardExpected_));
    notifyCardChanged();
    // The service may have finished the catalogue before the count came: judge it again, but
    // leave a quiet period already running alone when the count does not settle it.
    if (serviceCatalogComplete_ && settleOnCatalogComplete &&
        countAgrees(cardFiles_.size(), cardExpected_))
        scheduleSettle();
}

void CameraLink::notifyCardChanged() {
    if (cardNotifyPending_) return;
    cardNotifyPending_ = true;
    scope_.spawn(deliverCardChanged());
}

async::Task<void> CameraLink::deliverCardChanged() {
    co_await async::sleep(notifyDelaySeconds);
    cardNotifyPending_ = false;
    emit cardChanged();
}

QString CameraLink::shotKey(const camera::CameraFile& file) {
    return file.name() + u'#' + QString::number(file.fileSize());
}

bool CameraLink::isFresh(const camera::CameraFile& file) const {
    const auto created = file.creationDate();
    if (!created || !openedAt_) return false;
    // The camera's time read on our clock: a camera clock ahead would otherwise make every
    // picture of the last minutes look as if it had been taken just now.
    const double drift = clockDrift_.value_or(0.0);
    const QDateTime ours = created->addMSecs(std::llround(drift * 1000));
    const QDateTime since = freshSince_ && *freshSince_ < *openedAt_ ? *freshSince_ : *openedAt_;
    return ours >= since.addMSecs(-std::llround(freshMarginSeconds * 1000));
}

void CameraLink::expectRelease() {
    openRelease_ = ++releases_;
}

bool CameraLink::madeByRelease(const camera::CameraFile& file) const {
    return madeBy_.count(shotKey(file)) > 0;
}

bool CameraLink::isClaimed(const camera::CameraFile& file) const {
    // This session's only: a picture of another card that shares a name and size with one
    // saved earlier is not the same picture.
    return claimed_.count(shotKey(file)) > 0;
}

void CameraLink::ingest(const std::vector<CameraFilePtr>& files, bool added) {
    for (const auto& file : files) {
        if (!file) continue;
        if (file->name().isEmpty()) {
            // Nothing to name the picture by, nor to tell it from the next one: said, not dropped.
            write(QString::fromUtf8("名前のないファイルを受け取った（ハンドル %1, %2 バイト）")
                      .arg(file->handle())
                      .arg(file->fileSize()));
            if (added && openRelease_)
                fail(QStringLiteral("?"), QString::fromUtf8("カメラがファイル名を告げませんでした"),
                     true);
            continue;
        }
        if (!seenNames_.insert(file->name()).second) continue;
        const QString key = shotKey(*file);
        const bool released = added && openRelease_.has_value();
        if (released) madeBy_[key] = *openRelease_;
        if (!released && !isFresh(*file)) continue;
        if (savedFiles_.contains(key) || claimed_.contains(key)) continue;
        if (!released && alreadySaved && alreadySaved(*file)) {
            write(QString::fromUtf8("保存済みのため保存しない: ") + file->name());
            continue;
        }
        write(QString::fromUtf8("撮影ファイル: %1 %2 バイト")
                  .arg(file->name(), QString::number(file->fileSize())));
        claimed_.insert(key);
        queue_.push_back(file);
    }
    if (!draining_ && !queue_.empty()) {
        draining_ = true;
        scope_.spawn(drainQueue());
    }
}

}  // namespace pexil
