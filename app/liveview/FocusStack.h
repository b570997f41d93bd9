#pragma once

#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/ptp/PTPCamera.h"

#include <QObject>
#include <QString>

#include <functional>

namespace pexil {

class LiveViewModel;

// A focus stack: shots one after the other, the lens driven by a fixed amount between them
// from live view, each picture saved as usual. It ends after the shots asked for, at the
// end of the lens's travel (the body says so), on cancel() between two steps, or at the first
// shot or drive that fails; the summary says which, in the user's words.
//
// Threads: main thread only. Live view must run; the shots pause it as any shot does.
class FocusStack final : public QObject {
    Q_OBJECT
public:
    struct Plan {
        int shots = 5;
        int step = 100;  // drive steps between two shots
        PTPCamera::FocusDirection direction = PTPCamera::FocusDirection::far;
        bool autofocusFirst = false;  // AF once before the first shot
    };
    // `shoot` takes one shot and ends once its picture is saved (false: it was not);
    // `autofocus` runs AF (false: not focused, which stops nothing).
    FocusStack(LiveViewModel& live, std::function<async::Task<bool>()> shoot,
               std::function<async::Task<bool>()> autofocus, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(FocusStack)

    // The whole stack; the summary. A second run while one runs returns at once with a text.
    async::Task<QString> run(Plan plan);
    // For the window: run() with the summary through finished().
    void start(Plan plan);
    // Stops before the next drive or shot; the shot in progress is saved.
    void cancel() { cancelled_ = true; }

    bool running() const { return running_; }
    int taken() const { return taken_; }
    int total() const { return total_; }
    static constexpr int maxShots = 300;

signals:
    // running(), taken() or total() changed.
    void progressChanged();
    void finished(const QString& summary);

private:
    async::Task<QString> steps(Plan plan);

    LiveViewModel& live_;
    std::function<async::Task<bool>()> shoot_;
    std::function<async::Task<bool>()> autofocus_;
    bool running_ = false;
    bool cancelled_ = false;
    int taken_ = 0;
    int total_ = 0;
    async::Scope scope_;
};

}  // namespace pexil
