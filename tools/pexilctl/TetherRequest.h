#pragma once

#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/ptp/PTPCamera.h"
#include "tools/pexilctl/CommandIO.h"

#include <QHostAddress>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace pexil::cli {

class StopSignals;

// What one pexilctl tether run is asked to do, read from its arguments.
struct TetherRequest {
    QString address = QStringLiteral("usb");
    QString dest;
    QString session;       // a folder under the destination and the names' {session}
    QString nameTemplate;  // how pictures are named; empty: the camera's names
    QString backup;        // a second folder every saved picture is copied into
    bool deleteAfterDownload = false;
    int shots = 0;
    double interval = 0;  // --interval: seconds between the --shoot releases; 0: back to back
    double delay = 0;     // --delay: seconds before the first of them
    bool autofocus = false;
    int frames = 0;
    QString framesDir;
    bool card = false;
    double seconds = -1;
    bool settings = false;
    QStringList assignments;  // LABEL=TEXT
    bool syncClock = false;
    bool releaseControl = false;
    std::optional<QPointF> afAt;  // fractions of the live picture
    struct Drive {
        PTPCamera::FocusDirection direction;
        int steps;
        QString text;  // as given, for the result line
    };
    std::vector<Drive> drives;
    int bracketShots = 0;          // --bracket: shots around the metered exposure
    double bracketStep = 1.0 / 3;  // --step: EV between them
    int stackShots = 0;            // --focus-stack: shots stepping the focus
    int stackStep = 0;             // --focus-step: drive steps between them, negative towards near
    // --client-view: where the client view serves the session's shots; none: off.
    std::optional<std::pair<QHostAddress, quint16>> clientView;
    camera::VirtualCamera::Options virtualOptions;
    std::chrono::milliseconds ioTimeout = camera::defaultIoTimeout;
    // Ctrl+C and SIGTERM, taken for the whole run; may be null.
    const StopSignals* stop = nullptr;
};

// The request of `args` (help already handled); none when they do not make one, which was
// said on io.err.
std::optional<TetherRequest> parseTetherRequest(QStringList args, CommandIO io);

}  // namespace pexil::cli
