// Saving pictures from the card: the queue of fresh shots and the download itself.
#include "app/connection/CameraLink.h"

#include "kit/async/Completion.h"
#include "kit/ptp/Localized.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace pexil {

namespace {

struct Transfer {
    std::optional<QString> written;
    std::optional<TransportError> error;
};

// The camera's name when free, else STEM-1.EXT, STEM-2.EXT …
QString freeName(const QDir& folder, const QString& name) {
    if (!QFileInfo::exists(folder.filePath(name))) return name;
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    const QString suffix = info.suffix();
    for (int n = 1;; ++n) {
        QString candidate = stem + u'-' + QString::number(n);
        if (!suffix.isEmpty()) candidate += u'.' + suffix;
        if (!QFileInfo::exists(folder.filePath(candidate))) return candidate;
    }
}

}  // namespace

QString CameraLink::savedNameFor(const QString& cameraName) {
    QString name = cameraName;
    for (QChar& c : name)
        if (c == u'/' || c == u'\\' || c == QChar(u'\0')) c = u'_';
    if (name.startsWith(u'.')) name[0] = u'_';
    return name.isEmpty() ? QStringLiteral("_") : name;
}

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
    auto result = co_await download(file, folder, remove);
    if (!result) {
        fail(name, result.error().message);
        co_return;
    }
    savedFiles_.insert(file->name() + u'#' + QString::number(file->fileSize()));
    if (onFileSaved) onFileSaved(result.value(), file);
}

void CameraLink::fail(const QString& name, const QString& message) {
    write(QString::fromUtf8("転送失敗 ") + name + QString::fromUtf8(": ") + message);
    if (onDownloadFailed) onDownloadFailed(name, message);
}

async::Task<CameraLink::DownloadResult> CameraLink::download(CameraFilePtr file, QString folder,
                                                             bool deleteFromCard) {
    const QString name = file->name().isEmpty() ? QStringLiteral("?") : file->name();
    std::error_code made;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), made);
    if (made) {
        co_return DownloadFailure{localized("保存先を作成できません（%1）: %2")
                                      .arg(folder, QString::fromLocal8Bit(made.message()))};
    }
    const QDir dir(folder);
    const QString chosen = freeName(dir, savedNameFor(name));
    ++downloading_;
    const double start = runtime_.clock().monotonic().count();
    camera::CameraFile::DownloadOptions options{folder, chosen, deleteFromCard};
    // Named, not a temporary: g++ 12 destroys a capturing lambda temporary twice in co_await.
    auto request = [file, options](async::Resolver<Transfer> resolver) {
        file->requestDownload(options, [resolver](std::optional<QString> written,
                                                  std::optional<TransportError> error) {
            resolver.resolve(Transfer{std::move(written), std::move(error)});
        });
    };
    // Callers await this from tasks of their own, which may outlive the link.
    const auto watch = lifetime_.watch();
    auto transfer = co_await async::waitFor<Transfer>(std::move(request));
    if (!watch.alive()) {
        co_return DownloadFailure{localized("保存できません（%1）: カメラとの接続が終わりました")
                                      .arg(dir.filePath(chosen))};
    }
    --downloading_;
    if (!transfer.written) {
        const QString problem =
            transfer.error ? transfer.error->message : QString::fromUtf8("不明なエラー");
        co_return DownloadFailure{
            localized("保存できません（%1）: %2").arg(dir.filePath(chosen), problem)};
    }
    const QString saved = dir.filePath(*transfer.written);
    // Readable by the other programs of the workflow whatever our umask; failing is harmless.
    QFile::setPermissions(saved, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (transfer.error) {
        // The picture is safely on disk; only removing it from the card failed. Calling this
        // a failed save would hide a good file and invite saving it a second time.
        write(QString::fromUtf8("  カードから削除できません: ") + *transfer.written +
              QString::fromUtf8(": ") + transfer.error->message);
    }
    write(QString::fromUtf8("保存: %1 %2 秒")
              .arg(*transfer.written,
                   QString::number(runtime_.clock().monotonic().count() - start, 'f', 1)));
    co_return DownloadResult(saved);
}

}  // namespace pexil
