#include "tools/pexilctl/GeoReceiveCommand.h"

#include "app/geo/ComputerName.h"
#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"
#include "app/geo/GeoReceiver.h"
#include "app/geo/GeoStore.h"
#include "kit/async/Clock.h"
#include "tools/pexilctl/LineText.h"
#include "tools/pexilctl/StopSignals.h"

#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>
#include <variant>

namespace pexil::cli {

namespace {

// A payload file larger than this cannot become a message the receiver accepts anyway.
constexpr qint64 payloadFileLimit = 2LL * GeoLink::maximumBody;
constexpr std::chrono::seconds connectTimeout{10};
constexpr std::chrono::seconds progressTimeout{30};

// Every text in these lines but our own words may come from outside: the sender's name from
// any device on the network, the computer's name, a listener error. lineSafe keeps each on
// its one line, so a name cannot forge a "state:" line of its own.
QString stateLine(const GeoReceiver::State& state, quint16 port) {
    struct Line {
        quint16 port;
        QString operator()(const GeoReceiver::Stopped&) const {
            return QStringLiteral("state: stopped");
        }
        QString operator()(const GeoReceiver::Waiting& waiting) const {
            return QStringLiteral("state: waiting ") + lineSafe(waiting.name) +
                   QStringLiteral(" (port %1)").arg(port);
        }
        QString operator()(const GeoReceiver::Receiving&) const {
            return QStringLiteral("state: receiving");
        }
        QString operator()(const GeoReceiver::Received& received) const {
            return QStringLiteral("state: received ") + lineSafe(received.sender);
        }
        QString operator()(const GeoReceiver::Failed& failed) const {
            return QStringLiteral("state: failed ") + lineSafe(failed.message);
        }
    };
    return std::visit(Line{port}, state);
}

struct ReceiveOptions {
    quint16 port = 0;
    bool advertise = true;
    bool help = false;
};

std::optional<ReceiveOptions> parseReceive(const QStringList& args, CommandIO io) {
    ReceiveOptions options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--no-advertise")) {
            options.advertise = false;
        } else if (arg == QLatin1String("--port")) {
            bool ok = false;
            const uint port = i + 1 < args.size() ? args[i + 1].toUInt(&ok) : 0;
            if (!ok || port > 65535) {
                io.err << "pexilctl geo receive: --port には 0 から 65535 の数を指定してください\n";
                return std::nullopt;
            }
            options.port = static_cast<quint16>(port);
            ++i;
        } else {
            io.err << "pexilctl geo receive: 知らない引数です: " << arg
                   << "（pexilctl geo receive --help）\n";
            return std::nullopt;
        }
    }
    return options;
}

struct Endpoint {
    QString host;
    quint16 port = 0;
};

// HOST:PORT, [IPv6]:PORT.
std::optional<Endpoint> parseEndpoint(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || host.isEmpty()) return std::nullopt;
    return Endpoint{host, static_cast<quint16>(port)};
}

enum class Reply { ok, ng };

// One exchange on a local event loop; the reply, or why there is none (Japanese).
Result<Reply, QString> exchange(const Endpoint& endpoint, const QByteArray& message) {
    QTcpSocket socket;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QByteArray reply;
    std::optional<QString> problem;
    bool done = false;
    const auto stop = [&](std::optional<QString> why) {
        if (done) return;
        done = true;
        problem = std::move(why);
        loop.quit();
    };
    const auto collect = [&] {
        if (socket.isOpen() && socket.bytesAvailable() > 0) reply += socket.read(2 - reply.size());
        if (reply.size() == 2) stop(std::nullopt);
    };
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        deadline.start(progressTimeout);
        socket.write(message);
    });
    QObject::connect(&socket, &QTcpSocket::bytesWritten, &loop,
                     [&] { deadline.start(progressTimeout); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, collect);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError) {
        collect();
        stop(reply.isEmpty() ? QStringLiteral("接続できないか、返事の前に切られました（%1）")
                                   .arg(socket.errorString())
                             : QStringLiteral("返事が途中で切れました"));
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, [&] {
        collect();
        stop(QStringLiteral("返事の前に接続が切られました"));
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        stop(socket.state() == QAbstractSocket::ConnectedState
                 ? QStringLiteral("相手から返事がありません")
                 : QStringLiteral("接続できません（時間切れ）"));
    });
    deadline.start(connectTimeout);
    socket.connectToHost(endpoint.host, endpoint.port);
    if (!done) loop.exec();
    socket.abort();

    if (problem) return *problem;
    if (reply == "OK") return Reply::ok;
    if (reply == "NG") return Reply::ng;
    return QStringLiteral("知らない返事です: 0x") + QString::fromLatin1(reply.toHex());
}

}  // namespace

QString geoReceiveHelp() {
    return QStringLiteral(
        "usage: pexilctl geo receive [--port P] [--no-advertise]\n"
        "\n"
        "Runs the geo receiver and store of the application without a window: listens for\n"
        "geo link messages from the phone on all interfaces, announces itself as\n"
        "\"_pexil._tcp\" through Avahi under the computer's name, answers OK or NG, and saves\n"
        "every accepted record to geo-latest.json in the application's data folder\n"
        "($XDG_DATA_HOME/Pexil, normally ~/.local/share/Pexil), as the application does.\n"
        "Runs until SIGINT or SIGTERM.\n"
        "\n"
        "Options:\n"
        "  --port P         listen on port P (default 0: any free port)\n"
        "  --no-advertise   do not announce the service on the network\n"
        "\n"
        "Output (stdout), one line per change of the receiver's state:\n"
        "  state: waiting NAME (port P)   listening as NAME on port P\n"
        "  state: receiving               a connection was accepted\n"
        "  state: received SENDER         a record from SENDER was accepted and saved\n"
        "  state: failed TEXT             a message was rejected (or the port could not be\n"
        "                                 opened); back to waiting 3 seconds later\n"
        "In NAME, SENDER and TEXT, and in the log lines, control characters are written as\n"
        "\\n, \\r, \\t or \\xHH and a backslash as \\\\, so each stays on its one line.\n"
        "The diagnostic log lines (receipts, failures, the network announcement) go to\n"
        "stderr, prefixed \"log: \".\n"
        "\n"
        "Exit: 0 after SIGINT or SIGTERM; 1 when the port cannot be opened; 2 on a wrong\n"
        "command line.\n");
}

QString geoSendHelp() {
    return QStringLiteral(
        "usage: pexilctl geo send HOST:PORT FILE [--sender NAME]\n"
        "\n"
        "Sends the position record in FILE (the JSON form the phone sends: \"generated\",\n"
        "\"shots\", \"track\") to a geo receiver as one geo link message, the way the phone\n"
        "does, and prints the receiver's reply. HOST may be a name or an address; an IPv6\n"
        "address is written in brackets: [::1]:PORT.\n"
        "\n"
        "Options:\n"
        "  --sender NAME   the sender's name in the message (default: this computer's name)\n"
        "\n"
        "Output (stdout): OK or NG, the receiver's reply.\n"
        "\n"
        "Exit: 0 on OK; 1 on NG; 2 when FILE cannot be read or is not a record, the command\n"
        "line is wrong, or the connection fails (one line on stderr).\n");
}

int runGeoReceive(const QStringList& args, CommandIO io) {
    const auto options = parseReceive(args, io);
    if (!options) return exitUnreadable;
    if (options->help) {
        io.out << geoReceiveHelp();
        return exitOK;
    }

    // Before any thread (Avahi's) starts, so that none of them takes the signals instead.
    StopSignals stopSignals;
    if (stopSignals.fd() < 0) {
        io.err << "pexilctl geo receive: 終了の合図を受け取る準備ができません\n";
        return exitFailed;
    }

    async::SystemClock clock;
    // Log lines quote the sender's name too.
    const auto log = [&io](const QString& line) {
        io.err << "log: " << lineSafe(line) << "\n";
        io.err.flush();
    };
    GeoStore::Options storeOptions;
    storeOptions.receiver.port = options->port;
    storeOptions.receiver.advertise = options->advertise;
    GeoStore store(clock, log, storeOptions);
    GeoReceiver& receiver = store.receiver();

    const auto print = [&io, &receiver](const GeoReceiver::State& state) {
        io.out << stateLine(state, receiver.port()) << "\n";
        io.out.flush();
    };
    // The store starts the receiver as it is made: its first state is already there.
    print(receiver.state());
    if (std::holds_alternative<GeoReceiver::Failed>(receiver.state())) {
        io.err << "pexilctl geo receive: "
               << lineSafe(std::get<GeoReceiver::Failed>(receiver.state()).message) << "\n";
        return exitFailed;
    }
    QObject::connect(&receiver, &GeoReceiver::stateChanged, &receiver, print);

    QEventLoop loop;
    QSocketNotifier notifier(stopSignals.fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        stopSignals.drain();
        loop.exit(exitOK);
    });
    return loop.exec();
}

int runGeoSend(const QStringList& args, CommandIO io) {
    QStringList positional;
    std::optional<QString> sender;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            io.out << geoSendHelp();
            return exitOK;
        }
        if (arg == QLatin1String("--sender")) {
            if (i + 1 >= args.size()) {
                io.err << "pexilctl geo send: --sender には名前が必要です\n";
                return exitUnreadable;
            }
            sender = args[++i];
        } else if (arg.startsWith(QLatin1String("--"))) {
            io.err << "pexilctl geo send: 知らないオプションです: " << arg << "\n";
            return exitUnreadable;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 2) {
        io.err << "pexilctl geo send: 宛先（HOST:PORT）とファイルを一つずつ指定してください"
                  "（pexilctl geo send --help）\n";
        return exitUnreadable;
    }
    const auto endpoint = parseEndpoint(positional[0]);
    if (!endpoint) {
        io.err << "pexilctl geo send: 宛先は HOST:PORT の形で指定してください: " << positional[0]
               << "\n";
        return exitUnreadable;
    }

    const QString& path = positional[1];
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        io.err << "pexilctl geo send: ファイルを読めません: " << path << "（" << file.errorString()
               << "）\n";
        return exitUnreadable;
    }
    if (file.size() > payloadFileLimit) {
        io.err << "pexilctl geo send: ファイルが大きすぎます: " << path << "\n";
        return exitUnreadable;
    }
    const QByteArray json = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        io.err << "pexilctl geo send: ファイルを読めません: " << path << "（" << file.errorString()
               << "）\n";
        return exitUnreadable;
    }
    auto payload =
        GeoJson::decodePayload(ByteView(reinterpret_cast<const std::uint8_t*>(json.constData()),
                                        static_cast<std::size_t>(json.size())));
    if (!payload) {
        io.err << "pexilctl geo send: 位置情報として読めません: " << lineSafe(path) << "（"
               << lineSafe(payload.error()) << "）\n";
        return exitUnreadable;
    }

    const GeoLink::Envelope envelope{sender.value_or(ComputerName::current()),
                                     std::move(payload).value()};
    const QByteArray message = GeoLink::frame(envelope);
    if (message.size() - GeoLink::headerSize > static_cast<qsizetype>(GeoLink::maximumBody)) {
        io.err << "pexilctl geo send: 記録が大きすぎて一通で送れません（32 MiB まで）: " << path
               << "\n";
        return exitUnreadable;
    }

    const auto reply = exchange(*endpoint, message);
    if (!reply) {
        io.err << "pexilctl geo send: " << endpoint->host << ":" << endpoint->port
               << " に送れません: " << reply.error() << "\n";
        return exitUnreadable;
    }
    io.out << (reply.value() == Reply::ok ? "OK" : "NG") << "\n";
    return reply.value() == Reply::ok ? exitOK : exitFailed;
}

}  // namespace pexil::cli
