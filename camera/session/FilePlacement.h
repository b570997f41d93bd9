#pragma once

#include "camera/transport/Transport.h"

#include <QDateTime>
#include <QString>

#include <sys/types.h>
#include <functional>
#include <memory>
#include <optional>

namespace pexil::camera {

// Why a picture could not be put in its folder: the destination's failure, never the
// camera's.
struct PlacementError {
    enum class Kind {
        folder,      // the folder is missing and cannot be made
        diskFull,    // no space or quota left
        permission,  // writing there is not allowed (or the filesystem is read-only)
        write,       // writing or flushing the file failed otherwise
        rename,      // the complete file could not be given its name
    };
    Kind kind = Kind::write;
    QString path;    // the folder or the file concerned
    QString reason;  // in Japanese, the system's words in brackets

    // One line for a log or a command-line tool.
    QString message() const;
    friend bool operator==(const PlacementError&, const PlacementError&) = default;
};

// The name a camera file is saved under: the camera's own, except that characters that
// would leave the folder or hide the file (separators, NUL, a leading dot) become "_", and
// an empty name becomes "_". The camera is outside data; its names are not trusted.
QString safeFileName(const QString& cameraName);

// NAME-n.EXT for n ≥ 1 ("DSC_0001.JPG" → "DSC_0001-1.JPG"; no extension: "NAME-1"). The
// stem is shortened where needed so the result still fits a file name (255 bytes).
QString numberedName(const QString& name, int n);

// The longest file name, in bytes of its encoded form, that Linux filesystems take.
inline constexpr int maxFileNameBytes = 255;

// Removes the temporaries (".NAME.XXXXXX.part") that an earlier run killed mid-download left
// in `folder`: only those older than this process's first download and not held by a
// writer (each writer keeps a lock on its own), so another Pexil downloading into the
// same folder keeps its files. Touches the disk: file queue only. Returns how many went.
int removeStaleTemporaries(const QString& folder);

// A picture being written: a hidden temporary file in the target folder that becomes a
// real name only once it is complete, and never replaces an existing file. Until place()
// succeeds, destroying it removes the temporary file, so a cut transfer leaves nothing
// under a real name. Every call touches the disk: run them on a file queue, never on the
// main thread. Used on one thread at a time.
class PendingFile final : public DataSink {
public:
    // Stands in for write(2) on the file's descriptor (a test's full disk); -1 with errno
    // set on failure. Empty: the disk.
    using Writer = std::function<ssize_t(int fd, ByteView piece)>;

    // Makes `folder` with its parents when missing, sweeps it of stale temporaries, and
    // creates ".NAME.XXXXXX.part" in it, NAME being safeFileName(cameraName) cut short
    // enough for the temporary's name to fit where the final name fits.
    static Result<std::unique_ptr<PendingFile>, PlacementError> create(const QString& folder,
                                                                       const QString& cameraName,
                                                                       Writer writer = {});
    ~PendingFile() override;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool begin(std::optional<std::uint64_t> total) override;
    bool write(ByteView piece) override;
    std::uint64_t written() const { return written_; }
    // Why the last begin()/write() failed (disk full …); none while writing went well.
    const std::optional<PlacementError>& problem() const { return problem_; }
    const QString& folder() const { return folder_; }
    // The name it is meant to have; place() may number it.
    const QString& name() const { return name_; }

    // The time the file's modification time is set to when it is placed: the picture's
    // capture time, so that a copy can later be recognised as this picture. None: now.
    void setCaptured(std::optional<QDateTime> when) { captured_ = std::move(when); }

    // Flushes to disk, makes it readable by the other programs of the workflow whatever
    // our umask (0644), and gives it its name, or NAME-1.EXT, NAME-2.EXT … when taken (also
    // when taken meanwhile by another program); the name actually written comes back.
    Result<QString, PlacementError> place();
    // Removes the temporary file now rather than when the last owner lets go: whoever
    // hears of a failed download must find nothing of it in the folder.
    void discard();

private:
    PendingFile(QString folder, QString name, QString tempPath, int fd, Writer writer);
    QString folder_;
    QString name_;
    QString tempPath_;
    int fd_ = -1;
    Writer writer_;
    std::uint64_t written_ = 0;
    std::uint64_t writeBackFrom_ = 0;
    static constexpr std::uint64_t writeBackStep = 4 << 20;
    std::optional<PlacementError> problem_;
    std::optional<QDateTime> captured_;
    bool placed_ = false;
};

// Puts a folder's entries (a name just given by place()) on the disk. Worth its time only
// before the camera's copy is deleted: until then a power cut loses no picture. A folder
// that cannot be synced (some network filesystems) is no reason to fail the file.
void syncFolder(const QString& folder);

}  // namespace pexil::camera
