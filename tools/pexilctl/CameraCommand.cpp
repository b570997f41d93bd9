#include "tools/pexilctl/CameraCommand.h"

#include "camera/ptpip/PtpIpServer.h"
#include "camera/service/CameraFile.h"
#include "camera/sources/CameraSources.h"
#include "kit/ptp/PTPCamera.h"
#include "kit/ptp/PTPReader.h"
#include "tools/pexilctl/EventLoop.h"
#include "tools/pexilctl/StopSignals.h"
#include "tools/pexilctl/TerminalProgress.h"
#include "tools/pexilctl/VirtualCameraOptions.h"
#include "tools/pexilctl/Waiter.h"

#include <QDir>
#include <QSaveFile>

namespace pexil::cli {

namespace {

using camera::CameraDevice;
using camera::CameraFile;

// Everything the camera told us, gathered on the main thread.
struct Observed {
    std::vector<std::optional<TransportError>> opened;
    std::vector<std::optional<TransportError>> closed;
    std::vector<std::shared_ptr<CameraFile>> files;
    bool catalogued = false;
};

QString pathOf(const CameraFile& file) {
    return file.folderPath().isEmpty() ? file.name() : file.folderPath() + u'/' + file.name();
}

std::shared_ptr<CameraFile> findFile(const Observed& seen, const QString& path) {
    for (const auto& file : seen.files) {
        const QString full = pathOf(*file);
        if (full == path || full.endsWith(u'/' + path)) return file;
    }
    return nullptr;
}

struct StorageInfo {
    std::uint64_t capacity = 0;
    std::uint64_t free = 0;
    QString label;
};

// A PTP string at the reader's position, moving past all of it; none when cut short.
std::optional<QString> readString(PTPReader& reader) {
    const auto rest = ByteView(reader.data()).subspan(static_cast<std::size_t>(std::max<std::int64_t>(0, reader.offset())));
    const auto count = reader.read<std::uint8_t>();
    if (!count) return std::nullopt;
    if (reader.remaining() < 2 * static_cast<std::int64_t>(*count)) return std::nullopt;
    for (unsigned i = 0; i < *count; ++i) reader.read<std::uint16_t>();
    return *count == 0 ? QString() : PTP::decodeString(rest).value_or(QString());
}

// StorageType, FilesystemType, AccessCapability, MaxCapacity, FreeSpaceInBytes,
// FreeSpaceInImages, StorageDescription, VolumeLabel.
std::optional<StorageInfo> parseStorageInfo(const Bytes& data) {
    PTPReader reader(data);
    reader.read<std::uint16_t>();
    reader.read<std::uint16_t>();
    reader.read<std::uint16_t>();
    const auto capacity = reader.read<std::uint64_t>();
    const auto free = reader.read<std::uint64_t>();
    if (!capacity || !free || !reader.read<std::uint32_t>()) return std::nullopt;
    StorageInfo info{*capacity, *free, {}};
    if (readString(reader)) info.label = readString(reader).value_or(QString());
    return info;
}

struct Request {
    QString command;
    QStringList paths;
    QString dest;
    QString out;
    QString address;
    camera::VirtualCamera::Options virtualOptions;
    std::chrono::milliseconds ioTimeout = camera::defaultIoTimeout;
};

async::Task<int> summary(async::Runtime& runtime, std::shared_ptr<CameraDevice> device, const Observed& seen,
                         CommandIO io) {
    PTPCamera ptp(runtime, device, {});
    const auto info = co_await ptp.readDeviceInfo();
    if (!info) {
        io.err << "pexilctl camera: DeviceInfo を読めません\n";
        co_return exitFailed;
    }
    io.out << "manufacturer: " << info->manufacturer << "\n";
    io.out << "model: " << info->model << "\n";
    io.out << "version: " << info->version << "\n";
    io.out << "serial: " << info->serialNumber << "\n";
    auto engine = device->engine();
    if (!engine) co_return exitFailed;
    std::vector<std::uint32_t> none;
    auto ids = co_await engine->exchange(PTP::code(PTP::Op::getStorageIDs), std::move(none));
    if (ids && ids.value().response.code == PTP::Response::ok) {
        PTPReader reader(ids.value().data);
        const std::uint32_t count = reader.read<std::uint32_t>().value_or(0);
        for (std::uint32_t i = 0; i < count && i < 16; ++i) {
            const auto id = reader.read<std::uint32_t>();
            if (!id) break;
            std::vector<std::uint32_t> params{*id};
            auto storage = co_await engine->exchange(PTP::code(PTP::Op::getStorageInfo), std::move(params));
            if (!storage || storage.value().response.code != PTP::Response::ok) continue;
            const auto parsed = parseStorageInfo(storage.value().data);
            if (!parsed) continue;
            io.out << QString::asprintf("storage: 0x%08X ", *id) << parsed->label << " capacity=" << parsed->capacity
                   << " free=" << parsed->free << "\n";
        }
    }
    io.out << "files: " << seen.files.size() << "\n";
    co_return exitOK;
}

async::Task<int> getFiles(const Request& request, const Observed& seen, CommandIO io) {
    int status = exitOK;
    TerminalProgress progress(io.err, TerminalProgress::isTerminal(io.err), QStringLiteral("get"));
    const auto total = static_cast<std::uint64_t>(request.paths.size());
    std::uint64_t done = 0, bytesDone = 0, bytesTotal = 0;
    for (const QString& path : request.paths)
        if (const auto file = findFile(seen, path)) bytesTotal += file->fileSize();
    progress.update(done, total, bytesDone, bytesTotal);
    for (const QString& path : request.paths) {
        const auto file = findFile(seen, path);
        ++done;
        if (!file) {
            progress.clear();
            io.err << "pexilctl camera: カードにありません: " << path << "\n";
            status = exitFailed;
            progress.update(done, total, bytesDone, bytesTotal);
            continue;
        }
        // A local, not a braced temporary: g++ 12 destroys such a temporary twice in co_await.
        CameraFile::DownloadOptions options{request.dest, false, {}, {}, {}};
        auto result = co_await file->download(std::move(options));
        bytesDone += file->fileSize();
        progress.clear();
        if (result) {
            io.out << "saved: " << QDir(request.dest).filePath(result.value().name) << "\n";
        } else {
            io.err << "pexilctl camera: 転送失敗 " << path << ": " << result.error().message()
                   << "\n";
            status = exitFailed;
        }
        io.out.flush();
        progress.update(done, total, bytesDone, bytesTotal);
    }
    co_return status;
}

async::Task<int> thumb(const Request& request, const Observed& seen, CommandIO io) {
    const auto file = findFile(seen, request.paths.value(0));
    if (!file) {
        io.err << "pexilctl camera: カードにありません: " << request.paths.value(0) << "\n";
        co_return exitFailed;
    }
    auto result = co_await file->thumbnail(0);
    if (!result) {
        io.err << "pexilctl camera: サムネイルを読めません: " << result.error().message << "\n";
        co_return exitFailed;
    }
    QSaveFile out(request.out);
    const Bytes& data = result.value();
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size())) !=
            static_cast<qint64>(data.size()) ||
        !out.commit()) {
        io.err << "pexilctl camera: 書き出せません: " << request.out << "（" << out.errorString() << "）\n";
        co_return exitFailed;
    }
    io.out << "saved: " << request.out << "\n";
    co_return exitOK;
}

async::Task<int> shoot(async::Runtime& runtime, std::shared_ptr<CameraDevice> device,
                       const Observed& seen, Waiter& waiter, CommandIO io) {
    PTPCamera ptp(runtime, device, {});
    co_await ptp.readDeviceInfo();
    const std::size_t before = seen.files.size();
    const auto released = co_await ptp.releaseShutter();
    if (!released) {
        io.out << "shot: " << describe(released.error()) << "\n";
        co_return exitFailed;
    }
    std::function<bool()> added = [&seen, before] { return seen.files.size() > before; };
    const bool arrived = co_await waiter.until(std::move(added), 30);
    if (!arrived) {
        io.err << "pexilctl camera: 30 秒待っても新しい写真が届きません\n";
        co_return exitFailed;
    }
    io.out << "shot: " << pathOf(*seen.files.back()) << "\n";
    co_return exitOK;
}

async::Task<int> runRequest(async::Runtime& runtime, Request request, CommandIO io) {
    const auto address = camera::CameraAddress::parse(request.address);
    if (!address) {
        io.err << "pexilctl camera: " << address.error() << "\n";
        co_return exitUnreadable;
    }
    auto setup = camera::setUpCamera(
        runtime, address.value(), request.virtualOptions,
        [io](const QString& line) mutable { io.err << line << "\n"; }, request.ioTimeout);
    if (!setup) {
        io.err << "pexilctl camera: " << setup.error() << "\n";
        co_return exitFailed;
    }
    // The camera service tells through callbacks; each one pokes the waits below.
    Waiter waiter;
    camera::DeviceBrowser browser;
    std::shared_ptr<CameraDevice> device;
    browser.onDeviceAdded = [&device, &waiter](const std::shared_ptr<CameraDevice>& d) {
        if (!device) device = d;
        waiter.poke();
    };
    browser.addSource(std::move(setup.value().source));
    browser.start();
    std::function<bool()> found = [&device] { return device != nullptr; };
    const bool reached = co_await waiter.until(std::move(found), 10);
    if (!reached) {
        io.err << "pexilctl camera: カメラが見つかりません（" << request.address << "）\n";
        co_return exitFailed;
    }

    Observed seen;
    CameraDevice::Callbacks listener;
    listener.sessionOpened = [&seen, &waiter](std::optional<TransportError> e) {
        seen.opened.push_back(std::move(e));
        waiter.poke();
    };
    listener.sessionClosed = [&seen, &waiter](std::optional<TransportError> e) {
        seen.closed.push_back(std::move(e));
        waiter.poke();
    };
    listener.itemsAdded = [&seen, &waiter](const camera::CameraItems& items) {
        seen.files.insert(seen.files.end(), items.files.begin(), items.files.end());
        waiter.poke();
    };
    listener.catalogComplete = [&seen, &waiter] {
        seen.catalogued = true;
        waiter.poke();
    };
    device->setListener(CameraDevice::listenerFrom(listener));
    device->requestOpenSession();
    std::function<bool()> opened = [&seen] { return !seen.opened.empty(); };
    co_await waiter.until(std::move(opened), 120);
    if (seen.opened.empty() || seen.opened.front()) {
        io.err << "pexilctl camera: カメラに接続できません: "
               << (seen.opened.empty() ? QString::fromUtf8("応答がありません") : seen.opened.front()->message) << "\n";
        co_return exitFailed;
    }
    std::function<bool()> catalogued = [&seen] { return seen.catalogued || !seen.closed.empty(); };
    const bool listed = co_await waiter.until(std::move(catalogued), 600);
    if (!listed || !seen.closed.empty()) {
        io.err << "pexilctl camera: カードの一覧を読めません\n";
        co_return exitFailed;
    }

    int status = exitOK;
    if (request.command == QLatin1String("summary")) {
        status = co_await summary(runtime, device, seen, io);
    } else if (request.command == QLatin1String("ls")) {
        for (const auto& file : seen.files) {
            const auto date = file->creationDate();
            io.out << pathOf(*file) << " " << file->fileSize() << " "
                   << (date ? date->toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QStringLiteral("-")) << "\n";
        }
    } else if (request.command == QLatin1String("get")) {
        status = co_await getFiles(request, seen, io);
    } else if (request.command == QLatin1String("thumb")) {
        status = co_await thumb(request, seen, io);
    } else {
        status = co_await shoot(runtime, device, seen, waiter, io);
    }
    bool closed = false;
    device->requestCloseSession([&closed, &waiter](std::optional<TransportError>) {
        closed = true;
        waiter.poke();
    });
    std::function<bool()> isClosed = [&closed] { return closed; };
    co_await waiter.until(std::move(isClosed), 10);
    co_return status;
}

}  // namespace

QString cameraHelp() {
    return QStringLiteral(
        "usage: pexilctl camera [--camera ADDRESS] COMMAND\n"
        "\n"
        "Uses the camera service directly, like a minimal PTP client.\n"
        "  --camera ADDRESS   usb (default: the first camera found), usb:BUS:ADDRESS,\n"
        "                     ptpip://HOST[:PORT] (port 15740), or virtual\n"
        "  --io-timeout SECONDS  a transaction without progress for this long (1 to 3600,\n"
        "                     default 20) loses the camera; over PTP/IP a silent camera is\n"
        "                     probed first\n"
        "  With --camera virtual: --model NAME (--model list), --card DIR, --photos N,\n"
        "  --seed S, --clock-drift SECONDS, --latency MS, --bandwidth MBPS, --full-size,\n"
        "  --live-fps N (live-view frames a second; 0: unpaced), --stall-after BYTES, and\n"
        "  --check-event-only (events queued for CheckEvent alone, none on the event channel).\n"
        "\n"
        "Commands and their output:\n"
        "  summary                 manufacturer:, model:, version:, serial:,\n"
        "                          storage: 0xID LABEL capacity=BYTES free=BYTES, files: N\n"
        "  ls                      one line per file: FOLDER/NAME SIZE YYYY-MM-DDTHH:MM:SS\n"
        "                          (the date in the camera's clock; - when it has none)\n"
        "  get PATH... --dest DIR  downloads, never overwriting (NAME-1.EXT ... when taken);\n"
        "                          one line per file: saved: PATH\n"
        "  thumb PATH --out FILE   the camera's thumbnail: saved: FILE\n"
        "  shoot                   releases the shutter; shot: FOLDER/NAME once the camera\n"
        "                          reports the new file, or shot: REASON\n"
        "\n"
        "Exit status: 0 done, 1 the camera or a transfer failed, 2 wrong command line.\n");
}

int runCamera(const QStringList& arguments, CommandIO io) {
    QStringList args = arguments;
    if (printedHelp(args, io, cameraHelp())) return exitOK;
    Request request;
    const auto address = takeValue(args, QStringLiteral("--camera"), io);
    const auto dest = takeValue(args, QStringLiteral("--dest"), io);
    const auto out = takeValue(args, QStringLiteral("--out"), io);
    const auto ioTimeout = takeIoTimeout(args, io, QStringLiteral("camera"), camera::defaultIoTimeout);
    const auto virtualOptions = takeVirtualOptions(args, io);
    if (!address || !dest || !out || !ioTimeout || !virtualOptions) return exitUnreadable;
    request.ioTimeout = *ioTimeout;
    request.address = address->isEmpty() ? QStringLiteral("usb") : *address;
    request.dest = *dest;
    request.out = *out;
    request.virtualOptions = *virtualOptions;
    if (args.isEmpty()) {
        io.err << "pexilctl camera: コマンドを指定してください（summary, ls, get, thumb, shoot）\n";
        return exitUnreadable;
    }
    request.command = args.takeFirst();
    request.paths = args;
    const QStringList commands{QStringLiteral("summary"), QStringLiteral("ls"), QStringLiteral("get"),
                               QStringLiteral("thumb"), QStringLiteral("shoot")};
    if (!commands.contains(request.command)) {
        io.err << "pexilctl camera: 知らないコマンドです: " << request.command << "\n";
        return exitUnreadable;
    }
    const bool needsPaths = request.command == QLatin1String("get") || request.command == QLatin1String("thumb");
    if (needsPaths != !request.paths.isEmpty() ||
        (request.command == QLatin1String("get") && request.dest.isEmpty()) ||
        (request.command == QLatin1String("thumb") && (request.out.isEmpty() || request.paths.size() != 1))) {
        io.err << "pexilctl camera: 引数が足りないか多すぎます（pexilctl camera --help）\n";
        return exitUnreadable;
    }
    if (request.command == QLatin1String("get") && !QDir(request.dest).exists()) {
        io.err << "pexilctl camera: 保存先のフォルダがありません: " << request.dest << "\n";
        return exitUnreadable;
    }

    return runOnEventLoop(io, [&request, io](async::Runtime& runtime) {
        return runRequest(runtime, std::move(request), io);
    });
}

QString vcamHelp() {
    return QStringLiteral(
        "usage: pexilctl vcam [--listen ADDR[:PORT]] [--model NAME (--model list)] [--card DIR]\n"
        "                     [--photos N] [--seed S] [--clock-drift SECONDS] [--latency MS]\n"
        "                     [--bandwidth MBPS] [--check-event-only] [--for SECONDS]\n"
        "                     [--gps-every N] [--no-prop-list] [--fail-object NAME:RESPONSE]...\n"
        "                     [--full-size] [--stall-after BYTES] [--live-fps N]\n"
        "\n"
        "Serves the virtual Nikon camera over PTP/IP (default 127.0.0.1:15740; port 0 takes\n"
        "any free port). Prints 'listening on ADDR:PORT' once ready and runs until\n"
        "interrupted (or for SECONDS). The card is DIR (a temporary folder by default);\n"
        "an empty card is filled with N generated pictures (about 1600 pixels wide, or at\n"
        "the sensor's size with --full-size). Live view streams at the body's own rate (30\n"
        "frames a second on the D850 and Z lines), or --live-fps N; 0 sends each frame as\n"
        "soon as it is asked for.\n"
        "--stall-after BYTES: the first data phase longer than BYTES stops after them without\n"
        "closing anything, as a camera gone out of Wi-Fi range: it sends nothing more and\n"
        "answers no probe until the computer gives the connection up; then it is back.\n");
}

int runVcam(const QStringList& arguments, CommandIO io) {
    QStringList args = arguments;
    if (printedHelp(args, io, vcamHelp())) return exitOK;
    const auto listen = takeValue(args, QStringLiteral("--listen"), io);
    const auto seconds = takeSeconds(args, QStringLiteral("--for"), io, QStringLiteral("vcam"));
    auto options = takeVirtualOptions(args, io);
    if (!listen || !seconds || !options) return exitUnreadable;
    if (!args.isEmpty()) {
        io.err << "pexilctl vcam: 知らない引数です: " << args.join(u' ') << "\n";
        return exitUnreadable;
    }
    QString host = QStringLiteral("127.0.0.1");
    int port = camera::CameraAddress::ptpipPort;
    if (!listen->isEmpty()) {
        const qsizetype colon = listen->lastIndexOf(u':');
        host = colon < 0 ? *listen : listen->left(colon);
        bool ok = true;
        if (colon >= 0) port = listen->mid(colon + 1).toInt(&ok);
        if (!ok || port < 0 || port > 65535 || host.isEmpty()) {
            io.err << "pexilctl vcam: --listen の値が正しくありません: " << *listen << "\n";
            return exitUnreadable;
        }
    }
    // Before any thread starts, so that every thread inherits the blocked mask.
    StopSignals stopSignals;

    auto camera = camera::VirtualCamera::create(*options);
    if (!camera) {
        io.err << "pexilctl vcam: " << camera.error() << "\n";
        return exitFailed;
    }
    camera::PtpIpServer server(camera.value(), host.toStdString(), static_cast<std::uint16_t>(port),
                               [io](const QString& line) mutable {
                                   io.err << line << "\n";
                                   io.err.flush();
                               });
    const auto started = server.start();
    if (!started) {
        io.err << "pexilctl vcam: " << started.error().message << "\n";
        return exitFailed;
    }
    io.out << "listening on " << host << ":" << server.port() << "\n";
    io.out.flush();

    stopSignals.wait(*seconds);
    server.stop();
    return exitOK;
}

}  // namespace pexil::cli
