#pragma once

#include "app/shots/FrameAnalysis.h"
#include "app/shots/Shot.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"

#include <QAbstractListModel>
#include <QImage>
#include <QUuid>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace pexil {

struct Thumbnail;
namespace async {
class Executor;
class Runtime;
}  // namespace async

using ShotList = std::vector<Shot>;

// The pictures that arrived this session, newest first, as rows for the filmstrip, with the
// one the preview shows and its large picture. It owns how much of each picture is kept:
// a new shot is on screen from its camera thumbnail at once, the shot shown gets a sharp
// 1200-pixel picture and then its full preview, and shots that fall out of the newest few
// keep only a cell-sized copy.
//
// For screen readers a row's text is its file name and when it was taken ("DSC_0004.JPG、
// 2026年12月8日 10:15:30 撮影"; the time it arrived, "受信", until its picture is read), its
// description the exposure and whether the preview shows it ("表示中").
//
// Threads: main thread only; pictures are decoded on the queue given and applied back here.
class ShotsModel final : public QAbstractListModel {
    Q_OBJECT
public:
    // NewRole: arrived while the view was held and not looked at since. RatingRole: the
    // stars, −1 rejected; PickedRole: picked.
    enum Role {
        IdRole = Qt::UserRole + 1,
        SelectedRole,
        PathRole,
        NewRole,
        RatingRole,
        PickedRole,
        ClientFavouriteRole
    };

    ShotsModel(async::Runtime& runtime, async::Executor& decodeQueue, QObject* parent = nullptr);
    ~ShotsModel() override;
    Q_DISABLE_COPY_MOVE(ShotsModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // The row of a shot; -1 when there is none.
    int rowOf(const QUuid& id) const;

    const ShotList& list() const { return shots_; }
    bool empty() const { return shots_.empty(); }
    const Shot* shot(const QUuid& id) const;
    const std::optional<QUuid>& selection() const { return selection_; }
    // The shot the windows show: the selected one, else the newest; null without shots.
    const Shot* shown() const;
    const QImage& fullPreview() const { return fullPreview_; }  // null: none
    // The shot the full preview is loading or shown for; a new shot is selected before its
    // preview is asked for, so the preview held may still be the previous shot's.
    const std::optional<QUuid>& fullPreviewID() const { return fullPreviewID_; }

    // A picture saved at `path`: the newest shot, its thumbnail read in the background. It is
    // selected unless the view is held (or new shots do not take it) and a shot is shown; then
    // it is marked new until it is selected.
    QUuid add(const QString& path, const QDateTime& arrived,
              std::optional<int> colorTemperature = std::nullopt);
    // Whether a new shot takes the view (the photographer's choice; on by default).
    void setFollowNew(bool on) { followNew_ = on; }
    // The photographer is looking closely (zoomed in): new shots leave the view alone.
    void setHeld(bool held) { held_ = held; }
    // Shots marked new.
    int newCount() const { return static_cast<int>(unseen_.size()); }
    void select(const QUuid& id);
    void loadFullPreview(const QUuid& id);
    // Marks a shot with stars, a pick or a reject: shown at once, written to its XMP sidecar
    // on the decoding queue (markFailed when that fails; the mark stays on screen).
    void mark(const QUuid& id, const ShotMark& mark);
    // A mark on a picture by its path: the shot's when the filmstrip holds it, else the
    // sidecar alone (a picture imported from the card).
    void markFile(const QString& path, const ShotMark& mark);
    // What the client watching the session said of a shot (the client view).
    void setClientNote(const QUuid& id, bool favourite, const QString& comment);

    // What to work out on the shot shown, from its 1200-pixel picture on the decoding queue:
    // the histogram and the clipping marks, as chosen for live view (peaking and guides are
    // live view's alone).
    void setAids(const LiveAids& aids);
    // The shot shown's histogram and clipping marks, once worked out; empty otherwise.
    const FrameAnalysis& analysis() const { return analysis_; }

signals:
    void shotsChanged();
    // One shot's thumbnail and metadata arrived.
    void shotUpdated(const QUuid& id);
    void selectionChanged();
    void fullPreviewChanged();
    void newCountChanged();
    // A mark could not be written beside its picture: the photographer's text.
    void markFailed(const QString& message);
    void analysisChanged();

private:
    Shot* find(const QUuid& id);
    void changed(const QUuid& id);
    void setSelection(const QUuid& id);
    async::Task<void> decodeThumbnail(QUuid id, QString path);
    async::Task<void> shrinkAged();
    // The marks a sidecar is written with; favourite none: the one it holds stays.
    struct SidecarMarks {
        ShotMark mark;
        std::optional<bool> clientFavourite;
    };
    void writeSidecar(const QString& path, const SidecarMarks& marks);
    async::Task<void> writeMarks(QString path, SidecarMarks marks);
    // Works out the analysis of the shot shown when its picture changed.
    void analyseShown();
    async::Task<void> analyse(QUuid id, QImage picture, LiveAids aids);
    async::Task<void> decodePreview(QUuid id, QString path, std::uint64_t generation);
    async::Task<void> sharpenThumbnail(QUuid id, QString path, std::uint64_t generation);
    // Thumbnailer::load on the decoding queue, unless another shot is wanted in the pane by
    // the time the queue gets to it.
    async::Task<std::optional<Thumbnail>> loadForPane(QString path, int maxPixel,
                                                      std::uint64_t generation);

    async::Executor& decodeQueue_;
    ShotList shots_;
    std::optional<QUuid> selection_;
    int shownRow_ = -1;  // the row told as selected
    bool followNew_ = true;
    bool held_ = false;
    std::set<QUuid> unseen_;
    // Sidecars being written, with the mark to write next when it changed meanwhile.
    std::map<QString, std::optional<SidecarMarks>> marksWriting_;
    LiveAids aids_;
    FrameAnalysis analysis_;
    // The shot and picture the analysis is (being) worked out for.
    std::optional<QUuid> analysed_;
    qint64 analysedPicture_ = 0;
    QImage fullPreview_;
    std::optional<QUuid> fullPreviewID_;
    // Counts the shots asked for in the pane; a decode queued for an earlier one is skipped
    // when its turn comes, so a burst of shots does not queue a third of a second of work each.
    std::shared_ptr<std::atomic<std::uint64_t>> previewGeneration_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
