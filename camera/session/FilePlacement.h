#pragma once

#include "camera/transport/Transport.h"

#include <QString>

#include <cstdio>
#include <memory>

namespace pexil::camera {

// A picture being written: a hidden temporary file in the target folder that becomes a
// real name only once it is complete, and never replaces an existing file. Until place()
// succeeds, destroying it removes the temporary file, so a cut transfer leaves nothing
// under a real name. Used on one thread at a time.
class PendingFile final : public DataSink {
public:
    // Creates ".NAME.XXXXXX.part" in `folder`; none with a Japanese reason when it cannot.
    static Result<std::unique_ptr<PendingFile>, TransportError> create(const QString& folder, const QString& name);
    ~PendingFile() override;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool begin(std::optional<std::uint64_t> total) override;
    bool write(ByteView piece) override;
    std::uint64_t written() const { return written_; }
    // Why the last begin()/write() failed (disk full …).
    const QString& problem() const { return problem_; }

    // Flushes to disk and gives it `name`, or NAME-1.EXT, NAME-2.EXT … when taken (also
    // when taken meanwhile by another program); the name actually written comes back.
    Result<QString, TransportError> place(const QString& name, unsigned permissions = 0644);
    // Removes the temporary file now rather than when the last owner lets go: whoever
    // hears of a failed download must find nothing of it in the folder.
    void discard();

private:
    PendingFile(QString folder, QString tempPath, int fd);
    QString folder_;
    QString tempPath_;
    int fd_ = -1;
    std::uint64_t written_ = 0;
    QString problem_;
    bool placed_ = false;
};

// Puts a folder's entries (a name just given by place()) on the disk. Worth its time only
// before the camera's copy is deleted: until then a power cut loses no picture. A folder
// that cannot be synced (some network filesystems) is no reason to fail the file.
void syncFolder(const QString& folder);

// NAME-n.EXT for n ≥ 1 ("DSC_0001.JPG" → "DSC_0001-1.JPG"; no extension: "NAME-1").
QString numberedName(const QString& name, int n);

}  // namespace pexil::camera
