#pragma once

#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/device/ExposureLayout.h"
#include "kit/ptp/Result.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace pexil {

// An exposure bracket: shots around the current exposure, by a fixed step, through the
// exposure compensation, or through the shutter speed in manual exposure (where the
// compensation changes nothing the camera does). The order is the body's own: the metered
// exposure, then under and over by one step, then by two… The setting it moved is put back
// at the end, however the bracket ended.
//
// Threads: main thread only.
class ExposureBracket final : public QObject {
    Q_OBJECT
public:
    struct Plan {
        int shots = 3;          // odd: the metered shot in the middle
        double step = 1.0 / 3;  // EV: ⅓, ½ or 1
    };
    static constexpr int maxShots = 9;

    // One shot of the bracket: its offset, the value written and how the camera shows it.
    struct Step {
        double ev = 0;
        std::int64_t value = 0;
        QString text;
        friend bool operator==(const Step&, const Step&) = default;
    };
    struct Resolved {
        PTP::Prop prop{};
        std::int64_t original = 0;
        std::vector<Step> steps;
    };
    // The steps of `plan` on a camera whose settings are `props`, each the nearest value the
    // camera offers; why it cannot be, in the photographer's words.
    static Result<Resolved, QString> resolve(const Descriptors& props, const Plan& plan);
    // "+1/3 EV", "−1 EV", "±0": how a step's offset reads.
    static QString offsetText(double ev);

    struct Camera {
        std::function<const Descriptors&()> props;
        // Writes a setting and ends once the camera holds it (false: it does not).
        std::function<async::Task<bool>(PTP::Prop, std::int64_t)> write;
        // Takes one shot and ends once its picture is saved (false: it was not).
        std::function<async::Task<bool>()> shoot;
        // Whether the camera can take no picture now; call bufferChanged() when that may change.
        std::function<bool()> bufferFull;
    };
    ExposureBracket(async::Runtime& runtime, Camera camera, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ExposureBracket)

    // The whole bracket; the summary. A second run while one runs returns at once with a text.
    async::Task<QString> run(Plan plan);
    // For the window: run() with the summary through finished().
    void start(Plan plan);
    // Stops before the next shot; the shot in progress is saved, the setting put back.
    void cancel();
    void bufferChanged() { emit bufferMayHaveChanged(); }

    bool running() const { return running_; }
    int taken() const { return taken_; }
    int total() const { return total_; }
    // "露出ブラケット 2 / 5 枚　次 +1/3 EV", or that it waits for the buffer; empty when not
    // running.
    QString progressText() const;

signals:
    void progressChanged();
    void finished(const QString& summary);
    // A shot of the bracket was saved, `offset` as offsetText() writes it.
    void shotTaken(int number, const QString& offset);
    void bufferMayHaveChanged();

private:
    async::Task<QString> shots(Resolved bracket);
    void setNext(QString next, bool waitingForBuffer);

    Camera camera_;
    bool running_ = false;
    bool cancelled_ = false;
    int taken_ = 0;
    int total_ = 0;
    QString next_;
    bool waitingForBuffer_ = false;
    async::Scope scope_;
};

}  // namespace pexil
