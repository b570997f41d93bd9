#pragma once

#include "app/connection/ConnectionState.h"
#include "app/doctor/DoctorFinding.h"

#include <QObject>

#include <functional>
#include <optional>
#include <vector>

namespace pexil {

// Why the USB camera could not be opened, as the device doctor sees it: after a connection
// attempt ends with a reason, the doctor's USB findings are taken and the first failure that
// keeps a camera from being opened (no permission on its node, another process holding it)
// becomes the finding the windows show with its fix, in place of the bare error. Only the
// application on a USB address has one.
//
// Threads: main thread. update() runs the examination synchronously (sysfs and /proc reads:
// milliseconds), and only when an attempt has just ended with a reason.
class CameraTrouble final : public QObject {
    Q_OBJECT
public:
    using Examine = std::function<std::vector<DoctorFinding>()>;

    // `examine` gives the USB findings; empty: UsbDoctor::examine on the real system.
    explicit CameraTrouble(Examine examine = {}, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraTrouble)

    // Follows the session's state: examines when it fails or goes back to waiting with a
    // reason; forgets the finding in any other state (a new attempt, a camera connected,
    // the user disconnected).
    void update(const ConnectionState& state);

    // None: nothing the doctor can explain.
    const std::optional<DoctorFinding>& finding() const { return finding_; }

signals:
    void changed();

private:
    void set(std::optional<DoctorFinding> finding);

    Examine examine_;
    std::optional<DoctorFinding> finding_;
};

}  // namespace pexil
