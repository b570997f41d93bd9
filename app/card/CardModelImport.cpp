// Importing from the card: downloads one at a time, the ledger, positions, the summary.
#include "app/card/CardModel.h"

#include "app/geo/GeoStore.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/Localized.h"

#include <algorithm>

namespace pexil {

void CardModel::importSelected() {
    CardItems list;
    for (const CardItem& item : items_)
        if (selection_.count(item.id) > 0 && !item.imported) list.push_back(item);
    startImport(std::move(list));
}

void CardModel::importAll() {
    startImport(unimported());
}

CardItems CardModel::resumable() const {
    CardItems out;
    if (cut_.empty() || serial() != cutSerial_) return out;
    for (const CardItem& item : items_)
        if (!item.imported && cut_.count(item.id) > 0) out.push_back(item);
    return out;
}

void CardModel::resumeImport() {
    startImport(resumable());
}

void CardModel::cancelImport() {
    if (!importPhase_ || cancelRequested_) return;
    cancelRequested_ = true;
    write(QString::fromUtf8("取り込みの中止を受け付けた"));
}

bool CardModel::startImport(CardItems list) {
    if (list.empty() || importPhase_) return false;
    setLastSummary(std::nullopt);
    cancelRequested_ = false;
    cut_.clear();
    // Set before the task starts, so that a second request in the same turn is refused too.
    setImportPhase(ImportPhase::downloading(0, static_cast<int>(list.size())));
    scope_.spawn(runImport(std::move(list)));
    return true;
}

async::Task<void> CardModel::runImport(CardItems list) {
    // Oldest first, undated first: the destination fills in the order the pictures were taken.
    std::stable_sort(list.begin(), list.end(), [](const CardItem& a, const CardItem& b) {
        if (!a.captured || !b.captured) return !a.captured && b.captured;
        return *a.captured < *b.captured;
    });
    const int total = static_cast<int>(list.size());
    write(QString::fromUtf8("カードから取り込み: ") + QString::number(total) +
          QString::fromUtf8(" 件"));
    setImportPhase(ImportPhase::downloading(0, total));
    const QString serialNumber = serial();

    QStringList saved;
    QStringList failedNames;
    int left = 0;
    std::set<QString> failedIds;
    for (int i = 0; i < total; ++i) {
        if (cancelRequested_) {
            left = total - i;
            break;
        }
        const CardItem& item = list[static_cast<std::size_t>(i)];
        std::optional<QString> failure;
        if (!item.file) {
            failure = localized("カードにファイルがありません");
        } else {
            // The link never deletes here: an import leaves the card as it was.
            auto result = co_await link_.download(item.file, folderFor(item.captured), false);
            if (result) {
                saved << result.value();
                imported_[importKey(item.id)] = {result.value(), {}};
            } else
                failure = result.error().message();
        }
        if (failure) {
            failedNames << item.name;
            failedIds.insert(item.id);
            write(QString::fromUtf8("取り込み失敗 ") + item.name + QString::fromUtf8(": ") +
                  *failure);
        } else {
            ledger_.record(serialNumber, item.name, item.size, item.captured);
            if (CardItem* still = findItem(item.id); still && !still->imported) {
                still->imported = true;
                emit itemUpdated(item.id);
            }
        }
        setImportPhase(ImportPhase::downloading(i + 1, total));
        emit fileImported(i + 1, total, item.name, failure);
    }

    std::optional<int> written;
    const auto payload = geo_.payload();
    if (writeLocations_ && payload) written = co_await writePositions(saved, *payload);
    setImportPhase(std::nullopt);
    if (!saved.isEmpty()) emit picturesSaved(saved);

    QString text = summary(static_cast<int>(saved.size()),
                           saved.isEmpty() ? std::nullopt : written, failedNames);
    if (left > 0) text += localized("。中止しました（%1 枚はカードに残っています）").arg(left);
    // Files that failed because the camera went away stay on the card; the same camera back,
    // the import goes on with them alone.
    if (!failedIds.empty() && !link_.camera()) {
        cut_ = std::move(failedIds);
        cutSerial_ = serialNumber;
        text += localized("。カメラがつながると続きを取り込めます");
    }
    cancelRequested_ = false;
    lastImportFailed_ = !failedNames.isEmpty() || left > 0;
    setLastSummary(text);
    write(text);
}

async::Task<int> CardModel::writePositions(QStringList saved, GeoPayload payload) {
    // Matching reads each copy's metadata, so it runs beside the writing, off the main thread.
    auto matchAll = [paths = std::move(saved), record = std::move(payload), log = log_.writer()] {
        const GeoWriter writer(record, GeoWriter::defaultTolerance, false);
        std::vector<GeoWriter::Match> matches;
        for (const QString& path : paths) {
            auto match = writer.match(path);
            if (!match) continue;
            // Matching alone would hand ExifTool a picture whose camera recorded its own
            // position, and ExifTool overwrites in place: the camera's GPS must stay.
            if (GeoWriter::hasGPS(path)) {
                log(QString::fromUtf8("位置情報があるため書き込まない: ") +
                    QFileInfo(path).fileName());
                continue;
            }
            matches.push_back(std::move(*match));
        }
        return matches;
    };
    auto matches = co_await async::runOn(writeQueue(), std::move(matchAll));
    if (matches.empty()) co_return 0;
    setImportPhase(ImportPhase::geotagging(static_cast<int>(matches.size())));
    auto apply = [matches = std::move(matches), places = options_.exifTool, log = log_.writer()] {
        return ExifTool::apply(
            matches, [](int, int) {}, log, places);
    };
    const auto report = co_await async::runOn(writeQueue(), std::move(apply));
    for (const auto& failure : report.failed)
        write(QString::fromUtf8("位置を書き込めない ") + failure.name + QString::fromUtf8(": ") +
              failure.reason);
    co_return static_cast<int>(report.written.size());
}

QString CardModel::summary(int saved, std::optional<int> positionsWritten,
                           const QStringList& failedNames) {
    QString text = localized("%1 枚を取り込みました").arg(saved);
    if (positionsWritten)
        text += localized("（位置を書き込んだのは %1 枚）").arg(*positionsWritten);
    if (!failedNames.isEmpty()) {
        text += localized("。%1 枚は取り込めませんでした（%2）")
                    .arg(failedNames.size())
                    .arg(failedNames.mid(0, 3).join(QStringLiteral(", ")));
    }
    return text;
}

QString CardModel::importKey(const QString& id) const {
    return serial() + u'\n' + id;
}

std::optional<QString> CardModel::importedPath(const QString& id) const {
    const auto it = imported_.find(importKey(id));
    if (it == imported_.end()) return std::nullopt;
    return it->second.path;
}

ShotMark CardModel::markOf(const QString& id) const {
    const auto it = imported_.find(importKey(id));
    return it == imported_.end() ? ShotMark{} : it->second.mark;
}

void CardModel::mark(const QString& id, const ShotMark& mark) {
    const auto it = imported_.find(importKey(id));
    if (it == imported_.end() || it->second.mark == mark) return;
    it->second.mark = mark;
    emit itemUpdated(id);
    emit markRequested(it->second.path, mark);
}

}  // namespace pexil
