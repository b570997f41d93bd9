// The card catalogue on the virtual camera: one GetObjectPropList, or one GetObjectInfo per
// object newest first; both must give the same items.
#include "camera/service/CameraDevice.h"
#include "camera/service/CameraFile.h"
#include "camera/session/ObjectPropList.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"
#include "support/VirtualTime.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

constexpr std::uint16_t kGetDeviceInfo = 0x1001;
constexpr std::uint16_t kGetObjectInfo = 0x1008;
constexpr std::uint16_t kGetObjectPropList = 0x9805;

// What the browser sees of one file.
struct Seen {
    std::uint32_t handle;
    QString path;
    std::uint64_t size;
    std::optional<QDateTime> created;
    friend bool operator==(const Seen&, const Seen&) = default;
};

void PrintTo(const Seen& s, std::ostream* out) {
    *out << s.handle << ' ' << s.path.toStdString() << ' ' << s.size << ' '
         << (s.created ? s.created->toString(Qt::ISODate).toStdString() : "-");
}

struct Catalogue {
    std::vector<Seen> files;  // in the order reported
    std::vector<QString> folders;
    std::vector<std::size_t> batches;
    QStringList log;
};

class CatalogueTest : public ::testing::Test {
protected:
    std::shared_ptr<VirtualCamera> camera(bool propList, int photos = 45) {
        VirtualCamera::Options options;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.photos = photos;
        options.objectPropList = propList;
        if (!clock_) clock_ = testing::bodyClockFollowing(rt);
        testing::runOnVirtualTime(options, rt, clock_);
        auto made = VirtualCamera::create(options);
        EXPECT_TRUE(made) << made.error().toStdString();
        return made ? made.value() : nullptr;
    }
    std::shared_ptr<CameraDevice> device(const std::shared_ptr<VirtualCamera>& cam,
                                         Catalogue& seen) {
        auto d = CameraDevice::create(rt, QStringLiteral("D850"), QStringLiteral("virtual"),
                                      [cam] { return std::make_unique<VirtualTransport>(cam); });
        d->setLog([&seen](const QString& line) { seen.log << line; });
        return d;
    }
    // Opens a session, waits for the whole catalogue, closes again.
    void read(CameraDevice& d, Catalogue& seen) {
        bool complete = false;
        CameraDevice::Callbacks listener;
        listener.itemsAdded = [&](const CameraItems& items) {
            seen.batches.push_back(items.files.size() + items.folders.size());
            for (const auto& f : items.files)
                seen.files.push_back({f->handle(), f->folderPath() + u'/' + f->name(),
                                      f->fileSize(), f->creationDate()});
            for (const auto& folder : items.folders) seen.folders.push_back(folder.path);
        };
        listener.catalogComplete = [&] { complete = true; };
        d.setListener(CameraDevice::listenerFrom(listener));
        d.requestOpenSession();
        ASSERT_TRUE(rt.runUntil([&] { return complete; }, async::Seconds{600}));
        bool closed = false;
        d.requestCloseSession([&](std::optional<TransportError>) { closed = true; });
        ASSERT_TRUE(rt.runUntil([&] { return closed; }, async::Seconds{600}));
    }
    std::shared_ptr<ManualBodyClock> clock_;
    static std::vector<Seen> byHandle(std::vector<Seen> files) {
        std::sort(files.begin(), files.end(),
                  [](const Seen& a, const Seen& b) { return a.handle < b.handle; });
        return files;
    }

    QTemporaryDir dir;
    async::VirtualRuntime rt;
};

TEST_F(CatalogueTest, PropertyListAndObjectByObjectGiveTheSameItems) {
    Catalogue fast, slow;
    {
        auto cam = camera(true);
        auto d = device(cam, fast);
        read(*d, fast);
        // DeviceInfo first, which tells that the list exists; then the list alone.
        EXPECT_EQ(cam->callCount(kGetDeviceInfo), 1);
        EXPECT_EQ(cam->callCount(kGetObjectPropList), 1);
        EXPECT_EQ(cam->callCount(kGetObjectInfo), 0);
        cam->unplug();
    }
    {
        auto cam = camera(false);  // the same card folder, read by a body without the operation
        auto d = device(cam, slow);
        read(*d, slow);
        // Its DeviceInfo does not name the list, so the list is never asked for.
        EXPECT_EQ(cam->callCount(kGetObjectPropList), 0);
        slow.files.clear();
        slow.folders.clear();
        read(*d, slow);
        EXPECT_EQ(cam->callCount(kGetObjectPropList), 0);
        // One per object and session: 45 files and their two folders.
        EXPECT_EQ(cam->callCount(kGetObjectInfo), 2 * 47);
        cam->unplug();
    }
    ASSERT_EQ(fast.files.size(), 45u);
    EXPECT_EQ(byHandle(fast.files), byHandle(slow.files));
    EXPECT_EQ(fast.folders, slow.folders);
    EXPECT_EQ(fast.folders,
              (std::vector<QString>{QStringLiteral("DCIM"), QStringLiteral("DCIM/100NCD850")}));
    EXPECT_TRUE(fast.log.isEmpty());
    EXPECT_TRUE(slow.log.isEmpty());
}

TEST_F(CatalogueTest, NewestObjectsAreReportedFirstInASmallFirstBatch) {
    for (const bool propList : {true, false}) {
        Catalogue seen;
        auto cam = camera(propList);
        auto d = device(cam, seen);
        read(*d, seen);
        ASSERT_EQ(seen.files.size(), 45u);
        for (std::size_t i = 1; i < seen.files.size(); ++i)
            EXPECT_GT(seen.files[i - 1].handle, seen.files[i].handle) << "propList " << propList;
        EXPECT_TRUE(seen.files.front().path.endsWith(QStringLiteral("DSC_0045.JPG")));
        ASSERT_GE(seen.batches.size(), 2u);
        EXPECT_EQ(seen.batches.front(), 20u) << "propList " << propList;
        cam->unplug();
    }
}

TEST_F(CatalogueTest, ACameraThatFailsTheListIsReadObjectByObjectAndNotAskedAgain) {
    struct Case {
        const char* what;
        std::uint16_t response;
        int logLines;
    };
    // The body announces the list in its DeviceInfo, so even "not supported" is news.
    const std::vector<Case> cases = {
        {"not supported", 0x2005, 1},
        {"general error", 0x2002, 1},
        {"busy", 0x2019, 1},
    };
    for (const Case& c : cases) {
        Catalogue seen;
        auto cam = camera(true, 5);
        cam->refuse(kGetObjectPropList, c.response);
        auto d = device(cam, seen);
        read(*d, seen);
        EXPECT_EQ(seen.files.size(), 5u) << c.what;
        EXPECT_EQ(cam->callCount(kGetObjectPropList), 1) << c.what;
        ASSERT_EQ(seen.log.size(), c.logLines) << c.what;
        if (c.logLines > 0) {
            EXPECT_TRUE(
                seen.log[0].startsWith(QString::fromUtf8("カードの一覧を一度に読めないため")))
                << c.what;
        }

        // The next session of the same device does not try again, nor log again.
        seen.files.clear();
        read(*d, seen);
        EXPECT_EQ(seen.files.size(), 5u) << c.what;
        EXPECT_EQ(cam->callCount(kGetObjectPropList), 1) << c.what;
        EXPECT_EQ(seen.log.size(), c.logLines) << c.what;
        cam->unplug();
    }
}

// The virtual camera with a card that claims more objects than any card holds: its handle
// list names `extra` objects beyond its own, which it then cannot describe.
class OverfullCard final : public Transport {
public:
    OverfullCard(std::shared_ptr<VirtualCamera> camera, std::uint32_t extra)
        : inner_(std::move(camera)), extra_(extra) {}
    Result<Done, TransportError> connect() override { return inner_.connect(); }
    Result<Response, TransportError> transact(const Operation& op, std::optional<ByteView> out,
                                              DataSink& sink) override {
        if (op.code != PTP::code(PTP::Op::getObjectHandles)) return inner_.transact(op, out, sink);
        BufferSink own;
        auto answer = inner_.transact(op, out, own);
        if (!answer) return answer;
        PTPReader reader(own.data());
        const std::uint32_t count = reader.read<std::uint32_t>().value_or(0);
        Bytes list;
        PTP::appendLE(list, count + extra_);
        for (std::uint32_t i = 0; i < count; ++i)
            PTP::appendLE(list, *reader.read<std::uint32_t>());
        for (std::uint32_t i = 0; i < extra_; ++i) PTP::appendLE(list, 0x01000000u + i);
        if (!sink.begin(list.size()) || !sink.write(list))
            return TransportError{QStringLiteral("refused")};
        return answer;
    }
    Result<std::optional<Bytes>, TransportError> waitEvent(std::chrono::milliseconds t) override {
        return inner_.waitEvent(t);
    }
    void interrupt() override { inner_.interrupt(); }
    std::optional<std::chrono::milliseconds> ioTimeout() const override {
        return inner_.ioTimeout();
    }

private:
    VirtualTransport inner_;
    std::uint32_t extra_;
};

TEST_F(CatalogueTest, ACardClaimingMoreObjectsThanAnyCardHoldsIsCutToTheNewest) {
    Catalogue seen;
    auto cam = camera(false, 2);
    const std::uint32_t extra = ObjectPropList::maxObjects + 3;
    auto d =
        CameraDevice::create(rt, QStringLiteral("D850"), QStringLiteral("virtual"),
                             [cam, extra] { return std::make_unique<OverfullCard>(cam, extra); });
    d->setLog([&seen](const QString& line) { seen.log << line; });
    read(*d, seen);
    // The card's own objects are the oldest handles: only the claimed newest were asked for.
    EXPECT_LE(cam->callCount(kGetObjectInfo), static_cast<int>(ObjectPropList::maxObjects) + 4);
    // The card's own objects: two pictures and their folders.
    EXPECT_TRUE(seen.log.contains(
        QString::fromUtf8(
            "カードのオブジェクトが多すぎます（%1 件）。新しい %2 件だけを一覧にします")
            .arg(extra + 4)
            .arg(ObjectPropList::maxObjects)))
        << seen.log.join(u'\n').toStdString();
    cam->unplug();
}

// --- the dataset itself ---

ObjectInfo picture(const char* name, std::uint64_t size) {
    ObjectInfo info;
    info.storageId = 0x00020001;
    info.format = 0x3801;
    info.size = size;
    info.parent = 2;
    info.filename = QString::fromUtf8(name);
    info.captureDate = QDateTime(QDate(2024, 5, 1), QTime(10, 11, 12), Qt::LocalTime);
    info.modificationDate = info.captureDate;
    return info;
}

Bytes element(std::uint32_t handle, std::uint16_t property, std::uint16_t type,
              const Bytes& value) {
    Bytes out;
    PTP::appendLE(out, handle);
    PTP::appendLE(out, property);
    PTP::appendLE(out, type);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes list(const std::vector<Bytes>& elements) {
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint32_t>(elements.size()));
    for (const Bytes& e : elements) out.insert(out.end(), e.begin(), e.end());
    return out;
}

TEST(ObjectPropListData, RoundTripsWhatGetObjectInfoWouldSay) {
    ObjectInfo folder;
    folder.format = ObjectInfo::associationFormat;
    folder.associationType = ObjectInfo::genericFolder;
    folder.filename = QStringLiteral("100NCD850");
    const ObjectPropList::Objects objects{{2, folder},
                                          {7, picture("DSC_0007.NEF", 5'000'000'000ULL)},
                                          {8, picture("日本語.JPG", 12)}};
    const auto encoded = ObjectPropList::encode(objects);
    ASSERT_TRUE(encoded);
    const auto parsed = ObjectPropList::parse(*encoded);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, objects);  // the 64-bit size too, which ObjectInfo's dataset cannot carry

    const auto names = ObjectPropList::encode(objects, PTP::code(PTP::ObjectProp::objectFileName));
    ASSERT_TRUE(names);
    const auto parsedNames = ObjectPropList::parse(*names);
    ASSERT_TRUE(parsedNames);
    ASSERT_EQ(parsedNames->size(), 3u);
    EXPECT_EQ((*parsedNames)[1].second.filename, QStringLiteral("DSC_0007.NEF"));
    EXPECT_EQ((*parsedNames)[1].second.size, 0u);
    EXPECT_FALSE(ObjectPropList::encode(objects, 0xDC44));
}

// A list naming millions of tiny objects would have us hold millions of ObjectInfos: a list
// naming more objects than any card holds is refused whole, however many properties each has.
TEST(ObjectPropListData, AListOfMoreObjectsThanACardHoldsIsRefused) {
    ObjectPropList::Objects objects;
    for (std::uint32_t handle = 1; handle <= 5; ++handle)
        objects.emplace_back(handle, picture("X.JPG", handle));
    const auto encoded = ObjectPropList::encode(objects);
    ASSERT_TRUE(encoded);
    EXPECT_TRUE(ObjectPropList::parse(*encoded, 5));
    EXPECT_FALSE(ObjectPropList::parse(*encoded, 4));
    EXPECT_GE(ObjectPropList::maxObjects, 100'000u);
}

TEST(ObjectPropListData, UnusedPropertiesAreSkippedAndDamageIsRefused) {
    Bytes u32(4, 0);
    u32[0] = 9;
    const Bytes name = PTP::encodeString(QStringLiteral("A.JPG"));
    Bytes array;  // UINT16 array of two
    PTP::appendLE(array, std::uint32_t{2});
    PTP::appendLE(array, std::uint16_t{1});
    PTP::appendLE(array, std::uint16_t{2});
    Bytes u128(16, 0xAB);
    struct Case {
        const char* what;
        Bytes data;
        std::optional<QString> name;  // of object 5; none: refused
        std::uint32_t parent = 0;
    };
    const std::vector<Case> cases = {
        {"plain", list({element(5, 0xDC07, 0xFFFF, name), element(5, 0xDC0B, 0x0006, u32)}),
         QStringLiteral("A.JPG"), 9},
        {"an array and a 128-bit value of other properties",
         list({element(5, 0xDC99, 0x4004, array), element(5, 0xDC98, 0x000A, u128),
               element(5, 0xDC07, 0xFFFF, name)}),
         QStringLiteral("A.JPG"), 0},
        {"a known property in an unexpected datatype is passed over",
         list({element(5, 0xDC0B, 0xFFFF, name), element(5, 0xDC07, 0xFFFF, name)}),
         QStringLiteral("A.JPG"), 0},
        {"a datatype of unknown length",
         list({element(5, 0xDC99, 0x0042, u32), element(5, 0xDC07, 0xFFFF, name)}), std::nullopt},
        {"cut inside a value",
         [&] {
             Bytes d = list({element(5, 0xDC07, 0xFFFF, name)});
             d.resize(d.size() - 3);
             return d;
         }(),
         std::nullopt},
        {"more elements announced than sent",
         [&] {
             Bytes d = list({element(5, 0xDC07, 0xFFFF, name)});
             d[0] = 2;
             return d;
         }(),
         std::nullopt},
        {"no count", Bytes{1, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = ObjectPropList::parse(c.data);
        ASSERT_EQ(parsed.has_value(), c.name.has_value()) << c.what;
        if (!parsed) continue;
        ASSERT_EQ(parsed->size(), 1u) << c.what;
        EXPECT_EQ(parsed->front().first, 5u) << c.what;
        EXPECT_EQ(parsed->front().second.filename, *c.name) << c.what;
        EXPECT_EQ(parsed->front().second.parent, c.parent) << c.what;
    }
}

}  // namespace
}  // namespace pexil::camera
