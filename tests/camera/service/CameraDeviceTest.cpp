#include "camera/service/CameraDevice.h"
#include "camera/service/CameraFile.h"
#include "camera/service/DeviceBrowser.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTPReader.h"
#include "support/Datasets.h"
#include "support/FakeTransport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace pexil::camera {
namespace {

using testing::FakeTransport;

// A small card the fake camera serves: DCIM (1) / 100NCD850 (2) / pictures from handle 10 on.
struct Card {
    std::mutex mutex;
    std::map<std::uint32_t, ObjectInfo> objects;
    std::map<std::uint32_t, Bytes> contents;
    std::optional<std::uint64_t> cutAfter;  // a pulled cable during GetObject
    std::vector<std::uint32_t> deleted;
    std::optional<Bytes> deviceInfo;  // none: answered without data, which does not parse
    // What CheckEvent answers, in turn: the response code and its data.
    std::deque<std::pair<std::uint16_t, Bytes>> checkEvents;

    Card() {
        ObjectInfo dcim;
        dcim.format = ObjectInfo::associationFormat;
        dcim.filename = QStringLiteral("DCIM");
        objects[1] = dcim;
        ObjectInfo folder = dcim;
        folder.filename = QStringLiteral("100NCD850");
        folder.parent = 1;
        objects[2] = folder;
    }
    void addPicture(std::uint32_t handle, const QString& name, std::size_t size) {
        std::lock_guard lock(mutex);
        ObjectInfo info;
        info.storageId = 0x00010001;
        info.format = 0x3801;
        info.parent = 2;
        info.filename = name;
        info.size = size;
        info.captureDate = QDateTime(QDate(2024, 5, 1), QTime(10, 0, static_cast<int>(handle % 60)),
                                     Qt::LocalTime);
        objects[handle] = info;
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<std::uint8_t>((i * 31 + handle) & 0xFF);
        contents[handle] = std::move(data);
    }

    Result<Response, TransportError> answer(const Operation& op, DataSink& sink) {
        std::lock_guard lock(mutex);
        auto send = [&](const Bytes& data) {
            sink.begin(data.size());
            sink.write(data);
        };
        const Response ok{0x2001, op.transactionId, {}};
        switch (op.code) {
            case 0x1004: {
                Bytes ids;
                PTP::appendLE(ids, std::uint32_t{1});
                PTP::appendLE(ids, std::uint32_t{0x00010001});
                send(ids);
                return ok;
            }
            case 0x1007: {
                Bytes handles;
                PTP::appendLE(handles, static_cast<std::uint32_t>(objects.size()));
                for (const auto& [h, info] : objects) PTP::appendLE(handles, h);
                send(handles);
                return ok;
            }
            case 0x1008:
                send(objects.at(op.params.at(0)).encode());
                return ok;
            case 0x1009: {
                const Bytes& data = contents.at(op.params.at(0));
                sink.begin(data.size());
                const std::size_t limit =
                    cutAfter ? std::min<std::size_t>(*cutAfter, data.size()) : data.size();
                for (std::size_t at = 0; at < limit; at += 4096)
                    if (!sink.write(
                            ByteView(data).subspan(at, std::min<std::size_t>(4096, limit - at))))
                        return TransportError{QStringLiteral("sink refused")};
                if (cutAfter) return TransportError{QStringLiteral("カメラとの接続が切れました")};
                return ok;
            }
            case 0x100B:
                deleted.push_back(op.params.at(0));
                return ok;
            case 0x1001:
                if (deviceInfo) send(*deviceInfo);
                return ok;
            case 0x90C7: {
                if (checkEvents.empty()) {
                    send(Bytes{0, 0});
                    return ok;
                }
                auto [code, data] = checkEvents.front();
                checkEvents.pop_front();
                if (code == 0x2001) send(data);
                return Response{code, op.transactionId, {}};
            }
            default:
                return ok;
        }
    }
};

// Holds the camera inside one operation (on the engine's I/O thread) until the test lets
// go or the transport is interrupted: a hung camera, or an answer that arrives late.
struct Hold {
    std::uint16_t code = 0;
    std::uint32_t param = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool untilInterrupted = true;    // false: only release() lets go
    std::function<void()> wakeMain;  // the test waits on the main queue, which hears nothing else
    bool taken = false;
    bool holding = false;
    bool released = false;

    void wait(const Operation& op, const FakeTransport& transport) {
        if (op.code != code || op.params.empty() || op.params[0] != param) return;
        std::unique_lock lock(mutex);
        if (taken) return;  // only the first such operation is held
        taken = holding = true;
        if (wakeMain) wakeMain();
        while (!released && !(untilInterrupted && transport.interrupted()))
            wake.wait_for(lock, std::chrono::milliseconds(1));
        holding = false;
    }
    bool isHolding() {
        std::lock_guard lock(mutex);
        return holding;
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        wake.notify_all();
    }
};

struct Fixture {
    Fixture() {
        device =
            CameraDevice::create(rt, QStringLiteral("D850"), QStringLiteral("virtual"), [this] {
                auto t = std::make_unique<FakeTransport>(
                    [this](const Operation& op, std::optional<ByteView>, DataSink& sink) {
                        if (hold) hold->wait(op, *transport);
                        return card.answer(op, sink);
                    });
                transport = t.get();
                return t;
            });
        CameraDevice::Callbacks listener;
        listener.sessionOpened = [this](std::optional<TransportError> e) { opened.push_back(e); };
        listener.sessionClosed = [this](std::optional<TransportError> e) { closed.push_back(e); };
        listener.itemsAdded = [this](const CameraItems& items) {
            ++batches;
            files.insert(files.end(), items.files.begin(), items.files.end());
            folders.insert(folders.end(), items.folders.begin(), items.folders.end());
        };
        listener.catalogComplete = [this] { ++completes; };
        listener.ptpEvent = [this](const PTPEvent& e) { events.push_back(e); };
        device->setListener(CameraDevice::listenerFrom(listener));
    }
    ~Fixture() {
        if (hold) hold->release();  // a held camera must not keep the engine from stopping
    }
    void openAndCatalog() {
        device->requestOpenSession();
        ASSERT_TRUE(rt.waitUntil([&] { return completes == 1; }));
    }
    std::shared_ptr<CameraFile> file(const QString& name) {
        for (const auto& f : files)
            if (f->name() == name) return f;
        return nullptr;
    }

    async::VirtualRuntime rt;
    Card card;
    std::shared_ptr<Hold> hold;
    FakeTransport* transport = nullptr;
    std::shared_ptr<CameraDevice> device;
    std::vector<std::optional<TransportError>> opened, closed;
    std::vector<std::shared_ptr<CameraFile>> files;
    std::vector<CameraFolder> folders;
    std::vector<PTPEvent> events;
    int batches = 0, completes = 0;
    QTemporaryDir dest;
};

TEST(CameraDevice, CataloguesTheCardInBatchesThenSaysComplete) {
    Fixture f;
    for (std::uint32_t h = 10; h < 460; ++h)
        f.card.addPicture(h, QStringLiteral("DSC_%1.JPG").arg(h, 4, 10, QChar(u'0')), 16);
    f.openAndCatalog();
    ASSERT_EQ(f.opened.size(), 1U);
    EXPECT_FALSE(f.opened[0]);
    EXPECT_TRUE(f.device->hasOpenSession());
    EXPECT_EQ(f.files.size(), 450U);
    EXPECT_GE(f.batches, 3);
    ASSERT_EQ(f.folders.size(), 2U);
    EXPECT_EQ(f.folders[1].path, QStringLiteral("DCIM/100NCD850"));
    const auto first = f.file(QStringLiteral("DSC_0010.JPG"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->parentFolder(), QStringLiteral("100NCD850"));
    EXPECT_EQ(first->folderPath(), QStringLiteral("DCIM/100NCD850"));
    EXPECT_EQ(first->fileSize(), 16U);
    EXPECT_EQ(first->creationDate(), QDateTime(QDate(2024, 5, 1), QTime(10, 0, 10), Qt::LocalTime));
}

TEST(CameraDevice, ANewObjectIsReportedOnceWithItsEvent) {
    Fixture f;
    f.openAndCatalog();
    f.card.addPicture(77, QStringLiteral("DSC_0077.NEF"), 100);
    f.transport->pushEvent(testing::eventContainer(0x4002, 77));
    f.transport->pushEvent(
        testing::eventContainer(0x4002, 77));  // a repeated report changes nothing
    f.transport->pushEvent(testing::eventContainer(0x400D, 0));
    ASSERT_TRUE(f.rt.waitUntil([&] { return f.events.size() == 3 && f.files.size() == 1; }));
    f.rt.waitUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(f.files.size(), 1U);
    EXPECT_EQ(f.files[0]->name(), QStringLiteral("DSC_0077.NEF"));
}

// CheckEvent's answer as the body gives it: a count, then each event's code and parameter.
Bytes queuedEvents(const std::vector<PTPEvent>& events) {
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint16_t>(events.size()));
    for (const PTPEvent& e : events) {
        PTP::appendLE(out, e.code);
        PTP::appendLE(out, e.param);
    }
    return out;
}

// What a Nikon queued for CheckEvent joins the session's one event stream, in the camera's
// order, and its new pictures reach the catalogue once; a refusal or failure is given back.
TEST(CameraDevice, PolledEventsJoinTheEventStreamInTheCamerasOrder) {
    Fixture f;
    f.card.deviceInfo = testing::deviceInfo();
    f.openAndCatalog();
    f.card.addPicture(77, QStringLiteral("DSC_0077.NEF"), 100);
    const std::vector<PTPEvent> queued{{0x4002, 77}, {0x4006, 0x5007}, {0x400D, 0}};
    f.card.checkEvents.emplace_back(std::uint16_t{0x2001}, queuedEvents(queued));
    f.card.checkEvents.emplace_back(std::uint16_t{0x2019}, Bytes{});
    const auto polled = f.rt.run(f.device->pollEvents());
    ASSERT_TRUE(polled && polled->ok());
    EXPECT_EQ(polled->value(), queued);
    EXPECT_EQ(f.events, queued) << "the listener heard them before the poller";
    ASSERT_TRUE(f.rt.waitUntil([&] { return f.files.size() == 1; }));
    EXPECT_EQ(f.files[0]->name(), QStringLiteral("DSC_0077.NEF"));

    const auto busy = f.rt.run(f.device->pollEvents());
    ASSERT_TRUE(busy && !busy->ok());
    EXPECT_EQ(responseCodeOf(busy->error()), 0x2019);
    EXPECT_EQ(f.events.size(), queued.size());
}

TEST(CameraDevice, NoCheckEventGoesOutBeforeTheCameraSaidItIsANikon) {
    Fixture f;  // its DeviceInfo does not parse
    f.openAndCatalog();
    const auto polled = f.rt.run(f.device->pollEvents());
    ASSERT_TRUE(polled && !polled->ok());
    EXPECT_EQ(responseCodeOf(polled->error()), 0x2005);
    for (const Operation& op : f.transport->operations()) EXPECT_NE(op.code, 0x90C7);
}

using DownloadOutcome = std::pair<std::optional<QString>, std::optional<TransportError>>;

// The download's answer as the name written and the error (the deletion's, when only it failed).
async::Task<void> downloadInto(std::shared_ptr<CameraFile> file,
                               CameraFile::DownloadOptions options,
                               std::optional<DownloadOutcome>& out, int& answers) {
    auto result = co_await file->download(std::move(options));
    ++answers;
    if (result) {
        out.emplace(result.value().name, result.value().notDeleted);
    } else {
        out.emplace(std::nullopt, TransportError{result.error().reason});
    }
}

std::optional<DownloadOutcome> download(Fixture& f, const std::shared_ptr<CameraFile>& file,
                                        bool deleteAfter = false) {
    std::optional<DownloadOutcome> result;
    int answers = 0;
    async::Scope scope(f.rt);
    scope.spawn(downloadInto(file, {f.dest.path(), deleteAfter, {}}, result, answers));
    f.rt.waitUntil([&] { return result.has_value(); });
    EXPECT_EQ(answers, 1);
    return result;
}

TEST(CameraDevice, DownloadsByteIdenticalUnderTheNextFreeNameAndDeletesOnlyAfterwards) {
    Fixture f;
    f.card.addPicture(10, QStringLiteral("DSC_0010.JPG"), 1'000'000);
    f.openAndCatalog();
    const auto file = f.file(QStringLiteral("DSC_0010.JPG"));
    ASSERT_TRUE(file);

    auto first = download(f, file);
    ASSERT_TRUE(first && first->first && !first->second);
    EXPECT_EQ(*first->first, QStringLiteral("DSC_0010.JPG"));
    QFile saved(f.dest.filePath(QStringLiteral("DSC_0010.JPG")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(bytes,
              QByteArray(reinterpret_cast<const char*>(f.card.contents[10].data()), 1000000));
    EXPECT_EQ(static_cast<std::size_t>(bytes.size()), f.card.contents[10].size());

    auto second = download(f, file, true);
    ASSERT_TRUE(second && second->first && !second->second);
    EXPECT_EQ(*second->first, QStringLiteral("DSC_0010-1.JPG"));
    EXPECT_EQ(f.card.deleted, std::vector<std::uint32_t>{10});
}

TEST(CameraDevice, ACutTransferLeavesNoFileAndOneErrorAndEndsTheSession) {
    Fixture f;
    f.card.addPicture(10, QStringLiteral("DSC_0010.NEF"), 200'000);
    f.openAndCatalog();
    f.card.cutAfter = 50'000;
    auto result = download(f, f.file(QStringLiteral("DSC_0010.NEF")), true);
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->first);
    ASSERT_TRUE(result->second);
    EXPECT_EQ(result->second->message, QStringLiteral("カメラとの接続が切れました"));
    EXPECT_TRUE(QDir(f.dest.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(f.card.deleted.empty()) << "the picture stays on the card";
    ASSERT_TRUE(f.rt.waitUntil([&] { return !f.closed.empty(); }));
    EXPECT_TRUE(f.closed[0].has_value());
    EXPECT_FALSE(f.device->hasOpenSession());
}

TEST(CameraDevice, ClosingAnswersOnceThenReportsTheSessionClosed) {
    Fixture f;
    f.openAndCatalog();
    int completions = 0;
    f.device->requestCloseSession([&](std::optional<TransportError> e) {
        EXPECT_FALSE(e);
        ++completions;
    });
    ASSERT_TRUE(f.rt.waitUntil([&] { return !f.closed.empty(); }));
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(f.closed[0]);
    EXPECT_FALSE(f.device->hasOpenSession());
    const auto after = f.rt.run(f.device->transact({PTP::Op::getDeviceInfo, {}, std::nullopt}));
    ASSERT_TRUE(after && !after->ok());
}

TEST(CameraDevice, AHungDownloadLetsItsDeviceGoAndIsAnsweredOnceWithNothingLeft) {
    Fixture f;
    f.card.addPicture(10, QStringLiteral("DSC_0010.NEF"), 100'000);
    f.openAndCatalog();
    f.hold = std::make_shared<Hold>();
    f.hold->code = 0x1009;
    f.hold->param = 10;
    f.hold->wakeMain = [&f] { f.rt.runtime().main().post([] {}); };
    const auto hold = f.hold;
    int answers = 0;
    std::optional<DownloadOutcome> result;
    async::Scope scope(f.rt);
    scope.spawn(downloadInto(f.file(QStringLiteral("DSC_0010.NEF")), {f.dest.path(), true, {}},
                             result, answers));
    ASSERT_TRUE(f.rt.waitUntil([&] { return hold->isHolding(); }));

    // Whoever held the device lets it go while the camera does not answer.
    const std::weak_ptr<CameraDevice> weak = f.device;
    f.files.clear();
    f.device.reset();
    EXPECT_TRUE(weak.expired()) << "the download must not keep its device alive";
    hold->release();
    ASSERT_TRUE(f.rt.waitUntil([&] { return result.has_value(); }));
    f.rt.waitUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(result->first);
    ASSERT_TRUE(result->second);
    EXPECT_TRUE(QDir(f.dest.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(f.card.deleted.empty()) << "the picture stays on the card";
}

TEST(CameraDevice, AFolderDescribedForAnEndedSessionDoesNotNameTheNextSessionsFolder) {
    Fixture f;
    f.openAndCatalog();
    // The first session hears of a new folder 3 and asks about it; the camera answers late.
    f.card.objects[3] = f.card.objects[2];
    f.card.objects[3].filename = QStringLiteral("101NCD850");
    f.hold = std::make_shared<Hold>();
    f.hold->code = 0x1008;
    f.hold->param = 3;
    f.hold->wakeMain = [&f] { f.rt.runtime().main().post([] {}); };
    f.hold->untilInterrupted = false;
    const auto hold = f.hold;
    f.transport->pushEvent(testing::eventContainer(0x4002, 3));
    ASSERT_TRUE(f.rt.waitUntil([&] { return hold->isHolding(); }));
    f.transport->failEvents(TransportError{QStringLiteral("切断")});
    ASSERT_TRUE(f.rt.waitUntil([&] { return !f.closed.empty(); }));

    // A card where 3 is another folder, in a new session.
    f.card.objects[3].filename = QStringLiteral("102NCD850");
    f.folders.clear();
    f.device->requestOpenSession();
    ASSERT_TRUE(f.rt.waitUntil([&] { return f.completes == 2; }));
    ASSERT_EQ(f.folders.size(), 3U);

    // The first session's answer arrives, telling of the old card.
    f.card.objects[3].filename = QStringLiteral("101NCD850");
    hold->release();
    f.rt.waitUntil([] { return false; }, std::chrono::milliseconds(50));
    f.card.objects[3].filename = QStringLiteral("102NCD850");
    f.card.addPicture(40, QStringLiteral("DSC_0040.JPG"), 16);
    {
        std::lock_guard lock(f.card.mutex);
        f.card.objects[40].parent = 3;
    }
    f.transport->pushEvent(testing::eventContainer(0x4002, 40));
    ASSERT_TRUE(f.rt.waitUntil([&] { return f.file(QStringLiteral("DSC_0040.JPG")) != nullptr; }));
    EXPECT_EQ(f.file(QStringLiteral("DSC_0040.JPG"))->folderPath(),
              QStringLiteral("DCIM/102NCD850"));
}

TEST(DeviceBrowser, ReportsDevicesPresentAtStartAndEachRemovalOnce) {
    async::VirtualRuntime rt;
    auto source = std::make_unique<ManualSource>(rt);
    ManualSource* manual = source.get();
    auto device = CameraDevice::create(rt, QStringLiteral("D850"), QStringLiteral("virtual"), [] {
        return std::make_unique<FakeTransport>([](const Operation& op, std::optional<ByteView>,
                                                  DataSink&) -> Result<Response, TransportError> {
            return Response{0x2001, op.transactionId, {}};
        });
    });
    manual->add(device);
    DeviceBrowser browser;
    int added = 0, removed = 0;
    browser.onDeviceAdded = [&](const auto& d) { added += d == device; };
    browser.onDeviceRemoved = [&](const auto& d) { removed += d == device; };
    browser.addSource(std::move(source));
    browser.start();
    EXPECT_EQ(added, 0) << "never inside start()";
    rt.runReady();
    EXPECT_EQ(added, 1);
    manual->remove(device);
    manual->remove(device);
    rt.runReady();
    EXPECT_EQ(removed, 1);
    EXPECT_TRUE(browser.devices().empty());
}

}  // namespace
}  // namespace pexil::camera
