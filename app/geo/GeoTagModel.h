#pragma once

#include "app/geo/ExifTool.h"
#include "app/geo/GeoPayload.h"
#include "app/geo/GeoWriter.h"
#include "kit/async/Runtime.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pexil {

namespace async {
class WorkQueue;
}

// The geotag window's state: a record (received or from a file), a folder of pictures, the
// plan of which picture gets which position, and writing that plan with ExifTool.
//
// Threads: every member is read and changed on the main thread. Scans of the folder, writes
// and the ExifTool version query run on the work queue; their results come back through the
// runtime's main executor. Scans may overlap (each change of record, folder, tolerance or
// overwrite option starts one and nothing cancels an older one), but only the newest scan
// publishes its plan and clears `scanning`: an older plan, made for other options, never
// reaches the lists and so is never written.
//
// Failures: a payload file that cannot be read or decoded sets `problem` (Japanese, shown in
// an alert) and keeps the record in use; an unlistable folder scans as empty; write failures
// are in the report. Destroying the model drops results still on their way; work already
// handed to the queue runs to its end (ExifTool replaces each file only when its copy is whole).
class GeoTagModel final : public QObject {
    Q_OBJECT
public:
    struct Tolerance {
        QString label;  // "30秒" …
        double seconds;
    };
    // The choices of the tolerance menu, in order.
    static const std::vector<Tolerance>& toleranceChoices();

    struct Options {
        // Scans, writes and the version query; null: the model's own two worker threads.
        async::Executor* workQueue = nullptr;
        ExifTool::Places places = ExifTool::defaultPlaces();
        // The zone the camera clock is taken to show; none: the computer's.
        std::optional<QTimeZone> zone;
        ExifTool::LogSink log;  // any thread
    };

    // Locates ExifTool at once and asks it for its version on the work queue.
    GeoTagModel(async::Runtime& runtime, Options options, QObject* parent = nullptr);
    ~GeoTagModel() override;
    Q_DISABLE_COPY_MOVE(GeoTagModel)

    const std::optional<GeoPayload>& payload() const { return payload_; }
    // A file name, or sender + " から受信".
    const std::optional<QString>& payloadName() const { return payloadName_; }
    const std::optional<QString>& folder() const { return folder_; }
    const std::vector<GeoWriter::Match>& matches() const { return matches_; }
    const QStringList& unmatched() const { return unmatched_; }
    const QStringList& alreadyTagged() const { return alreadyTagged_; }
    const std::optional<GeoWriter::Report>& report() const { return report_; }
    bool working() const { return working_; }
    bool scanning() const { return scanning_; }
    double tolerance() const { return tolerance_; }
    bool overwriteExisting() const { return overwriteExisting_; }
    const std::optional<QString>& problem() const { return problem_; }
    const std::optional<QString>& exifToolVersion() const { return exifToolVersion_; }
    // Whether "書き込む" may run: matches to write, nothing running, an ExifTool that answered.
    bool canApply() const;

    // Uses a received record: its name becomes sender + " から受信"; clears the report; rescans.
    void adopt(const GeoPayload& payload, const QString& sender);
    // Uses a payload file (a bare record, not an envelope). On failure `problem` is
    // "位置情報ファイルを読めません: " + why, and the record in use stays.
    void loadPayload(const QString& path);
    // Sets the picture folder and rescans; the report stays.
    void setFolder(const QString& folder);
    // A change rescans; setting the value in use does nothing.
    void setTolerance(double seconds);
    void setOverwriteExisting(bool overwrite);
    void clearProblem();

    // Rebuilds the three lists on the work queue; without a record or a folder they are
    // emptied at once.
    void rescan();
    // Writes the current matches. Does nothing without a record or matches, while a write
    // runs, or while a scan runs (its plan would replace the one on show). Afterwards the
    // report is published and the folder rescanned.
    void apply();

    // Texts of the window, none where the window shows none.
    // "正確な位置 N 件 / 軌跡 N 点[ / M/d HH:mm〜M/d HH:mm]" in the local zone.
    std::optional<QString> payloadSummary() const;
    // "対象 N 件", N counting every picture of the last scan.
    std::optional<QString> folderSummary() const;
    struct Tally {
        int exact = 0;
        int estimated = 0;
        int alreadyTagged = 0;
        int unmatched = 0;
        friend bool operator==(const Tally&, const Tally&) = default;
    };
    Tally tally() const;
    // The report's lines: "N 件に書き込みました" when any were written, "N 件は書き込めません
    // でした: " + the first failure's reason when any failed.
    std::optional<QString> writtenText() const;
    std::optional<QString> failedText() const;
    // "±N秒" (whole seconds, truncated) for an estimated match, none for an exact one.
    static std::optional<QString> gapText(const GeoWriter::Match& match);
    // Latitude and longitude as "%.4f, %.4f".
    static QString positionText(const GeoPoint& point);

signals:
    // The record, folder, report, flags, options, problem or ExifTool version changed.
    void stateChanged();
    // matches, unmatched and alreadyTagged were replaced.
    void resultsChanged();

private:
    GeoWriter writer() const;
    void setResults(GeoWriter::Plan plan);
    // Runs `work` on the work queue and `done` with its result on the main thread, unless
    // the model is gone by then.
    template <class Work, class Done>
    void inBackground(Work work, Done done);

    async::Runtime& runtime_;
    Options options_;
    std::unique_ptr<async::WorkQueue> ownQueue_;
    async::Executor* queue_;
    std::optional<ExifTool> exifTool_;

    std::optional<GeoPayload> payload_;
    std::optional<QString> payloadName_;
    std::optional<QString> folder_;
    std::vector<GeoWriter::Match> matches_;
    QStringList unmatched_;
    QStringList alreadyTagged_;
    std::optional<GeoWriter::Report> report_;
    bool working_ = false;
    bool scanning_ = false;
    double tolerance_ = GeoWriter::defaultTolerance;
    bool overwriteExisting_ = false;
    std::optional<QString> problem_;
    std::optional<QString> exifToolVersion_;
    // Counts scans started; a finished scan publishes only while it is still the newest.
    std::uint64_t scanGeneration_ = 0;
};

}  // namespace pexil
