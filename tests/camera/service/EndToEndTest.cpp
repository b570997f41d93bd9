// The camera service against the virtual camera, in process and over PTP/IP on loopback.
#include "camera/ptpip/PtpIpServer.h"
#include "camera/ptpip/PtpIpTransport.h"
#include "camera/service/CameraFile.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTPEvent.h"
#include "support/VirtualTime.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

enum class Link { inProcess, ptpip };

std::string linkName(const ::testing::TestParamInfo<Link>& info) {
    return info.param == Link::inProcess ? "InProcess" : "PtpIp";
}

// One camera reached through the whole service: browser source, device, session.
class Connection {
public:
    Connection(async::VirtualRuntime& rt, Link link, const QString& card, int photos)
        : rt_(rt), inProcess_(link == Link::inProcess) {
        VirtualCamera::Options options;
        options.cardDir = card;
        options.photos = photos;
        if (inProcess_) testing::runOnVirtualTime(options, rt, testing::bodyClockFollowing(rt));
        auto made = VirtualCamera::create(options);
        EXPECT_TRUE(made) << (made ? std::string() : made.error().toStdString());
        camera = made.value();
        if (link == Link::inProcess) {
            auto source = std::make_unique<VirtualSource>(rt, camera);
            virtualSource = source.get();
            browser.addSource(std::move(source));
        } else {
            server = std::make_unique<PtpIpServer>(camera, "127.0.0.1", 0);
            EXPECT_TRUE(server->start());
            auto source = std::make_unique<ManualSource>(rt);
            CameraAddress address;
            address.kind = CameraAddress::Kind::ptpip;
            address.host = QStringLiteral("127.0.0.1");
            address.port = server->port();
            source->add(ptpipDevice(rt, address, {}));
            browser.addSource(std::move(source));
        }
        browser.onDeviceAdded = [this](const auto& d) { device = d; };
        browser.onDeviceRemoved = [this](const auto& d) { removals += d == device; };
        browser.start();
        EXPECT_TRUE(wait([this] { return device != nullptr; }));
        CameraDevice::Callbacks listener;
        listener.sessionOpened = [this](std::optional<TransportError> e) {
            opened.push_back(std::move(e));
        };
        listener.sessionClosed = [this](std::optional<TransportError> e) {
            closed.push_back(std::move(e));
        };
        listener.itemsAdded = [this](const CameraItems& items) {
            files.insert(files.end(), items.files.begin(), items.files.end());
            folders.insert(folders.end(), items.folders.begin(), items.folders.end());
        };
        listener.catalogComplete = [this] { ++completes; };
        listener.ptpEvent = [this](const PTPEvent& e) { events.push_back(e); };
        device->setListener(CameraDevice::listenerFrom(listener));
        device->requestOpenSession();
        EXPECT_TRUE(wait([this] { return completes == 1; }));
    }
    // In process on virtual time; over PTP/IP a bounded real-time wait for the sockets.
    bool wait(const std::function<bool()>& done) {
        if (inProcess_) return rt_.runUntil(done, async::Seconds{600});
        return rt_.waitUntil(done, std::chrono::seconds(60));
    }
    // Lets late answers arrive without moving time.
    void drain() {
        if (!inProcess_) rt_.waitUntil([] { return false; }, std::chrono::milliseconds(100));
        rt_.runFor(async::Seconds{0});
    }
    ~Connection() {
        device.reset();
        if (server) server->stop();
    }

    std::shared_ptr<CameraFile> file(const QString& name) const {
        for (const auto& f : files)
            if (f->name() == name) return f;
        return nullptr;
    }

    std::pair<std::optional<QString>, std::optional<TransportError>> download(
        const std::shared_ptr<CameraFile>& f, const QString& dest) {
        const auto result = rt_.run(f->download({dest, false, {}}), async::Seconds{60});
        EXPECT_TRUE(result.has_value());
        if (!result) return {std::nullopt, TransportError{QStringLiteral("no answer")}};
        if (!*result) return {std::nullopt, TransportError{result->error().reason}};
        return {result->value().name, result->value().notDeleted};
    }

    std::shared_ptr<VirtualCamera> camera;
    std::unique_ptr<PtpIpServer> server;
    VirtualSource* virtualSource = nullptr;
    DeviceBrowser browser;
    std::shared_ptr<CameraDevice> device;
    std::vector<std::optional<TransportError>> opened, closed;
    std::vector<std::shared_ptr<CameraFile>> files;
    std::vector<CameraFolder> folders;
    std::vector<PTPEvent> events;
    int completes = 0;
    int removals = 0;

private:
    async::VirtualRuntime& rt_;
    bool inProcess_;
};

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class EndToEnd : public ::testing::TestWithParam<Link> {
protected:
    static void SetUpTestSuite() {
        bigCard = new QTemporaryDir();
        // Made once: generating 2,000 pictures is the slow part.
        VirtualCamera::Options options;
        options.cardDir = bigCard->filePath(QStringLiteral("card"));
        options.photos = 2000;
        ASSERT_TRUE(VirtualCamera::create(options));
    }
    static void TearDownTestSuite() {
        delete bigCard;
        bigCard = nullptr;
    }
    QString smallCard() { return dir.filePath(QStringLiteral("card")); }
    QString dest() {
        QDir().mkpath(dir.filePath(QStringLiteral("dest")));
        return dir.filePath(QStringLiteral("dest"));
    }

    static QTemporaryDir* bigCard;
    async::VirtualRuntime rt;
    QTemporaryDir dir;
};
QTemporaryDir* EndToEnd::bigCard = nullptr;

TEST_P(EndToEnd, CataloguesTwoThousandFilesInTwoFoldersCompleteAndCorrect) {
    const QString card = bigCard->filePath(QStringLiteral("card"));
    Connection c(rt, GetParam(), card, 0);
    ASSERT_EQ(c.opened.size(), 1U);
    EXPECT_FALSE(c.opened[0]);
    std::map<QString, qint64> onCard;
    for (QDirIterator it(card, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        onCard[QDir(card).relativeFilePath(it.filePath())] = it.fileInfo().size();
    }
    ASSERT_EQ(onCard.size(), 2000U);
    std::map<QString, qint64> reported;
    for (const auto& f : c.files)
        reported[f->folderPath() + u'/' + f->name()] = static_cast<qint64>(f->fileSize());
    EXPECT_EQ(reported, onCard);
    QStringList folderPaths;
    for (const auto& folder : c.folders) folderPaths << folder.path;
    folderPaths.sort();
    ASSERT_EQ(folderPaths.size(), 3);
    EXPECT_EQ(folderPaths[0], QStringLiteral("DCIM"));
    EXPECT_TRUE(folderPaths[1].startsWith(QStringLiteral("DCIM/100")));
    EXPECT_TRUE(folderPaths[2].startsWith(QStringLiteral("DCIM/101")));
}

TEST_P(EndToEnd, DownloadsAreByteIdenticalAndNeverOverwrite) {
    Connection c(rt, GetParam(), smallCard(), 4);
    ASSERT_FALSE(c.files.empty());
    const auto f = c.files.front();
    const auto first = c.download(f, dest());
    ASSERT_TRUE(first.first) << (first.second ? first.second->message.toStdString() : "");
    EXPECT_EQ(*first.first, f->name());
    const QString original = smallCard() + u'/' + f->folderPath() + u'/' + f->name();
    EXPECT_EQ(contentOf(QDir(dest()).filePath(f->name())), contentOf(original));
    const auto second = c.download(f, dest());
    ASSERT_TRUE(second.first);
    EXPECT_NE(*second.first, f->name());
    EXPECT_EQ(contentOf(QDir(dest()).filePath(*second.first)), contentOf(original));
}

TEST_P(EndToEnd, PartialReadsAndThumbnailsComeFromTheCard) {
    Connection c(rt, GetParam(), smallCard(), 2);
    const auto f = c.files.front();
    const QByteArray original = contentOf(smallCard() + u'/' + f->folderPath() + u'/' + f->name());
    std::vector<std::optional<Bytes>> reads;
    for (const auto& [offset, length] : std::vector<std::pair<std::uint64_t, std::uint32_t>>{
             {0, 2048}, {static_cast<std::uint64_t>(original.size()) - 10, 4096}}) {
        const auto read = rt.run(f->readData(offset, length));
        reads.push_back(read && *read ? std::optional<Bytes>(read->value()) : std::nullopt);
    }
    ASSERT_EQ(reads.size(), 2U);
    ASSERT_TRUE(reads[0] && reads[1]);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(reads[0]->data()), 2048),
              original.left(2048));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(reads[1]->data()),
                         static_cast<qsizetype>(reads[1]->size())),
              original.right(10))
        << "a read past the end gives what is there";

    const auto answer = rt.run(f->thumbnail(64));
    ASSERT_TRUE(answer && *answer);
    const Bytes* thumb = &answer->value();
    ASSERT_GE(thumb->size(), 2U);
    EXPECT_EQ((*thumb)[0], 0xFF);
    EXPECT_EQ((*thumb)[1], 0xD8);
}

TEST_P(EndToEnd, ACutTransferLeavesNoFileAndReportsOneError) {
    Connection c(rt, GetParam(), smallCard(), 4);
    const auto f = c.files.front();
    c.camera->cutTransferAfter(f->fileSize() / 2);
    const auto result = c.download(f, dest());
    EXPECT_FALSE(result.first);
    EXPECT_TRUE(result.second);
    EXPECT_TRUE(QDir(dest()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(QFile::exists(smallCard() + u'/' + f->folderPath() + u'/' + f->name()));
}

TEST_P(EndToEnd, ACaptureIsReportedAsANewFileWithItsEvents) {
    Connection c(rt, GetParam(), smallCard(), 2);
    const std::size_t before = c.files.size();
    c.camera->pressShutter();
    ASSERT_TRUE(c.wait([&] { return c.files.size() == before + 1; }));
    const auto shot = c.files.back();
    EXPECT_TRUE(QFile::exists(smallCard() + u'/' + shot->folderPath() + u'/' + shot->name()));
    ASSERT_TRUE(c.wait([&] {
        return std::any_of(c.events.begin(), c.events.end(),
                           [](const PTPEvent& e) { return e.code == 0x400D; });
    }));
    EXPECT_TRUE(std::any_of(c.events.begin(), c.events.end(), [&](const PTPEvent& e) {
        return e.code == 0x4002 && e.param == shot->handle();
    }));
}

TEST_P(EndToEnd, UnpluggingEndsTheSessionAndIsReportedOnce) {
    Connection c(rt, GetParam(), smallCard(), 1);
    if (c.virtualSource) {
        c.virtualSource->unplug();
        c.virtualSource->unplug();
    } else {
        c.camera->unplug();
    }
    ASSERT_TRUE(c.wait([&] { return !c.closed.empty(); }));
    c.drain();
    EXPECT_EQ(c.closed.size(), 1U);
    EXPECT_TRUE(c.closed[0].has_value());
    EXPECT_EQ(c.removals, GetParam() == Link::inProcess ? 1 : 0);
    EXPECT_FALSE(c.device->hasOpenSession());
}

INSTANTIATE_TEST_SUITE_P(Links, EndToEnd, ::testing::Values(Link::inProcess, Link::ptpip),
                         linkName);

}  // namespace
}  // namespace pexil::camera
