#pragma once

#include "app/base/Log.h"
#include "app/card/CardItem.h"
#include "app/card/ImportLedger.h"
#include "app/connection/CameraLink.h"
#include "app/geo/ExifTool.h"
#include "app/geo/GeoWriter.h"
#include "app/shots/ShotMark.h"
#include "kit/async/Executor.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/cardfile/CardFileSource.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QObject>
#include <QSettings>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace pexil {

class GeoStore;
namespace async {
class WorkQueue;
}

// The model behind the card browser: every picture on the camera's card, newest first, with
// lazily loaded thumbnails, a mark for pictures imported already (by the ledger, or by a file
// of the same name and size in the destination) and one for pictures a position is known for;
// the selection with its anchor, the focused item and its large preview; and imports, one at a
// time, that copy pictures into the destination (never deleting them from the card), record
// them in the ledger and, when asked, write positions from the geo store into the copies.
//
// Observing: every member below has a getter and a change signal; the items also announce
// changes of a single item (thumbnail, imported, locatable) through itemUpdated(id) rather
// than itemsChanged, so a view need not rebuild on each thumbnail.
//
// Threads: main thread only, every call and every signal. Thumbnails and previews are read
// from the camera as tasks on the main thread and decoded on the decode queue; positions are
// matched and written (ExifTool) on the write queue. Lifetime: destroying the model abandons
// its tasks; a running ExifTool batch is waited for (it replaces files only when complete).
class CardModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(pexil::CardItems items READ items NOTIFY itemsChanged)
    Q_PROPERTY(std::set<QString> selection READ selection NOTIFY selectionChanged)
    Q_PROPERTY(std::optional<QString> focus READ focus NOTIFY focusChanged)
    Q_PROPERTY(QImage preview READ preview NOTIFY previewChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(std::optional<int> expected READ expected NOTIFY expectedChanged)
    Q_PROPERTY(
        std::optional<pexil::ImportPhase> importPhase READ importPhase NOTIFY importPhaseChanged)
    Q_PROPERTY(std::optional<QString> lastSummary READ lastSummary NOTIFY lastSummaryChanged)
    Q_PROPERTY(bool writeLocations READ writeLocations WRITE setWriteLocations NOTIFY
                   writeLocationsChanged)

public:
    // Largest side of a cell's thumbnail, of the large preview read from a raw file's embedded
    // JPEG, and of the camera thumbnail used as preview when there is no embedded one.
    static constexpr int thumbnailPixels = 320;
    static constexpr int previewPixels = 3000;
    static constexpr int fallbackPreviewPixels = 2400;
    // How long the thumbnail worker waits between looks while an import runs.
    static constexpr double importPauseSeconds = 0.3;
    // The preference key of writeLocations.
    static QString writeLocationsKey() { return QStringLiteral("cardWriteLocations"); }

    struct Options {
        // Where thumbnails and previews are decoded; null: the model's own worker threads.
        async::Executor* decodeQueue = nullptr;
        // Where positions are matched and written; null: the model's own worker thread.
        async::Executor* writeQueue = nullptr;
        // Where ExifTool is looked for.
        ExifTool::Places exifTool = ExifTool::defaultPlaces();
    };

    // The camera file's reads as CardFile makes them; tests put a gate in between.
    using FileSource =
        std::function<std::shared_ptr<CardFileSource>(const CameraLink::CameraFilePtr&)>;

    // Reads writeLocations from `settings` ("cardWriteLocations", true when missing or not a
    // Boolean). Every reference must outlive the model.
    CardModel(async::Runtime& runtime, Log& log, CameraLink& link, GeoStore& geo,
              ImportLedger& ledger, QSettings& settings, Options options,
              QObject* parent = nullptr);
    ~CardModel() override;
    Q_DISABLE_COPY_MOVE(CardModel)

    // The folder a picture taken at a date is imported into. Default: <Pictures>/Pexil for
    // every date; the session model supplies its own (base folder, date subfolder).
    std::function<QString(const QDateTime&)> destination;
    // The camera's serial number for ledger keys. Default: "?".
    std::function<QString()> serial;
    // Default: the camera service's reads of the file.
    FileSource fileSource;

    // --- observable state ---
    // The card browser is what the main window shows.
    bool active() const { return active_; }
    // Newest first by (captured, id), an item without a date last.
    const CardItems& items() const { return items_; }
    const std::set<QString>& selection() const { return selection_; }
    // The item shown large; it may name an item that has left the list.
    const std::optional<QString>& focus() const { return focus_; }
    // The focused item's large image; null while none (not loaded yet, or unreadable).
    const QImage& preview() const { return preview_; }
    // The link's catalogue is not settled yet.
    bool loading() const { return loading_; }
    // The number of objects the camera counts, none while unknown.
    const std::optional<int>& expected() const { return expected_; }
    // Set while an import runs.
    const std::optional<ImportPhase>& importPhase() const { return importPhase_; }
    // What the last finished import did, for the user.
    const std::optional<QString>& lastSummary() const { return lastSummary_; }
    // Whether some file of the last finished import was not imported.
    bool lastImportFailed() const { return lastImportFailed_; }
    bool writeLocations() const { return writeLocations_; }

    // --- derived ---
    // The items not imported yet, in list order.
    CardItems unimported() const;
    int locatableCount() const;
    // The item with this id, null when there is none.
    const CardItem* item(const QString& id) const;
    // Its position in items(), none when there is none.
    std::optional<std::size_t> indexOf(const QString& id) const;
    // The anchor of range selections (not cleared by reset()).
    const std::optional<QString>& anchor() const { return anchor_; }
    // Ids whose thumbnail was fetched (or tried) in this catalogue, and those waiting.
    const std::set<QString>& thumbnailRequested() const { return thumbnailRequested_; }
    const std::deque<QString>& thumbnailQueue() const { return thumbnailQueue_; }
    bool thumbnailWorkerRunning() const { return thumbnailWorker_.has_value(); }

    // --- operations ---
    void setActive(bool active);
    // Stores the preference at once.
    void setWriteLocations(bool on);
    // Rebuilds the items from the link's catalogue; an empty catalogue empties the browser.
    void refresh();
    // Empties the browser: items, selection, focus, preview, thumbnail bookkeeping, loading,
    // expected. The anchor stays.
    void reset();
    // The geo record changed: recomputes every item's locatable mark.
    void geoChanged();
    // A click on a cell: Ctrl toggles the item and makes it the anchor; Shift (without Ctrl)
    // selects the range from the anchor to it, replacing the selection, when both are in
    // the list; otherwise the item alone is selected and becomes the anchor.
    void click(const QString& id, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Replaces the selection with the ids given that are in the list (select all, scripts).
    void select(const std::set<QString>& ids);
    // Focuses the item and loads its large preview; a load still running for an earlier
    // focus is cancelled and its result never shown.
    void open(const QString& id);
    // Leaves the large view: the preview load is cancelled, focus and preview cleared.
    void close();
    // Moves the focus by `offset` in the list, selecting the new item alone; nothing when
    // there is no focus or the target is outside the list.
    void step(int offset);
    // A cell came into view: its thumbnail is fetched once per catalogue, when the
    // catalogue has settled.
    void requestThumbnail(const QString& id);
    // A cell left the view before its thumbnail was fetched.
    void withdrawThumbnail(const QString& id);
    // Imports the selected items not imported yet, in list order.
    void importSelected();
    // Imports every item not imported yet.
    void importAll();
    // Starts importing `list`; false (and nothing happens) when it is empty or an import runs.
    bool startImport(CardItems list);
    // Stops a running import after the file in transfer: that one is finished and kept, the
    // rest stay on the card as they were, the summary says how many.
    void cancelImport();
    // What an import cut by the camera's loss left on the card, as far as this card still has
    // it and it is not imported yet: offered when the same camera is back.
    CardItems resumable() const;
    // Imports resumable().
    void resumeImport();

    // Where this run imported the item; none when it did not (earlier runs' imports are
    // known to the ledger by name only, not by where they went).
    std::optional<QString> importedPath(const QString& id) const;
    // The photographer's mark on an item imported in this run.
    ShotMark markOf(const QString& id) const;
    // Marks an item imported in this run: markRequested() asks for the sidecar to be
    // written. Nothing for an item without an importedPath().
    void mark(const QString& id, const ShotMark& mark);

    // The list's order: by (captured, id) descending, an item without a date older than any
    // dated one; stable.
    static void sortNewestFirst(CardItems& items);
    // Whether two capture times name the same second: as moments, or by their clock readings
    // (the same time written down in two zones).
    static bool sameSecond(const QDateTime& a, const QDateTime& b);

    // The text of a finished import: how many were saved, how many positions were written
    // when that was asked for with a record at hand (and anything was saved), and how many
    // failed with the first three names.
    static QString summary(int saved, std::optional<int> positionsWritten,
                           const QStringList& failedNames);

signals:
    void activeChanged();
    // The list was rebuilt (refresh, reset, geoChanged).
    void itemsChanged();
    // One item's thumbnail, imported or locatable mark changed.
    void itemUpdated(const QString& id);
    void selectionChanged();
    void focusChanged();
    void previewChanged();
    void loadingChanged();
    void expectedChanged();
    void importPhaseChanged();
    void lastSummaryChanged();
    void writeLocationsChanged();
    // One file of the running import was handled: `done` of `total`, and why it failed.
    void fileImported(int done, int total, const QString& name,
                      const std::optional<QString>& failure);
    // The pictures an import saved, once it has done with them (positions written).
    void picturesSaved(const QStringList& paths);
    // A mark on an imported picture, to be written beside it at `path`.
    void markRequested(const QString& path, const ShotMark& mark);

private:
    struct Imported {
        QString path;
        ShotMark mark;
    };
    // Keyed by the camera's serial number and the item's id, as the ledger knows pictures.
    QString importKey(const QString& id) const;

    CardItem* findItem(const QString& id);
    std::optional<GeoWriter> geoWriter() const;
    bool existsInDestination(const CardItem& item) const;
    // When the picture in the destination file at `info` was taken: its EXIF capture time,
    // else the file's time (which an import sets to the capture time). Read once per file
    // version.
    std::optional<QDateTime> takenAt(const QFileInfo& info) const;
    QString folderFor(const std::optional<QDateTime>& captured) const;
    std::shared_ptr<CardFileSource> sourceOf(const CameraLink::CameraFilePtr& file) const;
    void setSelection(std::set<QString> selection);
    void setPreview(QImage image);
    void setLoading(bool loading);
    void setExpected(std::optional<int> expected);
    void setImportPhase(std::optional<ImportPhase> phase);
    void setLastSummary(std::optional<QString> summary);
    void setFocus(std::optional<QString> focus);
    void cancelPreview();
    void cancelThumbnailWorker();
    void runThumbnailQueue();
    async::Task<void> thumbnailLoop(std::uint64_t generation);
    async::Task<void> loadPreview(QString id);
    async::Task<void> runImport(CardItems list);
    async::Task<int> writePositions(QStringList saved, GeoPayload payload);
    async::Executor& decodeQueue();
    async::Executor& writeQueue();
    void write(const QString& line) const { log_.write(line); }

    async::Runtime& runtime_;
    Log& log_;
    CameraLink& link_;
    GeoStore& geo_;
    ImportLedger& ledger_;
    QSettings& settings_;
    Options options_;

    bool active_ = false;
    CardItems items_;
    std::set<QString> selection_;
    std::optional<QString> focus_;
    QImage preview_;
    bool loading_ = false;
    std::optional<int> expected_;
    std::optional<ImportPhase> importPhase_;
    std::optional<QString> lastSummary_;
    bool lastImportFailed_ = false;
    bool cancelRequested_ = false;
    std::set<QString> cut_;  // ids an import cut by the camera's loss did not reach
    QString cutSerial_;      // of the camera that import was reading
    bool writeLocations_ = true;
    std::map<QString, Imported> imported_;

    std::set<QString> thumbnailRequested_;
    std::deque<QString> thumbnailQueue_;
    std::optional<async::TaskHandle> thumbnailWorker_;
    std::uint64_t thumbnailGeneration_ = 0;  // bumped whenever a worker starts or is dropped
    std::optional<QString> anchor_;
    std::optional<async::TaskHandle> previewTask_;

    struct Taken {
        struct Version {
            qint64 size = 0;
            QDateTime modified;
            QDateTime changed;
            friend bool operator==(const Version&, const Version&) = default;
        };
        Version version;
        std::optional<QDateTime> at;
    };
    mutable std::map<QString, Taken> takenCache_;  // by path; a changed file is read again

    std::unique_ptr<async::WorkQueue> ownDecodeQueue_;
    std::unique_ptr<async::WorkQueue> ownWriteQueue_;
    // Last, so its tasks are abandoned before the queues and everything else they use.
    async::Scope scope_;
};

}  // namespace pexil
