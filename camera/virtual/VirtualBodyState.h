#pragma once

// The virtual camera's insides, shared by the files that make it up: its state under one
// lock, the reply an operation handler gives, the order a capture leaves for the body
// thread. Not for use outside camera/virtual.

#include "camera/transport/Transport.h"
#include "camera/virtual/LiveViewFrames.h"
#include "camera/virtual/PictureProbe.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualCard.h"
#include "camera/virtual/VirtualProperties.h"
#include "kit/ptp/PTPCodes.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace pexil::camera {

using BodyTime = BodyClock::TimePoint;

// Bits of the live-view prohibition (PTP::Prop::nikonLiveViewProhibit) that follow the body.
inline constexpr std::uint32_t kProhibitRecordingToCard = 0x1;
inline constexpr std::uint32_t kProhibitCapturing = 0x8000;

// The picture kept in the camera's memory when it records to SDRAM.
inline constexpr std::uint32_t kSdramHandle = 0xFFFF0001;
inline constexpr std::uint32_t kAllStorages = 0xFFFFFFFF;
inline constexpr std::uint32_t kAllObjects = 0xFFFFFFFF;

// The lens's focus travel in drive steps, nearest (0) to farthest, and how long a step takes.
inline constexpr int kLensSteps = 2000;
inline constexpr std::chrono::microseconds kLensStepTime{40};

// Why a call fails at once: the cable is gone, or the host closed its link.
inline QString linkGone() {
    return QString::fromUtf8("仮想カメラとの接続が切れています");
}
inline QString linkClosed() {
    return QString::fromUtf8("仮想カメラへの接続は閉じられました");
}

enum class FileKind { jpeg, raw, both };

// What one shutter release leaves for the body thread to finish.
struct CaptureOrder {
    QDateTime taken;  // the camera's clock at the shutter
    VirtualProperties::Exposure exposure;
    FileKind kind = FileKind::jpeg;
    bool toSdram = false;
    std::uint32_t transactionId = 0;
};

// What the camera decided about one operation: the response, and the data phase to send
// after the lock is let go (bytes, a range of a card file, or a live-view frame to make).
struct Reply {
    std::uint16_t code = PTP::code(PTP::Response::ok);
    std::vector<std::uint32_t> params;
    std::optional<Bytes> data;
    struct FileRange {
        QString path;
        std::uint64_t offset = 0;
        std::optional<std::uint64_t> length;  // none: to the end
        std::optional<std::uint64_t> cutAfter;
        std::uint64_t overlong = 0;  // bytes sent after the file, beyond its announced size
    };
    std::optional<FileRange> file;
    std::optional<double> liveViewSeconds;  // a frame to make, this far into live view
    std::optional<BodyTime> holdUntil;      // the answer goes out no earlier than this
    bool breaksLink = false;

    static Reply answer(std::uint16_t code) {
        Reply r;
        r.code = code;
        return r;
    }
    static Reply answer(PTP::Response code) { return answer(PTP::code(code)); }
    static Reply withData(Bytes bytes) {
        Reply r;
        r.data = std::move(bytes);
        return r;
    }
};

struct VirtualBodyState {
    VirtualBodyState(VirtualCamera::Options o, const VirtualModel& m);

    VirtualCamera::Options options;
    std::shared_ptr<BodyClock> clock;  // options.clock, or real time
    // This body's own copy: an option may take an operation out of what it announces.
    VirtualModel model;
    QString serial;
    std::unique_ptr<QTemporaryDir> temporary;
    std::unique_ptr<VirtualCard> card;
    std::unique_ptr<LiveViewFrames> frames;

    mutable std::mutex mutex;
    std::condition_variable changed;  // events, unplugging, wake(), work for the body thread

    VirtualProperties properties;
    std::optional<std::uint32_t> session;
    int busyCommands = 0;
    BodyTime busyUntil{};
    int capturesPending = 0;
    std::optional<std::uint16_t> focusResult;
    bool focusSucceeds = true;
    // Where the lens focuses, and where the scene is sharp (both in drive steps).
    int lensFocus = 0;
    int subjectFocus = 0;
    bool liveView = false;
    BodyTime liveViewSince{};
    BodyTime liveViewReady{};
    BodyTime lastFrameAt{};  // when the last live-view frame was due; the epoch: none yet
    bool hostMode = false;
    std::uint32_t prohibition = 0;
    bool noFramesOnCard = false;
    std::optional<std::uint64_t> cutAfter;
    std::uint64_t overlong = 0;
    std::optional<std::uint64_t> stallAfter;
    bool stalled = false;
    std::uint64_t initiatorsGone = 0;  // counts initiatorGone(): a stall waits for the next
    double latencyMs = 0;
    double bandwidth = 0;
    double drift = 0;
    std::atomic<bool> unplugged{false};
    int eventReaders = 0;  // threads blocked in waitEvent
    std::deque<std::pair<std::uint16_t, std::uint32_t>> events;
    std::deque<std::pair<std::uint16_t, std::uint32_t>> checkEvents;
    std::map<std::uint16_t, int> calls;
    struct Refusal {
        std::uint16_t response = 0;
        bool afterDoing = false;
    };
    std::map<std::uint16_t, Refusal> refusals;

    struct Sdram {
        Bytes data;
        QString name;
        QDateTime date;
        PictureFacts facts;
    };
    std::optional<Sdram> sdram;
    int sdramShots = 0;

    struct Job {
        BodyTime due;
        CaptureOrder order;
    };
    std::deque<Job> jobs;
    bool stopping = false;
    std::thread body;  // none when options.bodyThread is false
    // Told whenever an event may have become readable (raised, or the cable pulled); the
    // in-process link that asked for it, by its address.
    const void* eventWatcher = nullptr;
    std::function<void()> eventNotice;

    BodyTime now() const { return clock->now(); }
    QDateTime wallNow() const {
        return options.wallClock ? options.wallClock() : QDateTime::currentDateTime();
    }
    QDateTime cameraNow() const { return wallNow().addMSecs(std::llround(drift * 1000.0)); }
    bool bodyBusy() const { return capturesPending > 0 || now() < busyUntil; }
    // A capture has fallen due and is not finished yet (queued or being written).
    bool captureDue() const {
        return capturesPending > static_cast<int>(jobs.size()) ||
               (!jobs.empty() && jobs.front().due <= now());
    }
    void log(const QString& line) const {
        if (options.log) options.log(line);
    }

    // Whether a call with this `closed` flag (may be null) is to give up.
    bool over(const std::atomic<bool>* closed) const {
        return unplugged.load() || (closed && closed->load());
    }
    // Pulls the cable: for good. The lock is not held.
    void unplug();

    // Events (VirtualEvents.cpp); the lock is held.
    void raise(std::uint16_t code, std::uint32_t param);
    void raise(PTP::Event event, std::uint32_t param) { raise(PTP::code(event), param); }
    void raiseChanged(const std::vector<std::uint16_t>& codes);
    // The values the camera works out when asked: its clock, and the prohibition bits that
    // follow its state. The lock is held.
    void refreshDynamic();
    // The live picture follows the lens: blurred by how far it is from the subject, with
    // `judgement` for the AF area. The lock is held.
    void lensMoved(FocusJudgement judgement);
};

}  // namespace pexil::camera
