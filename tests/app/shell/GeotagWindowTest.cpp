// The geotag window on the application's geo store: what it shows empty, the alert of a payload
// file that is not a record, a record arriving over the network while it is open, overlapping
// scans, and a write with the real ExifTool into copies of sample pictures.
#include "ShellHarness.h"

#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"
#include "app/geo/GeoStore.h"
#include "app/shell/geotag/GeotagWindow.h"
#include "app/shell/geotag/ReceiverBar.h"
#include "kit/async/WorkQueue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <deque>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

// Received times and track ranges are shown in the local zone; Tokyo makes it visible.
const bool tokyo = [] {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    return true;
}();

const QString samples = QStringLiteral(PEXIL_SAMPLES_DIR);

// Scans the test finishes by hand, in any order.
class HeldQueue final : public async::Executor {
public:
    void post(async::Work work) override { held_.push_back(std::move(work)); }
    std::size_t size() const { return held_.size(); }
    void run(std::size_t index) {
        async::Work work = std::move(held_.at(index));
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
        work();
    }

private:
    std::deque<async::Work> held_;
};

QDateTime utc(int hour, int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(hour, minute), Qt::UTC);
}

class GeotagWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<GeotagWindow> open(async::Executor& queue) {
        GeoTagModel::Options options;
        options.workQueue = &queue;
        auto window =
            std::make_unique<GeotagWindow>(h.model->geo(), h.rt.runtime(), std::move(options));
        window->show();
        h.rt.runReady();
        QCoreApplication::processEvents();
        return window;
    }

    // Real sockets and real child processes: the event loop and the model's main queue run
    // until `done`, never longer than a few seconds of real time.
    bool pump(const std::function<bool()>& done) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done()) {
            if (elapsed.elapsed() > 10000) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            h.rt.runReady();
        }
        return true;
    }

    ShellHarness h{0};
    async::InlineExecutor inline_;
};

TEST_F(GeotagWindowTest, OpenedWithNothingBothPanelsAreUnchosenAndWritingIsOff) {
    auto window = open(inline_);
    EXPECT_EQ(window->size(), QSize(700, 520));
    EXPECT_EQ(window->payloadDetail(), QStringLiteral("未選択"));
    EXPECT_EQ(window->folderDetail(), QStringLiteral("未選択"));
    EXPECT_EQ(window->payloadSubtitle(), QString());
    EXPECT_EQ(window->tallyTexts(),
              (QStringList{"ファイル名で確定 0", "撮影時刻から推定 0", "該当なし 0"}));
    EXPECT_FALSE(window->writeButton()->isEnabled());
    EXPECT_TRUE(window->writeButton()->isDefault()) << "Return writes";
    EXPECT_EQ(window->receiverBar()->text(),
              QStringLiteral("「%1」として待ち受け中。iPhone の Pexil から送信してください")
                  .arg(std::get<GeoReceiver::Waiting>(h.model->geo().receiver().state()).name));
    EXPECT_EQ(window->receiverBar()->symbol(), QStringLiteral("wifi"));
    EXPECT_GE(window->minimumWidth(), 620);
    EXPECT_GE(window->minimumHeight(), 460);
    QStringList choices;
    for (int i = 0; i < window->toleranceBox()->count(); ++i)
        choices << window->toleranceBox()->itemText(i);
    EXPECT_EQ(choices, (QStringList{"30秒", "2分", "10分", "1時間"}));
    EXPECT_EQ(window->toleranceBox()->currentText(), QStringLiteral("2分"));
    if (window->model().exifToolVersion()) {
        EXPECT_EQ(window->footerText(),
                  QStringLiteral("ExifTool ") + *window->model().exifToolVersion());
    } else {
        EXPECT_EQ(window->footerText(), QStringLiteral("exiftool が見つかりません"));
    }
}

TEST_F(GeotagWindowTest, APayloadFileThatIsNotARecordRaisesTheAlertUntilDismissed) {
    auto window = open(inline_);
    const QString file = h.dir.filePath(QStringLiteral("envelope.json"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        GeoPayload payload;
        payload.generated = utc(9, 0);
        // The link's envelope, not a bare record: "generated" is missing at the top level.
        out.write(GeoLink::encodeEnvelope({QStringLiteral("iPhone"), payload}));
    }
    QFileDialog* chooser = window->pickPayload();
    EXPECT_EQ(chooser->windowTitle(),
              QStringLiteral("iPhone から受け取った位置情報ファイルを選んでください"));
    EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(chooser->nameFilters(), QStringList{"JSON (*.json)"});
    // What confirming the chosen file does (the dialog's own accept() is not public).
    emit chooser->fileSelected(file);
    chooser->close();

    QMessageBox* alert = window->alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("エラー"));
    EXPECT_TRUE(alert->text().startsWith(QStringLiteral("位置情報ファイルを読めません: ")))
        << alert->text().toStdString();
    EXPECT_EQ(window->payloadDetail(), QStringLiteral("未選択"));
    alert->button(QMessageBox::Ok)->click();
    EXPECT_EQ(window->alert(), nullptr);
    EXPECT_FALSE(window->model().problem()) << "dismissing clears the problem";
}

TEST_F(GeotagWindowTest, ARecordSentToTheRunningReceiverIsAdoptedAndReplacesAFile) {
    auto window = open(inline_);
    GeoPayload fromFile;
    fromFile.generated = utc(9, 0);
    fromFile.shots[QStringLiteral("DSC_0001.JPG")] = GeoPoint{utc(9, 0), 35.0, 139.0, {}, {}};
    const QString file = h.dir.filePath(QStringLiteral("walk.json"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(GeoJson::encodePayload(fromFile));
    }
    window->model().loadPayload(file);
    EXPECT_EQ(window->payloadDetail(), QStringLiteral("walk.json"));
    EXPECT_EQ(window->payloadSubtitle(), QStringLiteral("正確な位置 1 件 / 軌跡 0 点"));

    GeoPayload sent;
    sent.generated = utc(10, 0);
    sent.track = {GeoPoint{utc(9, 0), 35.0, 139.0, {}, {}},
                  GeoPoint{utc(9, 30), 35.1, 139.1, {}, {}}};
    QTcpSocket phone;
    QByteArray reply;
    QObject::connect(&phone, &QTcpSocket::readyRead, [&] { reply += phone.readAll(); });
    phone.connectToHost(QHostAddress::LocalHost, h.model->geo().receiver().port());
    ASSERT_TRUE(pump([&] { return phone.state() == QAbstractSocket::ConnectedState; }));
    phone.write(GeoLink::frame({QStringLiteral("iPhone 15"), sent}));
    ASSERT_TRUE(pump([&] { return reply.size() >= 2; }));
    EXPECT_EQ(reply, QByteArray("OK"));

    EXPECT_EQ(window->model().payload(), sent);
    EXPECT_EQ(window->payloadDetail(), QStringLiteral("iPhone 15 から受信"));
    EXPECT_EQ(window->payloadSubtitle(),
              QStringLiteral("正確な位置 0 件 / 軌跡 2 点 / 5/1 18:00〜5/1 18:30"));
    EXPECT_EQ(window->receiverBar()->text(),
              QStringLiteral("iPhone 15 から受信しました（21:00:00）"))
        << "the virtual clock's 12:00 UTC, in Tokyo";
    EXPECT_EQ(window->receiverBar()->symbol(), QStringLiteral("checkmark.circle.fill"));

    // A window opened later takes the store's record at once.
    auto second = open(inline_);
    EXPECT_EQ(second->payloadDetail(), QStringLiteral("iPhone 15 から受信"));
}

TEST_F(GeotagWindowTest, TheWriteButtonWaitsForTheNewestOfOverlappingScans) {
    if (!QDir(samples).exists()) GTEST_SKIP() << "no sample pictures at " << samples.toStdString();
    const QString folder = h.dir.filePath(QStringLiteral("pictures"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"exiftool-NikonD70.jpg", "exiftool-NikonD2Hs.jpg"})
        ASSERT_TRUE(QFile::copy(samples + u'/' + QString::fromLatin1(name),
                                folder + u'/' + QString::fromLatin1(name)));
    HeldQueue queue;
    auto window = open(queue);
    while (queue.size() > 0) queue.run(0);  // the version query
    h.rt.runReady();

    GeoPayload payload;
    payload.generated = utc(10, 0);
    // Both by name; the D2Hs picture carries a GPS block already.
    payload.shots[QStringLiteral("exiftool-NikonD70.jpg")] =
        GeoPoint{utc(9, 0), 35.5, 139.5, {}, {}};
    payload.shots[QStringLiteral("exiftool-NikonD2Hs.jpg")] =
        GeoPoint{utc(9, 0), 36.5, 140.5, {}, {}};
    window->model().adopt(payload, QStringLiteral("iPhone"));
    window->model().setFolder(folder);
    window->overwriteBox()->click();  // on: a second scan
    window->overwriteBox()->click();  // off again: a third
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_FALSE(window->writeButton()->isEnabled());
    EXPECT_TRUE(window->busyIndicator()->isVisibleTo(window.get()));

    queue.run(2);
    h.rt.runReady();
    EXPECT_EQ(window->rowTexts(), QStringList{"exiftool-NikonD70.jpg 35.5000, 139.5000"});
    EXPECT_EQ(window->tallyTexts(), (QStringList{"ファイル名で確定 1", "撮影時刻から推定 0",
                                                 "既に位置あり 1", "該当なし 0"}));
    EXPECT_EQ(window->writeButton()->isEnabled(), window->model().exifToolVersion().has_value());

    queue.run(1);  // the scan made with overwriting on finishes last
    h.rt.runReady();
    EXPECT_EQ(window->rowTexts(), QStringList{"exiftool-NikonD70.jpg 35.5000, 139.5000"})
        << "a stale plan would list the tagged picture for writing";
    EXPECT_FALSE(window->busyIndicator()->isVisibleTo(window.get()));
}

TEST_F(GeotagWindowTest, WritesWithExifToolIntoCopiesOfSamplesAndLeavesTaggedOnesAlone) {
    if (!QFileInfo(QStringLiteral("/usr/bin/exiftool")).isExecutable())
        GTEST_SKIP() << "no /usr/bin/exiftool";
    if (!QDir(samples).exists()) GTEST_SKIP() << "no sample pictures at " << samples.toStdString();
    const QString folder = h.dir.filePath(QStringLiteral("card import"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QFileInfo& info : QDir(samples).entryInfoList(QDir::Files)) {
        const QString copy = folder + u'/' + info.fileName();
        ASSERT_TRUE(QFile::copy(info.filePath(), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    }
    const auto bytes = [&](const QString& name) {
        QFile f(folder + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray taggedBefore = bytes(QStringLiteral("exiftool-NikonD2Hs.jpg"));
    // The camera clock shows local time: 2005:01:14 08:57:59 in Tokyo.
    const QDateTime d70 = QDateTime(QDate(2005, 1, 14), QTime(8, 57, 59), Qt::LocalTime).toUTC();

    GeoPayload payload;
    payload.generated = utc(10, 0);
    payload.shots[QStringLiteral("exifsamples-Nikon_D70.jpg")] =
        GeoPoint{utc(9, 0), 35.681236, 139.767125, 40.0, {}};
    payload.shots[QStringLiteral("hsexif-RAW_NIKON_D1.NEF")] =
        GeoPoint{utc(9, 0), -33.5, -70.25, {}, {}};
    // A cut-down raw file whose strips ExifTool finds too short: it refuses to write it.
    payload.shots[QStringLiteral("exiftool-Nikon.nef")] = GeoPoint{utc(9, 0), 51.5, -0.12, {}, {}};
    payload.shots[QStringLiteral("exiftool-NikonD2Hs.jpg")] = GeoPoint{utc(9, 0), 1.0, 2.0, {}, {}};
    payload.track = {GeoPoint{d70.addSecs(-90), 43.0621, 141.3544, {}, {}},
                     GeoPoint{d70.addSecs(400), 10.0, 10.0, {}, {}}};

    async::WorkQueue queue(QStringLiteral("geotag test"), 2);
    auto window = open(queue);
    ASSERT_TRUE(pump([&] { return window->model().exifToolVersion().has_value(); }));
    window->model().adopt(payload, QStringLiteral("iPhone"));
    window->model().setFolder(folder);
    ASSERT_TRUE(pump([&] { return !window->model().scanning(); }));
    EXPECT_EQ(window->folderDetail(), QStringLiteral("card import"));
    EXPECT_EQ(window->rowTexts(), (QStringList{"exifsamples-Nikon_D70.jpg 35.6812, 139.7671",
                                               "exiftool-Nikon.nef 51.5000, -0.1200",
                                               "exiftool-NikonD70.jpg ±90秒 43.0621, 141.3544",
                                               "hsexif-RAW_NIKON_D1.NEF -33.5000, -70.2500"}));
    EXPECT_EQ(window->tallyTexts(), (QStringList{"ファイル名で確定 3", "撮影時刻から推定 1",
                                                 "既に位置あり 1", "該当なし 4"}));
    EXPECT_EQ(window->folderSubtitle(), QStringLiteral("対象 9 件"))
        << "the two .exv files are no pictures";
    ASSERT_TRUE(window->writeButton()->isEnabled());
    window->grab().save(h.dir.filePath(QStringLiteral("geotag-scanned.png")));

    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(window->model().working());
    ASSERT_TRUE(pump([&] { return window->model().report() && !window->model().scanning(); }));
    const QStringList report = window->reportTexts();
    ASSERT_EQ(report.size(), 2);
    EXPECT_EQ(report[0], QStringLiteral("3 件に書き込みました"));
    EXPECT_TRUE(report[1].startsWith(QStringLiteral("1 件は書き込めませんでした: Error: ")))
        << report[1].toStdString();
    EXPECT_TRUE(report[1].contains(QStringLiteral("exiftool-Nikon.nef")))
        << "ExifTool's own reason, whole";
    EXPECT_EQ(window->tallyTexts(), (QStringList{"ファイル名で確定 1", "撮影時刻から推定 0",
                                                 "既に位置あり 4", "該当なし 4"}))
        << "the refused picture is still to be written";
    window->grab().save(h.dir.filePath(QStringLiteral("geotag-written.png")));

    struct Expected {
        const char* name;
        double lat, lon;
    };
    for (const Expected& e : {Expected{"exifsamples-Nikon_D70.jpg", 35.681236, 139.767125},
                              Expected{"hsexif-RAW_NIKON_D1.NEF", -33.5, -70.25},
                              Expected{"exiftool-NikonD70.jpg", 43.0621, 141.3544}}) {
        SCOPED_TRACE(e.name);
        QProcess exiftool;
        exiftool.start(
            QStringLiteral("/usr/bin/exiftool"),
            {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-GPSLatitude"),
             QStringLiteral("-GPSLongitude"), folder + u'/' + QString::fromLatin1(e.name)});
        ASSERT_TRUE(exiftool.waitForFinished(30000));
        const QStringList lines = QString::fromUtf8(exiftool.readAllStandardOutput()).split(u'\n');
        ASSERT_GE(lines.size(), 2);
        EXPECT_NEAR(lines[0].toDouble(), e.lat, 1e-6);
        EXPECT_NEAR(lines[1].toDouble(), e.lon, 1e-6);
    }
    EXPECT_EQ(bytes(QStringLiteral("exiftool-NikonD2Hs.jpg")), taggedBefore)
        << "already tagged, and overwriting was off";
}

}  // namespace
}  // namespace pexil::shell
