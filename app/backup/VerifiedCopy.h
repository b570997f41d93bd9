#pragma once

#include "camera/session/FilePlacement.h"
#include "kit/ptp/Result.h"

#include <QString>

namespace pexil {

// Why a picture has no backup copy.
struct CopyFailure {
    enum class Kind {
        source,       // the saved picture could not be read back
        destination,  // the backup folder refused it (missing, full, not writable)
        mismatch,     // what reached the backup disk is not what was read
    };
    Kind kind = Kind::destination;
    QString reason;  // the photographer's text
};

// Copies the saved picture `source` into `folder` (made below an existing backup folder by
// the caller's choice of path) under the same name, or NAME-1.EXT when the name is taken
// there. The copy is written as a hidden temporary, flushed, read back from the disk and
// compared with the source by size and checksum before it gets its name: a backup disk that
// drops or corrupts data leaves nothing under a real name. Touches the disk: run it on a
// worker queue. `writer` stands in for write(2) (a test's full disk).
// The backup copy's path, or why there is none.
Result<QString, CopyFailure> copyVerified(const QString& source, const QString& folder,
                                          camera::PendingFile::Writer writer = {});

}  // namespace pexil
