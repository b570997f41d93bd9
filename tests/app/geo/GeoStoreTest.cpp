#include "app/geo/GeoStore.h"

#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"
#include "kit/async/VirtualClock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <memory>
#include <optional>
#include <vector>

namespace pexil {
namespace {

using namespace std::chrono_literals;

QDateTime at(int hour, int minute, int second = 0) {
    return QDateTime(QDate(2024, 5, 1), QTime(hour, minute, second), Qt::UTC);
}

GeoLink::Envelope envelope(const QString& sender, int trackPoints = 2) {
    GeoPayload payload;
    payload.generated = at(9, 0);
    payload.shots[QStringLiteral("DSC_0001.NEF")] = GeoPoint{at(8, 0), 35.681, 139.767, 40.0, 5.0};
    for (int i = 0; i < trackPoints; ++i)
        payload.track.push_back(GeoPoint{at(7, i % 60, i / 60 % 60), 35.0, 139.0 + i, {}, {}});
    return {sender, payload};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

ByteView view(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

class GeoStoreTest : public ::testing::Test {
protected:
    QString folder() const { return dir.filePath(QStringLiteral("share/Pexil")); }
    QString file() const { return folder() + QStringLiteral("/geo-latest.json"); }

    std::unique_ptr<GeoStore> open(const QString& where) {
        GeoStore::Options options;
        options.folder = where;
        options.receiver.address = QHostAddress::LocalHost;
        options.receiver.advertise = false;
        options.receiver.computerName = [] { return QStringLiteral("Studio"); };
        auto store = std::make_unique<GeoStore>(
            clock, [this](const QString& line) { log << line; }, options);
        QObject::connect(store.get(), &GeoStore::recordChanged, [this] { ++changes; });
        return store;
    }
    std::unique_ptr<GeoStore> open() { return open(folder()); }

    void expectEmpty(const GeoStore& store) {
        EXPECT_FALSE(store.payload().has_value());
        EXPECT_FALSE(store.sender().has_value());
        EXPECT_FALSE(store.receivedAt().has_value());
    }

    QTemporaryDir dir;
    async::VirtualClock clock{at(12, 0)};
    QStringList log;
    int changes = 0;
};

TEST_F(GeoStoreTest, ReceiptIsKeptOnDiskAndComesBackAfterARestart) {
    ASSERT_TRUE(dir.isValid());
    const GeoLink::Envelope received = envelope(QStringLiteral("iPhone"));
    {
        auto store = open();
        EXPECT_TRUE(QDir(folder()).exists()) << "the folder is made with its parents at start";
        expectEmpty(*store);
        EXPECT_EQ(changes, 0);

        store->adopt(received);
        EXPECT_EQ(store->payload(), received.payload);
        EXPECT_EQ(store->sender(), QStringLiteral("iPhone"));
        EXPECT_EQ(store->receivedAt(), at(12, 0));
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(log.filter(QStringLiteral("保存できない")).isEmpty());
    }
    {
        SCOPED_TRACE("the file as other programs see it");
        const QJsonObject saved = QJsonDocument::fromJson(readAll(file())).object();
        EXPECT_EQ(saved.value(QStringLiteral("sender")).toString(), QStringLiteral("iPhone"));
        EXPECT_EQ(saved.value(QStringLiteral("receivedAt")).toString(),
                  QStringLiteral("2024-05-01T12:00:00Z"));
        EXPECT_TRUE(saved.value(QStringLiteral("payload")).isObject());
        EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("geo-latest.json")})
            << "no temporary file may be left beside it";
    }
    clock.advance(3600s);
    auto restarted = open();
    EXPECT_EQ(restarted->payload(), received.payload);
    EXPECT_EQ(restarted->sender(), QStringLiteral("iPhone"));
    EXPECT_EQ(restarted->receivedAt(), at(12, 0)) << "the time of receipt, not of loading";
    EXPECT_FALSE(restarted->receiver().lastPayload().has_value())
        << "loading leaves the receiver alone";
}

TEST_F(GeoStoreTest, EachReceiptReplacesTheRecord) {
    auto store = open();
    store->adopt(envelope(QStringLiteral("iPhone"), 2));
    clock.advance(90s);
    const GeoLink::Envelope second = envelope(QStringLiteral("iPad"), 5);
    store->adopt(second);

    const auto saved = GeoStore::decodeSaved(view(readAll(file())));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, (GeoStore::Saved{QStringLiteral("iPad"), at(12, 1, 30), second.payload}));
}

TEST_F(GeoStoreTest, EnvelopeAcceptedByTheReceiverIsAdopted) {
    auto store = open();
    const GeoLink::Envelope sent = envelope(QStringLiteral("iPhone"));
    QTcpSocket phone;
    QByteArray reply;
    QObject::connect(&phone, &QTcpSocket::readyRead, [&] { reply += phone.readAll(); });
    phone.connectToHost(QHostAddress::LocalHost, store->receiver().port());
    phone.write(GeoLink::frame(sent));

    QElapsedTimer elapsed;
    elapsed.start();
    while (reply.size() < 2 && elapsed.elapsed() < 10000) {
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_EQ(reply, QByteArray("OK"));
    EXPECT_EQ(store->payload(), sent.payload);
    EXPECT_EQ(store->sender(), QStringLiteral("iPhone"));
    EXPECT_TRUE(GeoStore::decodeSaved(view(readAll(file()))).has_value());
}

TEST_F(GeoStoreTest, SavedCopyThatDoesNotDecodeIsIgnoredSilentlyAndLeftAlone) {
    const QByteArray payload = GeoJson::encodePayload(envelope(QStringLiteral("x")).payload);
    const QByteArray noTrack = R"({"generated":"2024-05-01T09:00:00Z","shots":{}})";
    const std::vector<std::pair<const char*, QByteArray>> cases{
        {"empty file", ""},
        {"not JSON", "{\"sender\":"},
        {"an array", "[" + payload + "]"},
        {"payload without track",
         R"({"sender":"a","receivedAt":"2024-05-01T12:00:00Z","payload":)" + noTrack + "}"},
        {"no receivedAt", R"({"sender":"a","payload":)" + payload + "}"},
        {"receivedAt with a fraction",
         R"({"sender":"a","receivedAt":"2024-05-01T12:00:00.5Z","payload":)" + payload + "}"},
        {"receivedAt a number",
         R"({"sender":"a","receivedAt":1714564800,"payload":)" + payload + "}"},
        {"receivedAt only inside the payload",
         R"({"sender":"a","payload":{"receivedAt":"2024-05-01T12:00:00Z",)" + payload.mid(1) + "}"},
        {"no sender", R"({"receivedAt":"2024-05-01T12:00:00Z","payload":)" + payload + "}"},
        {"no payload", R"({"sender":"a","receivedAt":"2024-05-01T12:00:00Z"})"},
    };
    ASSERT_TRUE(QDir().mkpath(folder()));
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        writeFile(file(), bytes);
        log.clear();
        auto store = open();
        expectEmpty(*store);
        EXPECT_TRUE(log.filter(QStringLiteral("保存")).isEmpty()) << "no message";
        EXPECT_EQ(readAll(file()), bytes) << "the file is left untouched";
    }
    {
        SCOPED_TRACE("a folder where the file should be");
        QFile::remove(file());
        ASSERT_TRUE(QDir().mkpath(file()));
        auto store = open();
        expectEmpty(*store);
    }
}

TEST_F(GeoStoreTest, SavedCopyAcceptsAnyZoneAndIgnoresUnknownMembers) {
    const GeoLink::Envelope e = envelope(QStringLiteral("iPhone"));
    const QByteArray json =
        R"({"extra":[{"receivedAt":1}],"receivedAt":"2024-05-01T21:00:00+09:00",)"
        R"("sender":"iPhone","payload":)" +
        GeoJson::encodePayload(e.payload) + "}";
    const auto saved = GeoStore::decodeSaved(view(json));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->receivedAt, at(12, 0));
    EXPECT_EQ(saved->sender, QStringLiteral("iPhone"));
    EXPECT_EQ(saved->payload, e.payload);
}

TEST_F(GeoStoreTest, FolderThatCannotBeMadeCostsOneLogLineAndKeepsTheRecord) {
    // A plain file where the folder should be: unwritable even for root.
    const QString blocker = dir.filePath(QStringLiteral("blocked"));
    writeFile(blocker, "not a folder");
    auto store = open(blocker + QStringLiteral("/Pexil"));
    const GeoLink::Envelope received = envelope(QStringLiteral("iPhone"));
    store->adopt(received);

    EXPECT_EQ(store->payload(), received.payload);
    EXPECT_EQ(store->sender(), QStringLiteral("iPhone"));
    EXPECT_EQ(store->receivedAt(), at(12, 0));
    const QStringList failures = log.filter(QStringLiteral("受け取った位置情報を保存できない: "));
    ASSERT_EQ(failures.size(), 1) << log.join(u'\n').toStdString();
    EXPECT_TRUE(failures[0].startsWith(QStringLiteral("受け取った位置情報を保存できない: ")));
    EXPECT_TRUE(failures[0].contains(store->path()));
}

// Makes every file write beyond `bytes` fail (EFBIG) while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    sighandler_t previousHandler_ = nullptr;
};

TEST_F(GeoStoreTest, WriteFailingHalfWayLeavesThePreviousCopyWhole) {
    auto store = open();
    store->adopt(envelope(QStringLiteral("old")));
    const QByteArray before = readAll(file());
    ASSERT_FALSE(before.isEmpty());

    const GeoLink::Envelope large = envelope(QStringLiteral("new"), 2000);
    {
        const FileSizeLimit limit(static_cast<rlim_t>(before.size()) + 100);
        store->adopt(large);
    }
    EXPECT_EQ(readAll(file()), before) << "the old record, whole";
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("geo-latest.json")})
        << "the partial temporary file is gone";
    EXPECT_EQ(log.filter(QStringLiteral("受け取った位置情報を保存できない: ")).size(), 1);
    EXPECT_EQ(store->sender(), QStringLiteral("new")) << "the record received is still in use";
    EXPECT_EQ(store->payload(), large.payload);
}

}  // namespace
}  // namespace pexil
