// The client view under its watchers: from a shot saved in the destination to each of 20
// clients on loopback having heard of it and fetched its 1600-pixel preview, which is when a
// browser can show it (goal: the worst under 500 ms). The session runs on the in-process
// virtual camera (a Z 6 making pictures at its sensor's size), the shutter pressed on the body;
// the clients are WebSockets and HTTP requests in the same process, as a browser would make
// them. Median and worst over every shot and client.
#include "SessionRig.h"

#include "app/clientview/ClientView.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <memory>

namespace pexil::bench {
namespace {

constexpr int clients = 20;
constexpr int shots = 8;
constexpr double goalMs = 500;

// One watching browser: hears of a shot on its socket, then asks for the preview.
class Watcher {
public:
    Watcher(const QUrl& view, std::function<void(const QString& id)> shown)
        : view_(view), shown_(std::move(shown)) {
        QObject::connect(&live_, &QWebSocket::textMessageReceived, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QStringLiteral("type")).toString() == QStringLiteral("shot"))
                fetch(message.value(QStringLiteral("shot"))
                          .toObject()
                          .value(QStringLiteral("id"))
                          .toString());
        });
        QUrl live = view;
        live.setScheme(QStringLiteral("ws"));
        live.setPath(QStringLiteral("/live"));
        live_.open(live);
    }
    bool connected() const { return live_.state() == QAbstractSocket::ConnectedState; }

private:
    void fetch(const QString& id) {
        auto* socket = new QTcpSocket(&fetches_);  // owned by fetches_ until it is done
        auto received = std::make_shared<QByteArray>();
        const QByteArray request = "GET /api/preview/" + id.toLatin1() + "?" +
                                   view_.query().toLatin1() + " HTTP/1.1\r\nHost: h\r\n\r\n";
        QObject::connect(socket, &QTcpSocket::connected,
                         [socket, request] { socket->write(request); });
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [socket, received] { *received += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [this, socket, received, id] {
            if (received->startsWith("HTTP/1.1 200")) shown_(id);
            socket->deleteLater();
        });
        socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(view_.port()));
    }

    QUrl view_;
    std::function<void(const QString&)> shown_;
    QWebSocket live_;
    QObject fetches_;
};

void ClientViewToBrowsers(benchmark::State& state) {
    for (auto _ : state) {
        SessionRig rig;
        if (const auto problem = rig.connectFullSizeZ6()) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        SessionModel& model = *rig.model;
        ClientView view(rig.runtime, model.shots());
        // Twenty tablets have twenty addresses; here they share the loopback one, so its
        // request rate is twenty tablets' worth.
        ClientViewServer::Limits limits;
        limits.requestsPerSecond *= clients;
        limits.burst *= clients;
        view.setLimits(limits);
        const auto url = view.start(QHostAddress::LocalHost, 0);
        if (!url) {
            state.SkipWithError(url.error().toStdString().c_str());
            return;
        }
        std::optional<SteadyClock::time_point> saved;
        QObject::connect(&model, &SessionModel::shotSaved,
                         [&saved](const QString&) { saved = SteadyClock::now(); });
        std::vector<double> times;
        int shown = 0;
        std::vector<std::unique_ptr<Watcher>> watchers;
        for (int i = 0; i < clients; ++i)
            watchers.push_back(std::make_unique<Watcher>(url.value(), [&](const QString&) {
                ++shown;
                if (saved) times.push_back(millisecondsSince(*saved));
            }));
        if (!spinUntil([&] { return view.watchers().size() == clients; },
                       std::chrono::seconds(20))) {
            state.SkipWithError("the clients did not all connect");
            return;
        }
        for (int i = 0; i < shots; ++i) {
            saved.reset();
            shown = 0;
            rig.body->pressShutter();
            if (!spinUntil([&] { return shown == clients; }, std::chrono::seconds(30))) {
                state.SkipWithError("a shot never reached every client");
                return;
            }
            spinUntil([] { return false; }, std::chrono::milliseconds(300));  // quiet between shots
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        const double worst = times.back();
        state.SetIterationTime(median / 1000);
        state.counters["median_ms"] = median;
        state.counters["worst_ms"] = worst;
        state.counters["goal_ms"] = goalMs;
        state.counters["ratio"] = worst / goalMs;
        state.SetLabel(
            QStringLiteral("%1 shots × %2 clients, %3")
                .arg(shots)
                .arg(clients)
                .arg(worst < goalMs ? QStringLiteral("goal met") : QStringLiteral("goal missed"))
                .toStdString());
    }
}

BENCHMARK(ClientViewToBrowsers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace pexil::bench
