#pragma once

#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace pexil {

// A timed series: after a start delay, one shot every `interval` seconds on the runtime's
// clock, for a number of shots or until stopped. The releases keep their cadence (shot n at
// start + n × interval) however long each picture takes to save; one that could not keep it
// fires as soon as the one before is saved. While the camera's buffer is full it waits, and
// says so, rather than fire into a body that is still writing.
//
// Threads: main thread only.
class Intervalometer final : public QObject {
    Q_OBJECT
public:
    struct Plan {
        double interval = 10;  // seconds between releases, at least minInterval
        int shots = 0;         // 0: until stopped
        double delay = 0;      // seconds before the first release
    };
    static constexpr double minInterval = 1;
    static constexpr int maxShots = 9999;

    // `shoot` takes one shot and ends once its picture is saved (false: it was not);
    // `bufferFull` tells whether the camera can take no picture now (its buffer full, or a
    // shot of the photographer's own still in progress). Call bufferChanged()
    // whenever what bufferFull() reads may have changed.
    Intervalometer(async::Runtime& runtime, std::function<async::Task<bool>()> shoot,
                   std::function<bool()> bufferFull, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Intervalometer)

    // Why `plan` cannot run; none when it can.
    static std::optional<QString> check(const Plan& plan);

    // The whole series; the summary. A second run while one runs returns at once with a text.
    async::Task<QString> run(Plan plan);
    // For the window: run() with the summary through finished().
    void start(Plan plan);
    // Stops before the next release, at once when waiting; the shot in progress is saved.
    void cancel();
    void bufferChanged() { emit bufferMayHaveChanged(); }

    bool running() const { return running_; }
    int taken() const { return taken_; }
    int total() const { return total_; }  // 0: until stopped
    // When the next release is due; none while not running or while the last is saving.
    const std::optional<QDateTime>& nextAt() const { return nextAt_; }
    bool waitingForBuffer() const { return waitingForBuffer_; }
    // "インターバル撮影 3 / 10 枚　次 12:00:08", or that it waits for the buffer; empty when
    // not running.
    QString progressText() const;

signals:
    void progressChanged();
    void finished(const QString& summary);
    // A shot was released and saved, at `at` on the runtime's clock.
    void shotTaken(int number, const QDateTime& at);
    void bufferMayHaveChanged();
    // cancel() was called: a wait for the next release ends.
    void cancelRequested();

private:
    async::Task<QString> series(Plan plan);
    void setNext(std::optional<QDateTime> at, bool waitingForBuffer);

    async::Runtime& runtime_;
    std::function<async::Task<bool>()> shoot_;
    std::function<bool()> bufferFull_;
    bool running_ = false;
    bool cancelled_ = false;
    int taken_ = 0;
    int total_ = 0;
    std::optional<QDateTime> nextAt_;
    bool waitingForBuffer_ = false;
    async::Scope scope_;
};

}  // namespace pexil
