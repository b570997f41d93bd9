#pragma once

#include "app/geo/GeoPayload.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pexil {

// Decides which position belongs to which picture: the position the phone recorded for the
// picture's file name if there is one, otherwise the track point recorded nearest in time to
// the picture's capture time, if it lies within `tolerance` seconds. Writing the positions is
// ExifTool::apply's job.
//
// A plain value, cheap to copy (the record and its time index are shared and immutable).
// Threads: every operation may run on any thread, also on several copies at once; a scan of a
// folder reads files and is meant to run off the main thread.
//
// Matching never searches the track linearly: the constructor sorts the track's times once,
// and each picture costs a binary search. The choice is still exactly that of a walk over the
// track in stored order keeping the first point with the smallest distance, so among points
// equally far from the capture time the one earlier in the list wins, whatever their times.
class GeoWriter {
public:
    static constexpr double defaultTolerance = 120;  // seconds

    struct Match {
        QString url;  // the picture's file path, as it was given or listed
        GeoPoint point;
        bool exact = false;  // found by file name in the record's shots, not on the track
        std::optional<QDateTime> captured;  // as read from the picture, also for exact matches
        std::optional<double> gap;  // seconds between captured and point.time; none when exact
        friend bool operator==(const Match&, const Match&) = default;
    };

    // The result of scanning a folder; every list keeps the scan order (see pictures()).
    struct Plan {
        std::vector<Match> matches;
        QStringList unmatched;      // paths of pictures without a position
        QStringList alreadyTagged;  // paths skipped for their GPS data (overwriteExisting false)
        friend bool operator==(const Plan&, const Plan&) = default;
    };

    // What a write did, by file name (the last path component), each list in the order of the
    // matches given. Filled by ExifTool::apply, which leaves skippedNoMatch and alreadyTagged
    // empty: they are there for callers that merge a plan into the report.
    struct Failure {
        QString name;
        QString reason;  // Japanese, shown to the user as it is
        friend bool operator==(const Failure&, const Failure&) = default;
    };
    struct Report {
        QStringList written;  // carry GPS data after the run
        QStringList skippedNoMatch;
        std::vector<Failure> failed;  // carry no GPS data after the run
        QStringList alreadyTagged;
        friend bool operator==(const Report&, const Report&) = default;
    };

    // The track point nearest in time: its position in payload().track and the distance.
    struct Nearest {
        std::size_t index = 0;
        std::uint64_t distanceMs = 0;
        friend bool operator==(const Nearest&, const Nearest&) = default;
    };

    // `zone` is the zone the camera clock is taken to show; none means the computer's zone at
    // the moment each picture is read. A NaN or negative tolerance matches nothing by time.
    explicit GeoWriter(GeoPayload payload, double tolerance = defaultTolerance,
                       bool overwriteExisting = false, std::optional<QTimeZone> zone = {});

    const GeoPayload& payload() const;
    double tolerance() const { return tolerance_; }
    bool overwriteExisting() const { return overwriteExisting_; }

    // The picture's EXIF DateTimeOriginal, which must be text of the form
    // "yyyy:MM:dd HH:mm:ss", read as a local time of `zone` (no offset or sub-second tag is
    // looked at). None when the file cannot be opened, has no such tag, or it does not parse.
    static std::optional<QDateTime> captureDate(
        const QString& path, const QTimeZone& zone = QTimeZone::systemTimeZone());
    // Whether the picture's EXIF data holds any GPS tag. False when it cannot be read.
    static bool hasGPS(const QString& path);

    // The pictures a scan considers: the folder's direct entries that are files (hidden ones
    // included, directories never) with one of the 14 picture extensions, in any letter case;
    // sorted by file name in plain byte order of UTF-8 (code point order, upper case before
    // lower case, not locale-aware). Empty when the folder cannot be listed.
    static QStringList pictures(const QString& folder);
    static bool isPictureName(const QString& fileName);
    // The order of pictures(): true when file name a sorts before file name b.
    static bool scanOrder(const QString& a, const QString& b);

    // The position for the picture at `path`: by file name (exact, case-sensitive) from the
    // record's shots, else by capture time from the track within the tolerance. None when
    // neither applies (no capture time, empty track, nearest point too far).
    std::optional<Match> match(const QString& path) const;
    // The same decision for a picture not on disk yet (a card picture).
    bool canLocate(const QString& name, const std::optional<QDateTime>& captured) const;
    // Every picture of the folder, in scan order, into one of the three lists. Reads each
    // picture's metadata once. Never fails: an unlistable folder gives an empty plan.
    Plan plan(const QString& folder) const;

    // The track point nearest in time to `time`; none for an empty track or an invalid time.
    // Points whose own time is invalid are never chosen.
    std::optional<Nearest> nearest(const QDateTime& time) const;

private:
    struct State;
    std::optional<Match> matchWith(const QString& path,
                                   const std::optional<QDateTime>& captured) const;
    std::optional<Nearest> withinTolerance(const std::optional<QDateTime>& captured) const;
    QTimeZone zone() const;

    std::shared_ptr<const State> state_;
    double tolerance_;
    bool overwriteExisting_;
    std::optional<QTimeZone> zone_;
};

}  // namespace pexil
