// Saving pictures from the card: the queue of fresh shots and the download itself.
#include "app/connection/CameraLink.h"

#include "kit/ptp/Localized.h"

#include <QDir>

namespace pexil {

async::Task<void> CameraLink::drainQueue() {
    while (!queue_.empty()) {
        auto file = queue_.front();
        queue_.pop_front();
        co_await save(std::move(file));
    }
    draining_ = false;
}

async::Task<void> CameraLink::save(CameraFilePtr file) {
    const QString name = file->name().isEmpty() ? QStringLiteral("?") : file->name();
    const QString folder = destination;
    const bool remove = deleteAfterDownload;
    const std::uint64_t total = file->info().size;
    emit shotProgress(name, 0, total);
    Progress progress = [this, name](std::uint64_t received, std::uint64_t size) {
        emit shotProgress(name, received, size);
    };
    QString wanted = nameFor ? nameFor(*file, folder) : QString();
    auto result = co_await download(file, folder, remove, std::move(progress), std::move(wanted));
    if (!result) {
        // Not saved: the picture is the card's again, to be imported like any other.
        claimed_.erase(shotKey(*file));
        fail(name, result.error().message(), result.error().fromCamera());
        notifyCardChanged();
        co_return;
    }
    savedFiles_.insert(shotKey(*file));
    emit fileSaved(result.value(), file);
}

void CameraLink::fail(const QString& name, const QString& message, bool fromCamera) {
    write(QString::fromUtf8("転送失敗 ") + name + QString::fromUtf8(": ") + message);
    emit downloadFailed(name, message, fromCamera);
}

async::Task<CameraLink::DownloadResult> CameraLink::download(CameraFilePtr file, QString folder,
                                                             bool deleteFromCard, Progress progress,
                                                             QString name) {
    const QString wanted =
        QDir(folder).filePath(savedNameFor(name.isEmpty() ? file->name() : name));
    ++downloading_;
    emit downloadingChanged();
    const double start = runtime_.clock().monotonic().count();
    // Callers await this from tasks of their own, which may outlive the link.
    const auto watch = lifetime_.watch();
    // A local, not a braced temporary: g++ 12 destroys such a temporary twice in co_await.
    camera::CameraFile::DownloadOptions options{folder, deleteFromCard, {}, {}, name};
    if (progress) {
        // Told on the I/O thread; heard on the main one, while the link lives.
        options.progress = [&main = runtime_.main(), watch, progress](std::uint64_t received, std::uint64_t total) {
            main.post([watch, progress, received, total] {
                if (watch.alive()) progress(received, total);
            });
        };
    }
    auto transfer = co_await file->download(std::move(options));
    if (!watch.alive()) {
        co_return DownloadFailure::camera(DownloadFailure::Kind::sessionEnded, wanted,
                                          localized("カメラとの接続が終わりました"));
    }
    --downloading_;
    emit downloadingChanged();
    if (!transfer) co_return transfer.error();
    const camera::CameraFile::Downloaded& saved = transfer.value();
    if (saved.notDeleted) {
        // The picture is safely on disk; only removing it from the card failed. Calling this
        // a failed save would hide a good file and invite saving it a second time.
        write(QString::fromUtf8("  カードから削除できません: ") + saved.name +
              QString::fromUtf8(": ") + saved.notDeleted->message);
    }
    write(QString::fromUtf8("保存: %1 %2 秒")
              .arg(saved.name,
                   QString::number(runtime_.clock().monotonic().count() - start, 'f', 1)));
    co_return DownloadResult(QDir(folder).filePath(saved.name));
}

}  // namespace pexil
