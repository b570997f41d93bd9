// The session model driving the virtual camera: settings, polling, shots, writes, live view,
// and results that arrive after their camera went away.
#include "SessionHarness.h"

#include "app/backup/BackupModel.h"
#include "app/base/PreferencesModel.h"
#include "app/card/CardModel.h"
#include "app/card/ImportLedger.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/DestinationModel.h"
#include "app/shots/JpegDecoder.h"

#include <QBuffer>
#include <QDir>
#include <QImage>

#include <cerrno>

namespace pexil::testing {
namespace {

using State = ConnectionState;

int calls(const SessionHarness& h, PTP::Op op) {
    return h.camera->callCount(PTP::code(op));
}

// Another choice than the current one.
std::int64_t otherChoice(const PropDesc& desc) {
    for (const std::int64_t v : desc.choices)
        if (v != desc.current) return v;
    ADD_FAILURE() << "no other choice";
    return desc.current;
}

Bytes jpegFrame(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(bytes.begin(), bytes.end());
}

TEST(SessionCamera, ReadyReadsEverySettingAndLogsThemInCodeOrder) {
    SessionHarness h;
    h.connectReady();
    const auto& props = h.model->settings().props();
    EXPECT_TRUE(props.count(PTP::Prop::fNumber));
    EXPECT_TRUE(props.count(PTP::Prop::exposureProgram));
    EXPECT_EQ(h.model->connection().deviceInfo()->serialNumber, h.camera->serialNumber());
    EXPECT_EQ(h.model->connection().cameraSerial(), h.camera->serialNumber());
    EXPECT_EQ(h.model->connection().clockOffsetDescription(), QString::fromUtf8("一致"));
    EXPECT_TRUE(h.model->settings().batteryPercent());
    EXPECT_TRUE(h.model->settings().lightMeter());

    QString settingsLine;
    for (const QString& line : h.lines())
        if (line.startsWith(QString::fromUtf8("設定: "))) settingsLine = line;
    ASSERT_FALSE(settingsLine.isEmpty());
    // Label=text per property in code order, a padlock after the read-only ones.
    QString expected = QString::fromUtf8("設定:");
    for (const auto& [prop, desc] : props) {
        expected += u' ' + PTP::label(prop) + u'=' + desc.currentText();
        if (!desc.writable) expected += QString::fromUtf8("🔒");
    }
    EXPECT_EQ(settingsLine, expected);
    EXPECT_TRUE(settingsLine.contains(QString::fromUtf8("🔒")));
}

TEST(SessionCamera, ShotsArriveNewestFirstSelectedWithThumbnailPreviewAndLedgerKey) {
    SessionHarness h;
    h.connectReady();
    int moved = 0;  // the settings' preview follows the counter
    QObject::connect(&h.model->destination(), &DestinationModel::nextNameChanged, [&] { ++moved; });
    for (int i = 0; i < 2; ++i) {
        h.model->capture().shoot();
        EXPECT_TRUE(h.model->capture().busy());
        ASSERT_TRUE(h.settle([&] {
            return h.model->shots().list().size() == static_cast<std::size_t>(i + 1) &&
                   !h.model->capture().busy();
        }));
    }
    const auto& shots = h.model->shots().list();
    EXPECT_LT(shots[1].path, shots[0].path);  // camera numbering: the newer name is greater
    EXPECT_EQ(h.model->shots().selection(), shots[0].id);
    ASSERT_TRUE(h.settle([&] {
        return !h.model->shots().list()[0].thumbnail.isNull() &&
               !h.model->shots().list()[1].thumbnail.isNull();
    }));
    EXPECT_GT(h.model->shots().list()[0].meta.pixelWidth, 0);
    // The selected shot's thumbnail asked for its large preview.
    ASSERT_TRUE(h.settle([&] {
        return !h.model->shots().fullPreview().isNull() &&
               h.model->shots().fullPreviewID() == shots[0].id;
    }));

    const QString name = QFileInfo(shots[0].path).fileName();
    bool recorded = false;
    for (const QString& key : h.model->ledger().keys())
        recorded |= key.startsWith(h.camera->serialNumber() + u'|' + name + u'|');
    EXPECT_TRUE(recorded);
    EXPECT_EQ(calls(h, PTP::Op::initiateCapture), 2);
}

// The photographer's names and session folder; the import record still knows each picture
// by the camera's name, so the card does not offer it again.
TEST(SessionCamera, ShotsAreNamedByTheTemplateIntoTheSessionFolder) {
    SessionHarness h;
    ASSERT_FALSE(h.model->preferences().setSessionName(QStringLiteral("Studio")));
    ASSERT_FALSE(h.model->preferences().setNameTemplate(QStringLiteral("{session}_{counter:4}")));
    h.connectReady();
    int moved = 0;  // the settings' preview follows the counter
    QObject::connect(&h.model->destination(), &DestinationModel::nextNameChanged, [&] { ++moved; });
    for (int i = 0; i < 2; ++i) {
        h.model->capture().shoot();
        ASSERT_TRUE(h.settle([&] {
            return h.model->shots().list().size() == static_cast<std::size_t>(i + 1) &&
                   !h.model->capture().busy();
        }));
    }
    const QString folder = QDir(h.destination()).filePath(QStringLiteral("Studio"));
    EXPECT_EQ(h.model->shots().list()[0].path,
              QDir(folder).filePath(QStringLiteral("Studio_0002.JPG")));
    EXPECT_EQ(h.model->shots().list()[1].path,
              QDir(folder).filePath(QStringLiteral("Studio_0001.JPG")));
    for (const QString& key : h.model->ledger().keys())
        EXPECT_TRUE(key.startsWith(h.camera->serialNumber() + QStringLiteral("|DSC_")))
            << key.toStdString();
    EXPECT_EQ(h.model->ledger().keys().size(), 2u);
    // The preview takes the extension the camera saves now.
    EXPECT_EQ(h.model->destination().nextName(), QStringLiteral("Studio_0003.JPG"));
    EXPECT_EQ(moved, 2);
}

TEST(SessionCamera, TheBackupCopyFollowsTheShotAndAFullBackupDiskLeavesThePrimaryWhole) {
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "a full backup disk" : "a good backup disk");
        SessionHarness h;
        const QString backup = h.dir.filePath(QStringLiteral("backup"));
        ASSERT_TRUE(QDir().mkpath(backup));
        h.model->preferences().setBackupFolder(backup);
        if (full)
            h.model->backup().writer = [](int, ByteView) -> ssize_t {
                errno = ENOSPC;
                return -1;
            };
        h.connectReady();
        h.model->capture().shoot();
        ASSERT_TRUE(h.settle([&] {
            return h.model->shots().list().size() == 1 && !h.model->capture().busy() &&
                   h.model->backup().pending() == 0 &&
                   (h.model->backup().problem() || !QDir(backup).isEmpty());
        }));
        const QString primary = h.model->shots().list()[0].path;
        QFile saved(primary);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        EXPECT_GT(bytes.size(), 1000);
        EXPECT_FALSE(h.model->destination().problem());
        const QString name = QFileInfo(primary).fileName();
        if (full) {
            ASSERT_TRUE(h.model->backup().problem());
            EXPECT_EQ(h.model->backup().missing(), QStringList{name});
            EXPECT_FALSE(h.model->lastError());
            continue;
        }
        QFile copy(QDir(backup).filePath(name));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), bytes);
        EXPECT_FALSE(h.model->backup().problem());
    }
}

TEST(SessionCamera, AShotShowsItsExifThumbnailFirstThenASharpOneWhileSelected) {
    SessionHarness h;
    h.connectReady();
    std::map<QUuid, std::vector<int>> sides;  // each shot's thumbnail sizes, in order
    QObject::connect(&h.model->shots(), &ShotsModel::shotUpdated, [&](const QUuid& id) {
        for (const Shot& s : h.model->shots().list())
            if (s.id == id)
                sides[id].push_back(std::max(s.thumbnail.width(), s.thumbnail.height()));
    });
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->shots().list().size() == 1 && !h.model->capture().busy(); }));
    const QUuid first = h.model->shots().list().front().id;
    ASSERT_TRUE(h.settle([&] { return !h.model->shots().fullPreview().isNull(); }));
    ASSERT_GE(sides[first].size(), 2u);
    EXPECT_LE(sides[first].front(), 160);  // the camera's own, at once
    EXPECT_EQ(sides[first].back(), 1200);  // the picture, for the pane until the preview is in

    // A shot left for another just as its pictures were asked for keeps the small one: the
    // older shot is chosen the moment the newer one's preview is cleared for loading.
    bool switched = false;
    QObject::connect(&h.model->shots(), &ShotsModel::fullPreviewChanged, [&] {
        const auto& shots = h.model->shots().list();
        if (switched || shots.size() != 2 || h.model->shots().fullPreviewID() != shots.front().id)
            return;
        switched = true;
        h.model->shots().select(first);
    });
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->shots().list().size() == 2 && !h.model->capture().busy(); }));
    const QUuid second = h.model->shots().list().front().id;
    ASSERT_TRUE(h.settle([&] {
        return switched && h.model->shots().fullPreviewID() == first &&
               !h.model->shots().fullPreview().isNull();
    }));
    h.thumbs.drain();
    (void)h.settle([] { return false; }, 0.5);  // whatever the queue still delivers
    ASSERT_FALSE(sides[second].empty());
    EXPECT_LE(sides[second].back(), 160);
    EXPECT_EQ(h.model->shots().selection(), first);
}

TEST(SessionCamera, PicturesNoLongerWantedInThePaneAreNotDecoded) {
    SessionHarness h(SessionHarness::Via::inProcess, false, /*manualThumbs=*/true);
    h.connectReady();
    for (std::size_t n = 1; n <= 3; ++n) {
        h.model->capture().shoot();
        ASSERT_TRUE(h.settle(
            [&] { return h.model->shots().list().size() == n && !h.model->capture().busy(); }));
    }
    // Spawned decodes start on the main queue before they reach the thumbnail queue.
    const auto drainThumbs = [&h] {
        do h.rt.runReady();
        while (h.heldThumbs.runAll() > 0);
    };
    // The camera's thumbnails first: the newest asks for its pictures for the pane.
    drainThumbs();
    ASSERT_TRUE(std::all_of(h.model->shots().list().begin(), h.model->shots().list().end(),
                            [](const Shot& s) { return !s.thumbnail.isNull(); }));
    // The photographer runs through the older two before any of it is decoded.
    const QUuid oldest = h.model->shots().list().back().id;
    h.model->shots().select(h.model->shots().list()[1].id);
    h.model->shots().select(oldest);
    const auto before = JpegDecoder::mainThreadDecodes();
    drainThumbs();
    // Only the shot now shown is decoded: its 1200-pixel picture and its full preview.
    EXPECT_EQ(JpegDecoder::mainThreadDecodes() - before, 2u);
    EXPECT_EQ(h.model->shots().fullPreviewID(), oldest);
    EXPECT_FALSE(h.model->shots().fullPreview().isNull());
    EXPECT_EQ(h.model->shots().shot(oldest)->thumbnail.width(), 1200);
}

TEST(SessionCamera, ASecondPressWhileBusyIsIgnoredAndAFailedFocusStillReleases) {
    SessionHarness h;
    h.connectReady();
    ASSERT_TRUE(h.model->preferences().autofocusBeforeShot());
    h.camera->setFocusSucceeds(false);
    h.model->capture().shoot();
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->shots().list().size() == 1 && !h.model->capture().busy(); }));
    EXPECT_EQ(calls(h, PTP::Op::nikonAfDrive), 1);
    EXPECT_EQ(calls(h, PTP::Op::initiateCapture), 1);
    EXPECT_FALSE(h.model->lastError());
}

TEST(SessionCamera, OnlyAFailureOfTheDestinationMakesItTheDestinationsProblem) {
    struct Case {
        const char* what;
        bool fromCamera;
        std::optional<QString> problem;
    };
    const QString reason = QString::fromUtf8("転送が途中で終わりました");
    const Case cases[] = {{"the camera broke the read off", true, std::nullopt},
                          {"the destination refused the file", false, reason}};
    for (const Case& c : cases) {
        SessionHarness h;
        h.connectReady();
        ASSERT_FALSE(h.model->destination().problem()) << c.what;
        SessionModelProbe::failed(*h.model, QStringLiteral("DSC_0001.JPG"), reason, c.fromCamera);
        EXPECT_EQ(h.model->destination().problem(), c.problem) << c.what;
        EXPECT_EQ(h.model->destination().failedTransfers(),
                  QStringList{QStringLiteral("DSC_0001.JPG")})
            << c.what;
        EXPECT_TRUE(h.model->lastError().value_or(QString()).contains(reason)) << c.what;
    }
}

// Between the shutter and the disk the model says a picture is coming: first without a name,
// then by its name with the bytes received; saving or failing ends it.
TEST(SessionCamera, APictureOnItsWayIsShownUntilItIsSavedOrFails) {
    for (const bool blockedDestination : {false, true}) {
        SCOPED_TRACE(blockedDestination ? "destination refuses" : "saved");
        SessionHarness h;
        h.connectReady();
        if (blockedDestination) {
            const QString blocked = h.dir.filePath(QStringLiteral("blocked"));
            QFile(blocked).open(QIODevice::WriteOnly);
            h.model->preferences().setBaseDestination(blocked);
        }
        std::vector<std::optional<IncomingShot>> seen;
        QObject::connect(&h.model->capture(), &CaptureModel::incomingChanged,
                         [&] { seen.push_back(h.model->capture().incoming()); });
        h.model->capture().shoot();
        ASSERT_TRUE(h.settle([&] {
            return (h.model->shots().list().size() == 1 ||
                    !h.model->destination().failedTransfers().isEmpty()) &&
                   !h.model->capture().busy();
        }));
        EXPECT_FALSE(h.model->capture().incoming());
        ASSERT_GE(seen.size(), 3u);
        ASSERT_TRUE(seen.front());
        EXPECT_TRUE(seen.front()->name.isEmpty());
        EXPECT_FALSE(seen.back());
        const auto named = std::find_if(seen.begin(), seen.end(), [](const auto& s) { return s && !s->name.isEmpty(); });
        ASSERT_NE(named, seen.end());
        EXPECT_TRUE((*named)->name.startsWith(QStringLiteral("DSC_")));
        EXPECT_EQ((*named)->received, 0u);
        EXPECT_GT((*named)->total, 0u);
        if (!blockedDestination) {
            const auto& last = seen[seen.size() - 2];
            ASSERT_TRUE(last);
            EXPECT_EQ(last->received, last->total);
            EXPECT_EQ(last->percent(), 100);
        }
    }
}

TEST(SessionCamera, AFailedTransferNamesTheFileAndSaysItIsStillOnTheCard) {
    SessionHarness h;
    h.connectReady();
    // The destination is a file: nothing can be saved under it.
    const QString blocked = h.dir.filePath(QStringLiteral("blocked"));
    QFile(blocked).open(QIODevice::WriteOnly);
    h.model->preferences().setBaseDestination(blocked);
    ASSERT_TRUE(h.model->destination().problem());
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle([&] { return !h.model->destination().failedTransfers().isEmpty(); }));
    const QString name = h.model->destination().failedTransfers().front();
    EXPECT_TRUE(name.startsWith(QStringLiteral("DSC_")));
    const QString error = h.model->lastError().value_or(QString());
    EXPECT_TRUE(error.startsWith(QString::fromUtf8("「") + name +
                                 QString::fromUtf8("」を保存できませんでした。\n")));
    EXPECT_TRUE(error.endsWith(QString::fromUtf8("\n\nカメラのカードには残っています。")));
    EXPECT_EQ(h.model->destination().problem(), error.section(u'\n', 1, 1));
    EXPECT_TRUE(h.model->shots().list().empty());

    // A new connection starts with a clean slate.
    h.model->connection().connectCamera();
    EXPECT_FALSE(h.model->lastError());
    EXPECT_TRUE(h.model->destination().failedTransfers().isEmpty());
}

TEST(SessionCamera, WritesAreVerifiedAgainstWhatTheCameraTook) {
    struct Case {
        const char* name;
        std::uint16_t response;  // 0: the camera accepts
        bool applied;
        bool error;
        bool logged;
    };
    const Case cases[] = {
        {"accepted", 0, true, false, false},
        {"refused but applied", 0x2002, true, false, true},
        {"refused", 0x2019, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness h;
        h.connectReady();
        const PropDesc before = h.model->settings().props().at(PTP::Prop::whiteBalance);
        const std::int64_t wanted = otherChoice(before);
        if (c.response)
            h.camera->refuse(PTP::code(PTP::Op::setDevicePropValue), c.response, c.applied);
        h.model->settings().setProp(PTP::Prop::whiteBalance, wanted);
        EXPECT_EQ(SessionModelProbe::writing(*h.model), 1);
        ASSERT_TRUE(h.settle([&] { return SessionModelProbe::writing(*h.model) == 0; }));
        EXPECT_EQ(h.model->settings().props().at(PTP::Prop::whiteBalance).current,
                  c.applied ? wanted : before.current);
        const QString label = PTP::label(PTP::Prop::whiteBalance);
        EXPECT_EQ(h.model->lastError().has_value(), c.error);
        if (c.error) {
            EXPECT_TRUE(h.model->lastError()->startsWith(
                label + QString::fromUtf8(" を変更できませんでした: ")));
        }
        EXPECT_EQ(h.countLines(QStringLiteral("  ") + label +
                               QString::fromUtf8(" の書き込み: エラー応答だが値は反映済み")),
                  c.logged ? 1 : 0);
    }
}

// An image size is a text on the wire: it is read, shown and chosen as one.
TEST(SessionCamera, ATextSettingIsShownAndChosenByItsText) {
    SessionHarness h;
    h.connectReady(QStringLiteral("z6-2"));
    const PropDesc& size = h.model->settings().props().at(PTP::Prop::imageSize);
    EXPECT_EQ(size.choiceTexts(), (QStringList{"6048x4024", "4528x3016", "3024x2016"}));
    EXPECT_EQ(h.model->settings().text(PTP::Prop::imageSize), "4528x3016");
    h.model->settings().setText(PTP::Prop::imageSize, QStringLiteral("3024x2016"));
    ASSERT_TRUE(
        h.settle([&] { return h.model->settings().text(PTP::Prop::imageSize) == "3024x2016"; }));
    EXPECT_FALSE(h.model->lastError());
}

TEST(SessionCamera, ChoosingTheCurrentValueOrAnUnknownTextSendsNothing) {
    SessionHarness h;
    h.connectReady();
    const int before = calls(h, PTP::Op::setDevicePropValue);
    h.model->settings().setText(PTP::Prop::whiteBalance,
                                h.model->settings().text(PTP::Prop::whiteBalance));
    h.model->settings().setText(PTP::Prop::whiteBalance, QStringLiteral("no such choice"));
    h.runFor(1);
    EXPECT_EQ(calls(h, PTP::Op::setDevicePropValue), before);
    EXPECT_EQ(SessionModelProbe::writing(*h.model), 0);

    const PropDesc wb = h.model->settings().props().at(PTP::Prop::whiteBalance);
    const QString other = wb.choiceTexts().at(wb.choices[0] == wb.current ? 1 : 0);
    h.model->settings().setText(PTP::Prop::whiteBalance, other);
    ASSERT_TRUE(
        h.settle([&] { return h.model->settings().text(PTP::Prop::whiteBalance) == other; }));
    EXPECT_EQ(calls(h, PTP::Op::setDevicePropValue), before + 1);
}

// The Kelvin value is told only while the white balance is set to a colour temperature, and
// each shot keeps the one it was taken with.
TEST(SessionCamera, AColourTemperatureIsToldInKelvinAndKeptWithTheShot) {
    SessionHarness h;
    h.connectReady();
    EXPECT_FALSE(h.model->settings().colorTemperature());
    const QString automatic = h.model->settings().text(PTP::Prop::whiteBalance);
    h.model->settings().setText(PTP::Prop::whiteBalance, QString::fromUtf8("色温度"));
    ASSERT_TRUE(h.settle([&] { return h.model->settings().colorTemperature() == 5000; }));
    for (const std::optional<int> expected : {std::optional<int>(5000), std::optional<int>()}) {
        const std::size_t before = h.model->shots().list().size();
        h.model->capture().shoot();
        ASSERT_TRUE(h.settle([&] {
            return h.model->shots().list().size() == before + 1 && !h.model->capture().busy();
        }));
        EXPECT_EQ(h.model->shots().list().front().colorTemperature, expected);
        h.model->settings().setText(PTP::Prop::whiteBalance, automatic);
        ASSERT_TRUE(h.settle([&] { return !h.model->settings().colorTemperature(); }));
    }
}

TEST(SessionCamera, ANewProgramOnTheDialRereadsEverySetting) {
    SessionHarness h;
    h.connectReady();
    const int descsBefore = calls(h, PTP::Op::getDevicePropDesc);
    const int linesBefore = static_cast<int>(h.lines().filter(QString::fromUtf8("設定: ")).size());
    const std::int64_t program = h.model->settings().props().at(PTP::Prop::exposureProgram).current;
    h.camera->turnModeDial(program == 1 ? 3 : 1);
    h.runFor(2);
    ASSERT_TRUE(h.settle([&] {
        return h.model->settings().props().at(PTP::Prop::exposureProgram).current != program;
    }));
    EXPECT_GE(calls(h, PTP::Op::getDevicePropDesc) - descsBefore,
              static_cast<int>(h.model->settings().props().size()));
    EXPECT_EQ(h.lines().filter(QString::fromUtf8("設定: ")).size(), linesBefore + 1);
}

TEST(SessionCamera, PollsBackOffWhenNothingChangesAndCheckEventRefusedSwitchesOnce) {
    SessionHarness h;
    h.connectReady();
    // Times of the polls, on the virtual clock, from a quiet start.
    h.runFor(30);
    std::vector<double> times;
    int seen = calls(h, PTP::Op::nikonCheckEvent);
    const double start = h.rt.clock().monotonic().count();
    for (int step = 0; step < 400; ++step) {
        h.runFor(0.05);
        const int now = calls(h, PTP::Op::nikonCheckEvent);
        if (now != seen) times.push_back(h.rt.clock().monotonic().count() - start);
        seen = now;
    }
    ASSERT_GE(times.size(), 3u);
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 2.0, 0.06);

    // A change brings the quick polls back.
    h.camera->setSceneBrightness(9);
    times.clear();
    const double again = h.rt.clock().monotonic().count();
    for (int step = 0; step < 100; ++step) {
        h.runFor(0.05);
        const int now = calls(h, PTP::Op::nikonCheckEvent);
        if (now != seen) times.push_back(h.rt.clock().monotonic().count() - again);
        seen = now;
    }
    ASSERT_GE(times.size(), 3u);
    EXPECT_NEAR(times[2] - times[1], 0.35, 0.06);

    h.camera->refuse(PTP::code(PTP::Op::nikonCheckEvent), 0x2005);
    h.runFor(10);
    const int refused = calls(h, PTP::Op::nikonCheckEvent);
    h.runFor(10);
    EXPECT_EQ(calls(h, PTP::Op::nikonCheckEvent), refused);
    EXPECT_FALSE(ConnectionModelProbe::checkEventUsable(*h.model));
    EXPECT_EQ(h.countLines(QString::fromUtf8("CheckEvent 非対応。露出計を直接読む方式に切り替え")),
              1);
}

TEST(SessionCamera, AutofocusShowsItsResultForTwoSecondsAndANewerPressOwnsTheDisplay) {
    SessionHarness h;
    h.connectReady();
    h.camera->setFocusSucceeds(false);
    h.model->capture().autofocus();
    EXPECT_EQ(h.model->capture().afState(), AFState::running());
    ASSERT_TRUE(
        h.settle([&] { return h.model->capture().afState().kind != AFState::Kind::running; }));
    EXPECT_EQ(h.model->capture().afState(),
              AFState::failed(QString::fromUtf8("ピントが合いませんでした")));

    h.runFor(1.0);
    h.camera->setFocusSucceeds(true);
    h.model->capture().autofocus();  // within the first result's two seconds
    ASSERT_TRUE(h.settle([&] { return h.model->capture().afState() == AFState::succeeded(); }));
    h.runFor(1.2);  // the first result's timer has run out
    EXPECT_EQ(h.model->capture().afState(), AFState::succeeded());
    h.runFor(1.0);
    EXPECT_EQ(h.model->capture().afState(), AFState::idle());
}

TEST(SessionCamera, LiveFramesDecodeOneAtATimeAndNoneAppearsAfterLiveViewEnded) {
    SessionHarness h(SessionHarness::Via::inProcess, true);
    LiveViewModelProbe::setLive(h.model->liveView(), true);
    const Bytes frame = jpegFrame(64, 48);
    LiveViewModelProbe::frame(h.model->liveView(), frame);
    LiveViewModelProbe::frame(h.model->liveView(), frame);  // the first is still decoding: dropped
    h.rt.runReady();
    EXPECT_EQ(h.heldFrames.runAll(), 1u);
    ASSERT_TRUE(h.waitUntil([&] { return !h.model->liveView().frame().isNull(); }));
    EXPECT_EQ(h.model->liveView().frame().size(), QSize(64, 48));
    EXPECT_EQ(h.model->liveView().fps(), 1);

    LiveViewModelProbe::frame(h.model->liveView(), frame);
    h.rt.runReady();
    LiveViewModelProbe::setLive(h.model->liveView(), false);
    const QImage shown = h.model->liveView().frame();
    h.heldFrames.runAll();
    h.rt.runFor(async::Seconds{0});
    EXPECT_EQ(h.model->liveView().frame().cacheKey(), shown.cacheKey());

    // An undecodable frame only frees the decoder.
    LiveViewModelProbe::setLive(h.model->liveView(), true);
    LiveViewModelProbe::frame(h.model->liveView(), Bytes{0xFF, 0xD8, 0x00});
    h.rt.runReady();
    h.heldFrames.runAll();
    h.rt.runFor(async::Seconds{0});
    LiveViewModelProbe::frame(h.model->liveView(), frame);
    h.rt.runReady();
    EXPECT_EQ(h.heldFrames.runAll(), 1u);
}

TEST(SessionCamera, AFrameFetchedWhileTheLastDecodesWaitsForTheDecoderInsteadOfBeingDropped) {
    SessionHarness h(SessionHarness::Via::inProcess, true);
    h.connectReady();
    int delivered = 0;
    h.model->liveView().onFrameBytes = [&](ByteView) { ++delivered; };
    h.model->toggleLiveView();
    ASSERT_TRUE(h.settle([&] { return delivered == 1; }));
    for (int decoded = 1; decoded <= 2; ++decoded) {
        // The camera is asked for the next frame meanwhile, but it waits for the decoder.
        h.settle([] { return false; }, 1.0);
        EXPECT_EQ(delivered, decoded);
        EXPECT_EQ(h.heldFrames.runAll(), 1u);
        ASSERT_TRUE(h.settle([&] { return delivered == decoded + 1; }));
    }
    h.model->toggleLiveView();
    h.heldFrames.runAll();
    ASSERT_TRUE(h.settle([&] { return !h.model->liveView().isLive(); }));
}

TEST(SessionCamera, LiveViewStreamsIntoTheModelAndStoppingClearsTheFrame) {
    SessionHarness h;
    h.connectReady();
    h.model->toggleLiveView();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->liveView().isLive() && !h.model->liveView().frame().isNull(); }));
    EXPECT_GT(h.model->liveView().fps(), 0);
    h.model->toggleLiveView();
    ASSERT_TRUE(h.settle([&] { return !h.model->liveView().isLive(); }));
    EXPECT_TRUE(h.model->liveView().frame().isNull());
    EXPECT_EQ(h.model->liveView().fps(), 0);
    EXPECT_FALSE(h.camera->isLiveViewOn());
}

TEST(SessionCamera, LiveViewIsRefusedWithATextOnBodiesWithoutIt) {
    SessionHarness h;
    h.connectReady(QStringLiteral("j5"));
    h.model->toggleLiveView();
    EXPECT_EQ(h.model->lastError(), QString::fromUtf8("この機種ではライブビューを使えません。"));
}

TEST(SessionCamera, AShotInLiveViewOnABodyThatTellsOnlyThroughCheckEventDoesNotWaitItsWholeBound) {
    SessionHarness h;
    h.connectReady(QStringLiteral("d850"), 0, false);
    h.model->toggleLiveView();
    ASSERT_TRUE(h.settle([&] { return h.model->liveView().state() == NikonLiveView::State::on; }));
    const double start = h.rt.clock().monotonic().count();
    h.model->capture().shoot();
    ASSERT_TRUE(
        h.settle([&] { return !h.model->capture().busy() && !h.model->shots().list().empty(); }));
    ASSERT_EQ(h.model->shots().list().size(), 1u);
    EXPECT_LT(h.rt.clock().monotonic().count() - start, 5.0);  // the wait bound is 15 s or more
    EXPECT_GE(ConnectionModelProbe::announcements(*h.model), 1);
}

TEST(SessionCamera, AWriteWhoseCameraWentAwayLeavesNoErrorAndNoSettings) {
    SessionHarness h;
    h.connectReady();
    h.camera->refuse(PTP::code(PTP::Op::setDevicePropValue), 0x2019);
    h.model->settings().setProp(
        PTP::Prop::whiteBalance,
        otherChoice(h.model->settings().props().at(PTP::Prop::whiteBalance)));
    ASSERT_TRUE(h.settle([&] { return calls(h, PTP::Op::setDevicePropValue) == 1; }));
    h.unplug();
    ASSERT_TRUE(
        h.settle([&] { return !h.model->connection().state().is(State::Kind::connected); }));
    h.runFor(2);
    EXPECT_FALSE(h.model->lastError());
    EXPECT_TRUE(h.model->settings().props().empty());
    EXPECT_EQ(SessionModelProbe::writing(*h.model), 0);
    EXPECT_EQ(h.model->settings().text(PTP::Prop::whiteBalance), QString());
}

TEST(SessionCamera, DisconnectStopsLiveViewAndClearsTheCameraButKeepsTheShots) {
    SessionHarness h;
    h.connectReady();
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->shots().list().size() == 1 && !h.model->capture().busy(); }));
    h.model->toggleLiveView();
    ASSERT_TRUE(h.settle([&] { return h.model->liveView().isLive(); }));
    h.model->connection().disconnectCamera();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().state() == State::disconnected(); }));
    EXPECT_FALSE(h.model->liveView().isLive());
    EXPECT_FALSE(h.camera->isLiveViewOn());
    EXPECT_TRUE(h.model->settings().props().empty());
    EXPECT_EQ(h.model->shots().list().size(), 1u);
    EXPECT_EQ(h.model->connection().modelName(), QString::fromUtf8("未接続"));
}

TEST(SessionCamera, ClockIsSetToTheComputersAndTheOffsetBecomesZero) {
    SessionHarness h;
    h.makeCamera();
    h.camera->setClockDrift(-125);
    h.plug();
    h.model->connection().connectCamera();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().state().is(State::Kind::connected); }));
    EXPECT_EQ(h.model->connection().clockOffsetDescription(), QString::fromUtf8("2分遅れ"));
    h.model->connection().syncClock();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().clockOffset() == 0.0; }));
    EXPECT_EQ(h.countLines(QString::fromUtf8("カメラ時計を PC に合わせました")), 1);
}

TEST(SessionCamera, OverPtpIpAShotArrivesWithItsThumbnail) {
    SessionHarness h(SessionHarness::Via::ptpip);
    h.connectReady();
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle([&] {
        return h.model->shots().list().size() == 1 &&
               !h.model->shots().list()[0].thumbnail.isNull();
    }));
    EXPECT_TRUE(QFileInfo::exists(h.model->shots().list()[0].path));
}

// Only the newest few shots keep their 1200-pixel thumbnail; the others
// keep one of the filmstrip's size, so that a long session's memory stays bounded.
TEST(SessionCamera, OlderShotsKeepFilmstripSizedThumbnails) {
    SessionHarness h;
    h.connectReady();
    const QString picture = h.dir.filePath(QStringLiteral("wide.jpg"));
    {
        QFile file(picture);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const Bytes jpeg = jpegFrame(1600, 1000);
        file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size()));
    }
    const auto longSide = [](const Shot& s) {
        return std::max(s.thumbnail.width(), s.thumbnail.height());
    };
    SessionModelProbe::saved(*h.model, picture);
    ASSERT_TRUE(h.settle([&] { return !h.model->shots().list()[0].thumbnail.isNull(); }));
    for (int i = 0; i < 5; ++i) {
        SessionModelProbe::saved(*h.model, picture);
        ASSERT_TRUE(h.settle([&] { return !h.model->shots().list()[0].thumbnail.isNull(); }));
    }
    ASSERT_TRUE(h.settle([&] {
        const ShotList& all = h.model->shots().list();
        return longSide(all[3]) <= 128 && longSide(all[4]) <= 128 && longSide(all[5]) <= 128;
    }));
    const ShotList& shots = h.model->shots().list();
    ASSERT_EQ(shots.size(), 6u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(longSide(shots[i]), 1200) << i;
    EXPECT_EQ(longSide(shots[3]), 128);
    EXPECT_EQ(longSide(shots[5]), 128);
    EXPECT_EQ(shots[3].thumbnail.height(), 80) << "the aspect ratio is kept";
}

}  // namespace
}  // namespace pexil::testing
