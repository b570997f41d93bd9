// Fresh shots from the virtual camera landing in the destination folder.
#include "LinkHarness.h"

#include "camera/session/ObjectInfo.h"
#include "support/HostileResponder.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <functional>

namespace pexil::testing {
namespace {

// Every case runs with the camera in process and again over PTP/IP on loopback.
class CameraLinkDownload : public ::testing::TestWithParam<LinkHarness::Via> {};

// Presses the shutter and waits until the link has seen the new file on the card.
void shoot(LinkHarness& h) {
    const auto before = h.link->cardFiles().size();
    h.syncWall();
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return h.link->cardFiles().size() > before; }));
}

TEST_P(CameraLinkDownload, AFreshShotLandsUnderItsCameraNameAndOldPicturesStayOnTheCard) {
    LinkHarness h{GetParam()};
    h.makeCamera(4);
    h.plug();
    h.openAndWaitReady(4);
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.saved.empty(); }));
    h.drain();
    ASSERT_EQ(h.saved.size(), 1u) << "the four old pictures are only catalogued";
    const QString name = QFileInfo(h.saved[0]).fileName();
    EXPECT_EQ(LinkHarness::filesUnder(h.link->destination), QStringList{name});
    EXPECT_TRUE(LinkHarness::filesUnder(h.cardDir()).contains(name))
        << "kept on the card by default";
    const auto permissions = QFileInfo(h.saved[0]).permissions();
    EXPECT_TRUE(permissions.testFlag(QFileDevice::ReadOther));
    EXPECT_FALSE(permissions.testFlag(QFileDevice::WriteOther));
    EXPECT_EQ(h.linesStarting("撮影ファイル: ").size(), 1);
    EXPECT_EQ(h.linesStarting("保存: ").size(), 1);
    EXPECT_TRUE(h.linesStarting("保存: ")[0].startsWith(QString::fromUtf8("保存: ") + name + u' '));
}

TEST_P(CameraLinkDownload, TakenNamesGetMinusOneThenMinusTwo) {
    LinkHarness h{GetParam()};
    h.makeCamera(1);
    h.plug();
    h.openAndWaitReady(1);
    const auto file = h.link->cardFiles().begin()->second;
    const QString folder = h.dir.filePath(QStringLiteral("import/a/b"));  // missing with its parent
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        std::optional<CameraLink::DownloadResult> result;
        async::Scope scope(h.rt);
        scope.spawn([](CameraLink& link, CameraLink::CameraFilePtr f, QString to,
                       std::optional<CameraLink::DownloadResult>& out) -> async::Task<void> {
            out.emplace(co_await link.download(f, to, false));
        }(*h.link, file, folder, result));
        ASSERT_TRUE(h.waitUntil([&] { return result.has_value(); }));
        ASSERT_TRUE(result->ok()) << result->error().message().toStdString();
        names << QFileInfo(result->value()).fileName();
    }
    const QFileInfo original(file->name());
    const QString ext = original.suffix().isEmpty() ? QString() : u'.' + original.suffix();
    EXPECT_EQ(names,
              (QStringList{file->name(), original.completeBaseName() + QStringLiteral("-1") + ext,
                           original.completeBaseName() + QStringLiteral("-2") + ext}));
    EXPECT_EQ(h.link->downloading(), 0);
    EXPECT_TRUE(h.saved.empty()) << "a card import is not a fresh shot";
}

TEST_P(CameraLinkDownload, AFileOnDiskWhoseCardCopyCouldNotBeDeletedCountsAsSaved) {
    LinkHarness h{GetParam()};
    h.makeCamera(1);
    h.plug();
    h.openAndWaitReady(1);
    // The camera gives the picture but refuses to delete it.
    h.camera->refuse(PTP::code(PTP::Op::deleteObject), PTP::code(PTP::Response::deviceBusy));
    const auto file = h.link->cardFiles().begin()->second;
    const QString folder = h.dir.filePath(QStringLiteral("import"));
    std::optional<CameraLink::DownloadResult> result;
    async::Scope scope(h.rt);
    scope.spawn([](CameraLink& link, CameraLink::CameraFilePtr f, QString to,
                   std::optional<CameraLink::DownloadResult>& out) -> async::Task<void> {
        out.emplace(co_await link.download(f, to, true));
    }(*h.link, file, folder, result));
    ASSERT_TRUE(h.waitUntil([&] { return result.has_value(); }));
    ASSERT_TRUE(result->ok()) << result->error().message().toStdString();
    EXPECT_TRUE(QFileInfo::exists(result->value()));
    EXPECT_EQ(h.linesStarting("  カードから削除できません: ").size(), 1);
    EXPECT_TRUE(LinkHarness::filesUnder(h.cardDir()).contains(file->name()));
}

TEST_P(CameraLinkDownload, ADownloadAwaitedPastTheLinksEndAnswersWithoutTouchingIt) {
    LinkHarness h{GetParam()};
    h.cameraOnRealTime = true;  // the transfer crawls
    h.makeCamera(1);
    h.plug();
    h.openAndWaitReady(1);
    h.camera->setBandwidth(1);
    const auto file = h.link->cardFiles().begin()->second;
    std::optional<CameraLink::DownloadResult> result;
    // The caller's task, like a card import's, is not the link's own: it outlives the link.
    async::Scope scope(h.rt);
    scope.spawn([](CameraLink& link, CameraLink::CameraFilePtr f, QString to,
                   std::optional<CameraLink::DownloadResult>& out) -> async::Task<void> {
        out.emplace(co_await link.download(f, to, false));
    }(*h.link, file, h.dir.filePath(QStringLiteral("import")), result));
    h.rt.runReady();
    h.link.reset();
    h.camera->setBandwidth(0);
    ASSERT_TRUE(h.waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok());
    EXPECT_TRUE(h.rt.unhandled().isEmpty());
}

TEST(CameraLinkNames, CameraNamesCannotLeaveOrHideInTheFolder) {
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral("DSC_0001.NEF")),
              QStringLiteral("DSC_0001.NEF"));
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral("../../.bashrc")),
              QStringLiteral("_._.._.bashrc"));
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral("/etc/passwd")),
              QStringLiteral("_etc_passwd"));
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral(".hidden.JPG")),
              QStringLiteral("_hidden.JPG"));
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral("a\\b")), QStringLiteral("a_b"));
    EXPECT_EQ(CameraLink::savedNameFor(QString(QChar(u'\0')) + QStringLiteral("x")),
              QStringLiteral("_x"));
    EXPECT_EQ(CameraLink::savedNameFor(QString()), QStringLiteral("_"));
    EXPECT_EQ(CameraLink::savedNameFor(QStringLiteral("..")), QStringLiteral("_."));
}

TEST_P(CameraLinkDownload, AShotSavedBeforeAReplugIsNotSavedAgain) {
    LinkHarness h{GetParam()};
    h.makeCamera(2);
    h.plug();
    h.openAndWaitReady(2);
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 1; }));

    h.unplug();
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    EXPECT_EQ(h.lost[0], QString::fromUtf8("カメラが取り外されました"));
    EXPECT_TRUE(h.link->cardFiles().empty());

    h.makeCamera();  // the same card in a camera plugged in again
    h.plug();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady() && h.catalogued(3); }));
    h.drain();
    EXPECT_EQ(h.saved.size(), 1u);
    EXPECT_EQ(LinkHarness::filesUnder(h.link->destination).size(), 1);
    EXPECT_EQ(h.linesStarting("撮影ファイル: ").size(), 1);

    shoot(h);  // a new shot after the replug still downloads
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 2; }));
}

TEST_P(CameraLinkDownload, QuickShotsSaveInOrderOneAtATime) {
    LinkHarness h{GetParam()};
    h.cameraOnRealTime = true;  // transfers crawl
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    // Transfers crawl until all three shots are found, so that they queue behind each other
    // however slowly a loaded machine makes the body capture them.
    h.camera->setBandwidth(0.05);
    // Each save reads the destination when it starts (a date folder may roll over).
    const QString later = h.dir.filePath(QStringLiteral("later"));
    QObject::connect(
        h.link.get(), &CameraLink::fileSaved,
        [&](const QString&, const CameraLink::CameraFilePtr&) { h.link->destination = later; });
    int most = 0;
    h.syncWall();
    // Three presses in quick succession; the body takes them one after the other.
    for (int i = 0; i < 3; ++i) h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] {
        most = std::max(most, h.link->downloading());
        return h.linesStarting("撮影ファイル: ").size() == 3;
    }));
    h.camera->setBandwidth(0.5);
    ASSERT_TRUE(h.waitUntil([&] {
        most = std::max(most, h.link->downloading());
        return h.saved.size() == 3;
    }));
    EXPECT_EQ(most, 1);
    const QStringList found = h.linesStarting("撮影ファイル: ");
    ASSERT_EQ(found.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(found[i].startsWith(QString::fromUtf8("撮影ファイル: ") +
                                        QFileInfo(h.saved[i]).fileName()))
            << found[i].toStdString();
    // All three were found before the second save ended: they really queued.
    const QStringList lines = h.lines();
    const auto thirdFound = lines.indexOf(found[2]);
    const QStringList saves = h.linesStarting("保存: ");
    ASSERT_EQ(saves.size(), 3);
    EXPECT_LT(thirdFound, lines.indexOf(saves[1]));
    EXPECT_NE(QFileInfo(h.saved[0]).absolutePath(), QFileInfo(later).absoluteFilePath());
    EXPECT_EQ(QFileInfo(h.saved[1]).absolutePath(), QFileInfo(later).absoluteFilePath());
    EXPECT_EQ(QFileInfo(h.saved[2]).absolutePath(), QFileInfo(later).absoluteFilePath());
    EXPECT_LT(QFileInfo(h.saved[0]).fileName(), QFileInfo(h.saved[1]).fileName());
    EXPECT_LT(QFileInfo(h.saved[1]).fileName(), QFileInfo(h.saved[2]).fileName());
}

TEST_P(CameraLinkDownload, DeleteAfterDownloadRemovesTheCardCopyOnlyOnceSaved) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    h.link->deleteAfterDownload = true;
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.saved.empty(); }));
    const QString name = QFileInfo(h.saved[0]).fileName();
    ASSERT_TRUE(QFileInfo::exists(h.saved[0]));
    ASSERT_TRUE(h.waitUntil([&] { return !LinkHarness::filesUnder(h.cardDir()).contains(name); }));
}

TEST_P(CameraLinkDownload, ACutTransferFailsLeavesTheCardCopyAndNoFileUnderARealName) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    h.link->deleteAfterDownload = true;
    h.camera->cutTransferAfter(1000);
    h.syncWall();
    // Not shoot(): the cut ends the session, which empties the catalogue again at once.
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return !h.failed.empty(); }));
    const auto [name, message, fromCamera] = h.failed[0];
    EXPECT_TRUE(fromCamera);
    EXPECT_TRUE(message.startsWith(QString::fromUtf8("カメラから読めません（") +
                                   h.link->destination + u'/' + name + QString::fromUtf8("）: ")))
        << message.toStdString();
    EXPECT_TRUE(h.lines().contains(QString::fromUtf8("転送失敗 ") + name + QString::fromUtf8(": ") +
                                   message));
    EXPECT_TRUE(h.saved.empty());
    EXPECT_TRUE(LinkHarness::filesUnder(h.link->destination).isEmpty());
    EXPECT_TRUE(QDir(h.link->destination).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << "no temporary left";
    EXPECT_TRUE(LinkHarness::filesUnder(h.cardDir()).contains(name));
}

TEST_P(CameraLinkDownload, AnUncreatableDestinationFailsWithItsPath) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    QFile blocker(h.dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    h.link->destination = h.dir.filePath(QStringLiteral("blocker/dest"));
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.failed.empty(); }));
    EXPECT_TRUE(h.failed[0].message.startsWith(QString::fromUtf8("保存先を作成できません（") +
                                               h.link->destination + QString::fromUtf8("）: ")))
        << h.failed[0].message.toStdString();
    EXPECT_FALSE(h.failed[0].fromCamera);
    EXPECT_EQ(h.link->downloading(), 0);
    EXPECT_TRUE(LinkHarness::filesUnder(h.cardDir()).contains(h.failed[0].name));
}

TEST_P(CameraLinkDownload, ACameraThirtySecondsBehindStillHasItsShotsTakenAsFresh) {
    LinkHarness h{GetParam()};
    h.makeCamera(0, -30);
    h.plug();
    h.openAndWaitReady(0);
    // Five seconds after opening, the camera's clock says 25 s before the session opened.
    h.advance(5);
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.saved.empty(); }));
}

TEST_P(CameraLinkDownload, AShotDatedBeyondTheDriftAdjustedMarginIsOldContent) {
    LinkHarness h{GetParam()};
    h.makeCamera(0, -10);
    h.plug();
    h.openAndWaitReady(0);
    // The drift measured at opening was 10 s behind, so a shot dated 3 s before opening is
    // within the 12 s margin, and one dated 13 s before is not.
    h.camera->setClockDrift(-3);
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 1; }));
    h.camera->setClockDrift(-13);
    shoot(h);
    h.drain();
    EXPECT_EQ(h.saved.size(), 1u);
    EXPECT_EQ(h.linesStarting("撮影ファイル: ").size(), 1);
}

// A booth runs one pexilctl after another. The picture the previous run took sits on the
// card, just taken; a camera clock minutes ahead made it look even newer than the session.
TEST_P(CameraLinkDownload, APreviousRunsPictureIsNotFreshWhateverTheCameraClock) {
    LinkHarness h{GetParam()};
    h.makeCamera(0, 300);
    h.camera->pressShutter();  // the previous run's shot, a minute before this session
    h.advance(60);
    h.plug();
    h.openAndWaitReady(1);
    ASSERT_TRUE(h.link->clockDrift());
    EXPECT_NEAR(*h.link->clockDrift(), -300, 2);
    shoot(h);  // this session's own shot, on the same clock
    ASSERT_TRUE(h.waitUntil([&] { return !h.saved.empty(); }));
    h.drain();
    EXPECT_EQ(h.saved.size(), 1u);
    EXPECT_EQ(h.linesStarting("撮影ファイル: ").size(), 1);
}

TEST_P(CameraLinkDownload, AReleasesPictureIsSavedAndAnAlreadySavedOneIsNot) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.syncWall();
    h.camera->pressShutter();  // taken a moment before the session: fresh by its time
    ASSERT_TRUE(h.waitUntil([&] { return h.camera->waitUntilIdle(std::chrono::milliseconds(0)); }));
    const QString previous = LinkHarness::filesUnder(h.cardDir()).value(0);
    ASSERT_FALSE(previous.isEmpty());
    // The import record knows it: an earlier run saved it into this destination.
    h.link->alreadySaved = [previous](const camera::CameraFile& f) { return f.name() == previous; };
    h.plug();
    h.openAndWaitReady(1);
    h.drain();
    EXPECT_TRUE(h.saved.empty());
    EXPECT_EQ(h.linesStarting("保存済みのため保存しない: "),
              QStringList{QString::fromUtf8("保存済みのため保存しない: ") + previous});

    // The camera's clock jumps an hour back: by its date the new picture is old content,
    // but it is what the release made.
    h.camera->setClockDrift(-3600);
    h.link->expectRelease();
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 1; }));
    const auto made = std::find_if(
        h.link->cardFiles().begin(), h.link->cardFiles().end(), [&](const auto& entry) {
            return QFileInfo(h.saved[0]).fileName() == entry.second->name();
        });
    ASSERT_NE(made, h.link->cardFiles().end());
    EXPECT_TRUE(h.link->madeByRelease(*made->second));
    EXPECT_TRUE(h.link->isClaimed(*made->second));
    const auto old =
        std::find_if(h.link->cardFiles().begin(), h.link->cardFiles().end(),
                     [&](const auto& entry) { return entry.second->name() == previous; });
    ASSERT_NE(old, h.link->cardFiles().end());
    EXPECT_FALSE(h.link->madeByRelease(*old->second));
    EXPECT_FALSE(h.link->isClaimed(*old->second));
}

TEST_P(CameraLinkDownload, AFreshShotIsClaimedUntilItsSaveFails) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    h.camera->refuse(PTP::code(PTP::Op::getObject), PTP::code(PTP::Response::accessDenied));
    std::vector<bool> claimedWhileListed;
    QObject::connect(h.link.get(), &CameraLink::cardChanged, [&] {
        for (const auto& [key, file] : h.link->cardFiles())
            claimedWhileListed.push_back(h.link->isClaimed(*file) || !h.failed.empty());
    });
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.failed.empty(); }));
    h.runTimers(1);
    ASSERT_FALSE(claimedWhileListed.empty());
    EXPECT_TRUE(std::all_of(claimedWhileListed.begin(), claimedWhileListed.end(), [](bool claimed) {
        return claimed;
    })) << "counted as imported from the moment the link took it on";
    ASSERT_EQ(h.link->cardFiles().size(), 1u);
    EXPECT_FALSE(h.link->isClaimed(*h.link->cardFiles().begin()->second))
        << "a failed save leaves the picture to be imported";
}

TEST_P(CameraLinkDownload, AnObjectLongerThanAnnouncedIsRefusedAtItsAnnouncedSize) {
    LinkHarness h{GetParam()};
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    h.camera->sendPastObjectEnd(8 << 20);
    h.syncWall();
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return !h.failed.empty(); }));
    EXPECT_TRUE(h.failed[0].fromCamera);
    EXPECT_TRUE(h.failed[0].message.contains(QString::fromUtf8("を超えるデータが届いたため")))
        << h.failed[0].message.toStdString();
    EXPECT_TRUE(QDir(h.link->destination).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(h.lost.empty()) << "the camera answered; only the object was refused";
    // The next picture arrives as it should.
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 1; }));
}

// A body that names a new picture with an empty name: nothing can be saved under it, but the
// photographer must hear of it rather than see the release silently come to nothing.
TEST(CameraLinkNames, AReleasedPictureWithoutANameIsReportedNotDropped) {
    LinkHarness h{LinkHarness::Via::ptpip};
    h.makeCamera();
    auto hostile = std::make_shared<testing::HostileResponder>(h.camera);
    hostile->replace(
        PTP::code(PTP::Op::getObjectInfo),
        [camera = h.camera](
            const camera::Operation& op, std::optional<ByteView> out,
            camera::DataSink& sink) -> std::optional<Result<camera::Response, TransportError>> {
            camera::BufferSink info;
            auto answer = camera->handle(op, out, info);
            auto parsed = camera::ObjectInfo::parse(info.data());
            if (!answer || !parsed || parsed->isFolder()) {
                if (!sink.begin(info.data().size()) || !sink.write(info.data()))
                    return TransportError{QStringLiteral("refused")};
                return answer;
            }
            parsed->filename.clear();
            const Bytes nameless = parsed->encode();
            if (!sink.begin(nameless.size()) || !sink.write(nameless))
                return TransportError{QStringLiteral("refused")};
            return answer;
        });
    h.responder = hostile;
    h.plug();
    h.link->open();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady() && h.hasLine("一覧の完了通知"); }));
    h.link->expectRelease();
    h.syncWall();
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return !h.failed.empty(); }));
    EXPECT_EQ(h.failed[0].name, QStringLiteral("?"));
    EXPECT_TRUE(h.failed[0].message.contains(QString::fromUtf8("ファイル名")));
    EXPECT_EQ(h.linesStarting("名前のないファイルを受け取った").size(), 1);
    EXPECT_TRUE(h.saved.empty());
}

INSTANTIATE_TEST_SUITE_P(Transports, CameraLinkDownload,
                         ::testing::Values(LinkHarness::Via::inProcess, LinkHarness::Via::ptpip),
                         [](const ::testing::TestParamInfo<LinkHarness::Via>& info) {
                             return info.param == LinkHarness::Via::ptpip ? "PtpIp" : "InProcess";
                         });

// The virtual camera as a Nikon body that queues its events for CheckEvent and sends
// nothing on the event channel.
// Polls CheckEvent through the link, as the session's loop does.
void pollCheckEvent(LinkHarness& h) {
    const auto events = h.rt.run(h.link->pollEvents());
    ASSERT_TRUE(events && events->ok());
}

TEST(CameraLinkCheckEvent, AShotAnnouncedOnlyToCheckEventIsSavedOnceSomethingPolls) {
    LinkHarness h;
    auto options = h.cameraOptions();
    options.eventChannel = false;
    h.VirtualCameraRig::makeCamera(options);
    h.plug();
    h.openAndWaitReady(0);
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return !LinkHarness::filesUnder(h.cardDir()).isEmpty(); }));
    ASSERT_EQ(LinkHarness::filesUnder(h.cardDir()).size(), 1);
    h.drain();
    EXPECT_TRUE(h.saved.empty()) << "nothing came on the event channel";

    // The event was queued with the file in place: one poll, as the session's loop makes.
    pollCheckEvent(h);
    ASSERT_TRUE(h.waitUntil([&] { return !h.saved.empty(); }));
    ASSERT_EQ(h.saved.size(), 1u);
    EXPECT_EQ(LinkHarness::filesUnder(h.link->destination), LinkHarness::filesUnder(h.cardDir()));
}

TEST(CameraLinkCheckEvent, AShotAnnouncedOnBothChannelsIsCataloguedAndSavedOnce) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    shoot(h);
    ASSERT_TRUE(h.waitUntil([&] { return h.saved.size() == 1; }));
    pollCheckEvent(h);
    h.drain();
    EXPECT_EQ(h.saved.size(), 1u);
    EXPECT_EQ(h.link->cardFiles().size(), 1u);
    EXPECT_EQ(h.linesStarting("撮影ファイル: ").size(), 1);
}

}  // namespace
}  // namespace pexil::testing
