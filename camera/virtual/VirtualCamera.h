#pragma once

#include "camera/transport/Transport.h"
#include "camera/virtual/BodyClock.h"
#include "camera/virtual/VirtualModel.h"
#include "kit/liveview/LiveViewHeader.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace pexil::camera {

struct VirtualBodyState;

// A Nikon body (or, as a variant, another vendor's camera) in process: it answers PTP as the
// real cameras in the reference readings do, keeps a card that is a real folder, takes
// pictures that become real files, and shows a moving live picture. It serves the tests of
// everything above the transport, the demo mode, and the PTP/IP server.
//
// What it answers (any other operation, and any operation the body does not announce,
// answers 0x2005):
// - GetDeviceInfo (also without a session); OpenSession (0x201D for session ID 0, 0x201E
//   with the open session's ID when one is open) and CloseSession. Everything else needs a
//   session: 0x2003 without.
// - GetStorageIDs, GetStorageInfo, GetNumObjects, GetObjectHandles (storage 0xFFFFFFFF or
//   the card's; format 0 = all; association 0 = all objects, 0xFFFFFFFF = those at the root,
//   or a folder's handle), GetObjectInfo, GetObject (streamed in 1 MiB pieces from the file),
//   GetPartialObject (offset, maximum length; the length sent is the response parameter),
//   GetThumb (0x2010 when a file has no thumbnail), DeleteObject (the file leaves the folder;
//   ObjectRemoved follows).
// - GetDevicePropDesc, GetDevicePropValue, SetDevicePropValue for every property of the
//   body's table (see VirtualProperties for the exposure logic and the answers to writes),
//   and DateTime (0x5011), whose value is the camera's clock and whose writing sets it.
//   Writes that change anything raise DevicePropChanged for each property that changed.
// - InitiateCapture and the Nikon capture (0x90C0): the shutter fires at once and the body
//   stays busy until the picture is on the card (DeviceReady answers 0x2019, further
//   captures 0x2019); then ObjectAdded (new folders first, then the files: JPEG, raw or both
//   as the quality setting 0x5004 says) and CaptureComplete. With recording media (0xD10B) 1,
//   the picture stays in the camera's memory as object 0xFFFF0001 instead of going to the card.
// - Nikon: AfDrive (busy for a moment, then DeviceReady answers OK, or 0xA002 once when the
//   focus knob says so), ChangeCameraMode (0 camera, 1 host), CheckEvent (up to 255 queued
//   events per answer, the rest at the next), DeviceReady, GetVendorPropCodes (the 0xDxxx
//   properties that DeviceInfo leaves out).
// - Nikon live view: StartLiveView (0x2019 while a capture is under way; 0xA004 while any
//   prohibition bit is set; busy for a moment after it starts), EndLiveView (0xA00B when
//   off), GetLiveViewImg (0xA00B when off, 0x2019 while starting or capturing; a big-endian
//   header of the body's size, then a JPEG of the moving scene). Live-view status 0xD1A2
//   follows; the prohibition 0xD1A4 reads as the knob's bits, plus bit 15 while a capture
//   is under way, minus bit 0 (recording destination is the card) while recording to SDRAM.
//   ChangeAfArea (0xA00B when off, 0x201D outside the whole area; the AF area stays whole
//   inside it) and MfDrive (1 near, 2 far, 1 to 32767 steps of a 2000-step lens; busy while
//   it travels, then DeviceReady answers 0xA00C once if it ran into an end). The scene blurs
//   with the lens's distance from the subject; AF brings it back and the header's judgement
//   says focused or not. The zoom 0xD1A3 shows a part around the AF area, enlarged.
//
// Events go to both channels while a session is open: the event stream (waitEvent: standard
// event containers, 16 bytes, type 4, transaction ID 0xFFFFFFFF, one parameter) and, on
// bodies with CheckEvent, its queue. Each queue keeps at most 4096 events; older ones are
// dropped first.
//
// Threads: handle() from one thread at a time, waitEvent() from another, everything else
// from any thread; the camera's own work (finishing a capture) runs on its own thread, or,
// without one (Options::bodyThread), on the thread that moves its clock.
// Busy periods (Options::timings), latency and bandwidth run on the body's clock
// (Options::clock): real time unless a test gives it a ManualBodyClock. The camera is
// deterministic for a given seed: the card, the pictures and the serial number follow from
// it, only the dates follow the wall clock.
class VirtualCamera final : public Responder {
public:
    struct Timings {
        std::chrono::milliseconds capture{40};  // shutter to the picture on the card
        std::chrono::milliseconds autofocus{30};
        std::chrono::milliseconds liveViewStart{30};  // before the first frame
    };

    struct Options {
        // The body, by its name in virtualModelNames().
        QString model = QStringLiteral("d850");
        // The card; empty makes a private temporary folder that goes with the camera.
        QString cardDir;
        // Pictures to put on an empty card (a card with content keeps it as it is).
        int photos = 0;
        std::uint64_t seed = 1;
        // How far the camera's clock is ahead of the computer's, in seconds (negative: behind).
        double clockDriftSeconds = 0;
        // Added to every transaction.
        double latencyMs = 0;
        // Data phases are slowed to this many MB (10^6 bytes) per second; 0 = unlimited.
        double bandwidthMBps = 0;
        // Whether the body announces and answers GetObjectPropList (0x9805), as D800-class
        // bodies do; false: 0x2005, as older bodies answer.
        bool objectPropList = true;
        // GetObject of a file of this name answers the response code without data, as a
        // card with a damaged file does; GetPartialObject and GetThumb still work.
        std::map<QString, std::uint16_t> failObjects;
        // Every gpsEvery-th picture, on the filled card and among the shots (by file number),
        // carries the body's own GPS position in its EXIF data; 0: none does.
        int gpsEvery = 0;
        // Live-view frames a second; none: the body's own rate, 0: each one at once (for
        // benchmarks and tests that count frames rather than time).
        std::optional<double> liveViewFps;
        // Pictures at the sensor's size instead of about 1600 pixels wide.
        bool fullSizePictures = false;
        // The stall fault from power-on: see stallAfter().
        std::optional<std::uint64_t> stallAfter;
        // False: on bodies with CheckEvent, events are only queued for it and nothing goes
        // out on the event channel, as some Nikon DSLRs behave over USB.
        bool eventChannel = true;
        // False: the camera has no thread of its own. A capture reaches the card when its
        // clock, which must be a ManualBodyClock, is moved past it (inside advance()), or
        // at the next operation, whichever comes first. Latency and bandwidth take no time,
        // since nothing could move the clock while the camera waited, and a live-view frame
        // asked for before the sensor has it answers busy. For tests on virtual time.
        bool bodyThread = true;
        // Without a body thread: told, with the camera's lock held, each time a capture is
        // to reach the card at `due` on the body's clock, so that whoever moves the clock
        // (a test's runtime, with a timer) moves it that far even when nothing else waits.
        std::function<void(BodyClock::TimePoint due)> wakeAt;
        Timings timings;
        // What the timings, latency and bandwidth are measured on; empty: real time.
        std::shared_ptr<BodyClock> clock;
        // The computer's clock (local time); must be callable from any thread. Empty: the
        // system clock.
        std::function<QDateTime()> wallClock;
        // Diagnostic lines (a capture that could not be saved); any thread. May be empty.
        std::function<void(const QString&)> log;
    };

    // Opens (and, when empty, fills) the card and powers the body on. Fails with a message
    // for the user when the card folder cannot be made, read or filled.
    static Result<std::shared_ptr<VirtualCamera>, QString> create(Options options);
    ~VirtualCamera() override;
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    // Responder. After unplug() (or a cut connection) every call fails with a
    // TransportError at once.
    Result<Response, TransportError> handle(const Operation& operation,
                                            std::optional<ByteView> outData,
                                            DataSink& sink) override;
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override;
    bool inReach() const override { return !isStalled(); }
    void initiatorGone() override;

    // The same for a link that can be closed on its own (the in-process transport): the
    // call gives up with a TransportError once `closed` is true and wake() has been called.
    Result<Response, TransportError> handle(const Operation& operation,
                                            std::optional<ByteView> outData, DataSink& sink,
                                            const std::atomic<bool>& closed);
    Result<std::optional<Bytes>, TransportError> waitEvent(std::chrono::milliseconds timeout,
                                                           const std::atomic<bool>& closed);
    // Wakes every blocked call so that it looks at its `closed` flag.
    void wake();
    // Whether no call ever blocks: no body thread, a clock that moves only when told, no
    // stall (Transport::answersAtOnce()).
    bool answersAtOnce() const;
    // `notice` is called whenever an event may have become readable (one raised, the cable
    // pulled), on the thread that did it and with the camera's lock held: it must not call
    // back into the camera. One watcher at a time; an empty notice ends `watcher`'s watch
    // (and no other's).
    void watchEvents(const void* watcher, std::function<void()> notice);

    // The body's own controls.
    void pressShutter();                       // a capture from the camera: as InitiateCapture
    void turnModeDial(std::uint16_t program);  // sets 0x500E, read-only or not
    void unplug();                             // the cable is pulled: for good
    bool isUnplugged() const;

    // Fault knobs.
    // The next `commands` operations answer 0x2019. GetDeviceInfo, OpenSession,
    // CloseSession, DeviceReady and CheckEvent are exempt and do not count: a busy camera
    // still answers its polls, and a retry loop needs them to get through.
    void setBusyFor(int commands);
    // Every later `operation` answers `response` without a data phase (0: answer normally
    // again). With `afterDoing` the body still carries the operation out first, as bodies do
    // that apply a setting and then report an error.
    void refuse(std::uint16_t operation, std::uint16_t response, bool afterDoing = false);
    // Bits of 0xD1A4 (see above); raises DevicePropChanged.
    void setProhibition(std::uint32_t bits);
    // While recording to the card, live view gives frames without a picture (the header
    // alone), as some bodies do until recording goes to SDRAM.
    void setNoFramesWhileRecordingToCard(bool on);
    // The next GetObject stops after `bytes` bytes of its data phase with a TransportError,
    // and the connection is gone from then on, as with a pulled cable.
    void cutTransferAfter(std::uint64_t bytes);
    // The next GetObject sends `bytes` more after the file than its ObjectInfo announced, as
    // a confused body may (the data phase announces the longer length).
    void sendPastObjectEnd(std::uint64_t bytes);
    // The first data phase longer than `bytes` stops after that many of its bytes without
    // closing anything, as a body that walks out of Wi-Fi range mid-transfer: it sends
    // nothing more, raises no event and is out of reach (inReach(): a PTP/IP server answers
    // no probe for it) until the host gives the link up (VirtualTransport::interrupt(), a
    // PTP/IP initiator that goes away); that call then fails with a TransportError and the
    // body is back in reach, its card as it was. Once per call of this (or of the option).
    void stallAfter(std::uint64_t bytes);
    // Whether a data phase is stalled now.
    bool isStalled() const;
    // GetObject of the file named `name` answers `response` from now on (0: normally again).
    void failObject(const QString& name, std::uint16_t response);
    void setLatency(double milliseconds);
    void setBandwidth(double megabytesPerSecond);
    void setClockDrift(double seconds);
    // Whether the next AF drives find focus (true at power-on).
    void setFocusSucceeds(bool succeeds);
    // How the live-view header describes the frames: the body turned, and the part of the
    // whole area shown (`display` around `centre`; empty: all of it), as the body's zoom
    // does. The JPEG itself stays as painted.
    void setLiveViewFraming(LiveViewRotation rotation, QSize display = {}, QPoint centre = {});
    // Where the lens focuses, in drive steps from its nearest point.
    int lensFocus() const;
    // Brightness of the scene in EV at ISO 100 (5 at power-on); moves the meter and what
    // the camera picks in P, A and S.
    void setSceneBrightness(double ev);

    // Observation.
    QString cardDir() const;
    const VirtualModel& model() const;
    QString serialNumber() const;
    QDateTime cameraClock() const;
    // How many times an operation arrived (refused ones included).
    int callCount(std::uint16_t operation) const;
    bool isSessionOpen() const;
    bool isLiveViewOn() const;
    bool isHostControlled() const;
    // Blocks until no capture is under way (every picture the shutter took is on the card or
    // in memory, its events raised), for at most `timeout` of real time; whether it is so.
    // On a ManualBodyClock a capture finishes only once the clock has passed its time.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;
    // Blocks until a thread waits in waitEvent, for at most `timeout` of real time; whether
    // one does. Tests that must wake a blocked reader know then that it is blocked.
    bool waitForEventReader(std::chrono::milliseconds timeout) const;

private:
    explicit VirtualCamera(std::unique_ptr<VirtualBodyState> state);

    Result<Response, TransportError> run(const Operation& operation,
                                         std::optional<ByteView> outData, DataSink& sink,
                                         const std::atomic<bool>* closed);

    // Everything the camera is and does: see VirtualBodyState.h.
    std::unique_ptr<VirtualBodyState> state_;
};

}  // namespace pexil::camera
