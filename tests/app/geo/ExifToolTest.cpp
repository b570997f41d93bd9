#include "app/geo/ExifTool.h"
#include "tests/app/geo/PictureFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>
#include <random>

namespace pexil {
namespace {

const QDateTime someTime(QDate(2024, 5, 1), QTime(3, 0), QTimeZone::utc());

GeoPoint at(double lat, double lon, std::optional<double> alt = std::nullopt) {
    return GeoPoint{someTime, lat, lon, alt, std::nullopt};
}

GeoWriter::Match matchOf(const QString& path, const GeoPoint& point) {
    return GeoWriter::Match{path, point, true, std::nullopt, std::nullopt};
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Collects what apply() says, to compare whole.
struct Heard {
    QStringList log;
    std::vector<std::pair<int, int>> progress;
    ExifTool::LogSink sink() {
        return [this](const QString& line) { log << line; };
    }
    ExifTool::Progress onProgress() {
        return [this](int done, int total) { progress.emplace_back(done, total); };
    }
};

class ExifToolTest : public ::testing::Test {
protected:
    QString picture(const QString& name, const QByteArray& bytes = testing::jpeg()) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(testing::writeFile(path, bytes));
        return path;
    }
    // A stand-in for ExifTool, run by the same Perl.
    ExifTool fake(const QString& name, const QByteArray& perlSource) {
        const QString path = tools.filePath(name);
        EXPECT_TRUE(testing::writeFile(path, perlSource));
        return ExifTool{path, tools.filePath(QStringLiteral("lib"))};
    }
    ExifTool real() {
        const auto found = ExifTool::locate();
        EXPECT_TRUE(found) << "these tests need an ExifTool installation (libimage-exiftool-perl)";
        return found.value_or(ExifTool{});
    }

    QTemporaryDir dir;
    QTemporaryDir tools;
    QTemporaryDir scratch;  // the argument file's directory
};

TEST(ExifToolArguments, NumbersAreShortestPlainDecimals) {
    EXPECT_EQ(ExifTool::number(139.0), QStringLiteral("139.0"));
    EXPECT_EQ(ExifTool::number(35.681236), QStringLiteral("35.681236"));
    EXPECT_EQ(ExifTool::number(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(ExifTool::number(0.1 + 0.2), QStringLiteral("0.30000000000000004"));
    EXPECT_EQ(ExifTool::number(0.0), QStringLiteral("0.0"));
    EXPECT_EQ(ExifTool::number(1e20), QStringLiteral("100000000000000000000.0"));

    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> degrees(0, 180);
    std::uniform_int_distribution<int> scale(-12, 6);
    for (int i = 0; i < 20000; ++i) {
        const double value = degrees(random) * std::pow(10.0, scale(random));
        const QString text = ExifTool::number(value);
        ASSERT_EQ(text.toDouble(), value) << text.toStdString();
        ASSERT_TRUE(text.contains(u'.')) << text.toStdString();
        ASSERT_FALSE(text.contains(u'e')) << text.toStdString();
        // Shortest: one digit less no longer reads back.
        if (text.endsWith(QLatin1String(".0"))) continue;
        ASSERT_NE(text.chopped(1).toDouble(), value) << text.toStdString();
    }
}

TEST(ExifToolArguments, SignsBecomeReferencesAndAltitudeIsOptional) {
    EXPECT_EQ(
        ExifTool::tagArguments(at(-33.5, -70.25, -12.0)),
        (QStringList{QStringLiteral("-GPSLatitude=33.5"), QStringLiteral("-GPSLatitudeRef=S"),
                     QStringLiteral("-GPSLongitude=70.25"), QStringLiteral("-GPSLongitudeRef=W"),
                     QStringLiteral("-GPSAltitude=12.0"), QStringLiteral("-GPSAltitudeRef#=1")}));
    EXPECT_EQ(
        ExifTool::tagArguments(at(35.681236, 139.0, 0.0)),
        (QStringList{QStringLiteral("-GPSLatitude=35.681236"), QStringLiteral("-GPSLatitudeRef=N"),
                     QStringLiteral("-GPSLongitude=139.0"), QStringLiteral("-GPSLongitudeRef=E"),
                     QStringLiteral("-GPSAltitude=0.0"), QStringLiteral("-GPSAltitudeRef#=0")}));
    EXPECT_EQ(
        ExifTool::tagArguments(at(0.0, -0.0)),
        (QStringList{QStringLiteral("-GPSLatitude=0.0"), QStringLiteral("-GPSLatitudeRef=N"),
                     QStringLiteral("-GPSLongitude=0.0"), QStringLiteral("-GPSLongitudeRef=E")}));
}

TEST(ExifToolArguments, OnlyArgumentsALineCannotCarryBecomeCStrings) {
    const auto line = [](const char* text) {
        return ExifTool::argumentFileLine(QString::fromUtf8(text));
    };
    EXPECT_EQ(line("/photos/DSC 0001.jpg"), QStringLiteral("/photos/DSC 0001.jpg"));
    EXPECT_EQ(line("/photos/$HOME@x\\n.jpg"), QStringLiteral("/photos/$HOME@x\\n.jpg"));
    EXPECT_EQ(line("/p/a\n-Copyright=X\n-d"), QStringLiteral("#[CSTR]/p/a\\n-Copyright=X\\n-d"));
    EXPECT_EQ(line("/p/q\\\"z\r\tw.jpg"), QStringLiteral("#[CSTR]/p/q\\\\\\\"z\\r\\tw.jpg"));
    EXPECT_EQ(line(" lead.jpg"), QStringLiteral("#[CSTR] lead.jpg"));
    EXPECT_EQ(line("#hash.jpg"), QStringLiteral("#[CSTR]#hash.jpg"));
    EXPECT_EQ(line(""), QStringLiteral("#[CSTR]"));
    EXPECT_EQ(line("/p/cost$5\n.jpg"), std::nullopt);
    EXPECT_EQ(line("/p/at@\r.jpg"), std::nullopt);
}

TEST_F(ExifToolTest, LocatePrefersTheBundledCopyThenExecutableSystemScripts) {
    QDir root(tools.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("res/exiftool")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("dir-not-script")));
    const QString bundled = root.filePath(QStringLiteral("res/exiftool/exiftool"));
    ASSERT_TRUE(testing::writeFile(bundled, "#!/usr/bin/perl\n"));
    QFile::setPermissions(bundled, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString notExecutable = root.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(testing::writeFile(notExecutable, "#!/usr/bin/perl\n"));
    QFile::setPermissions(notExecutable, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString executable = root.filePath(QStringLiteral("exiftool"));
    ASSERT_TRUE(testing::writeFile(executable, "#!/usr/bin/perl\n"));
    QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    const QStringList system{root.filePath(QStringLiteral("missing")), notExecutable,
                             root.filePath(QStringLiteral("dir-not-script")), executable};
    const auto withBundle = ExifTool::locate({root.filePath(QStringLiteral("res")), system});
    ASSERT_TRUE(withBundle);
    EXPECT_EQ(withBundle->script, bundled);
    EXPECT_EQ(withBundle->libDirectory, root.filePath(QStringLiteral("res/exiftool/lib")));

    const auto withoutBundle = ExifTool::locate({root.filePath(QStringLiteral("empty")), system});
    ASSERT_TRUE(withoutBundle);
    EXPECT_EQ(withoutBundle->script, executable);
    EXPECT_EQ(withoutBundle->libDirectory, QStringLiteral("/"));

    EXPECT_FALSE(ExifTool::locate({QString(), {notExecutable}}));
    EXPECT_FALSE(ExifTool::locate({}));
}

TEST_F(ExifToolTest, RunDrainsBothPipesAndReportsWhatTheChildDid) {
    const ExifTool noisy = fake(QStringLiteral("noisy"), R"(
        $| = 1;
        my $line = <STDIN>;
        print defined $line ? "input\n" : "no input\n";
        print "lib=$ENV{PERL5LIB} mark=$ENV{PEXIL_TEST_MARK} args=@ARGV\n";
        # Far more than a pipe holds, alternating, so a reader blocked on one pipe would hang.
        for my $i (1 .. 64) { print "o" x 16384; print STDERR "e" x 16384; }
        print "\n\xff\n";
        print STDERR "  \n";
        exit 7;
    )");
    qputenv("PERL5LIB", "/somewhere/else");
    qputenv("PEXIL_TEST_MARK", "kept");
    const auto out = noisy.run({QStringLiteral("-a"), QStringLiteral("b c")});
    qunsetenv("PERL5LIB");
    qunsetenv("PEXIL_TEST_MARK");

    EXPECT_EQ(out.status, 7);
    const QStringList lines = out.output.split(u'\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("no input"));
    EXPECT_EQ(lines[1], QStringLiteral("lib=") + noisy.libDirectory +
                            QStringLiteral(" mark=kept args=-a b c"));
    EXPECT_EQ(lines[2], QString(64 * 16384, u'o'));
    EXPECT_EQ(lines[3], QString(QChar::ReplacementCharacter));
    EXPECT_TRUE(out.output.endsWith(u'\n'));          // output is not trimmed
    EXPECT_EQ(out.error, QString(64 * 16384, u'e'));  // error is
}

TEST_F(ExifToolTest, ANonStartingInterpreterGivesStatusMinusOneAndWhy) {
    ExifTool broken = fake(QStringLiteral("never"), "print 1;");
    broken.perl = tools.filePath(QStringLiteral("no-perl-here"));
    const auto out = broken.run({QStringLiteral("-ver")});
    EXPECT_EQ(out.status, -1);
    EXPECT_TRUE(out.output.isEmpty());
    EXPECT_FALSE(out.error.isEmpty());
    EXPECT_EQ(broken.version(), std::nullopt);

    // Every picture then fails with that description, logged once.
    const QString photo = picture(QStringLiteral("a.jpg"));
    Heard heard;
    const auto report =
        broken.write({matchOf(photo, at(1, 2))}, heard.onProgress(), heard.sink(), scratch.path());
    EXPECT_TRUE(report.written.isEmpty());
    EXPECT_EQ(report.failed,
              (std::vector<GeoWriter::Failure>{{QStringLiteral("a.jpg"), out.error}}));
    EXPECT_EQ(heard.log, (QStringList{QStringLiteral("位置情報の書き込み開始: 1 件"),
                                      QStringLiteral("exiftool 終了: status -1 / ") + out.error,
                                      QStringLiteral("書き込み完了: 成功 0 / 失敗 1")}));
}

TEST_F(ExifToolTest, VersionIsTheTrimmedOutputOrNone) {
    const auto version = real().version();
    ASSERT_TRUE(version);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+$")).match(*version).hasMatch())
        << version->toStdString();
    EXPECT_EQ(fake(QStringLiteral("blank"), "print \"  \\n\\n\"; exit 1;").version(), std::nullopt);
    EXPECT_EQ(fake(QStringLiteral("v"), "print \" 13.01\\n\"; exit 2;").version(),
              QStringLiteral("13.01"));
}

TEST_F(ExifToolTest, OneRunOverOneArgumentFileThatIsRemovedAfterwards) {
    const ExifTool recorder = fake(QStringLiteral("recorder"), R"(
        open(my $argv, '>', "$0.argv") or die; print $argv join("\n", @ARGV); close $argv;
        open(my $in, '<', $ARGV[1]) or die; local $/; my $text = <$in>;
        open(my $copy, '>', "$0.argfile") or die; print $copy $text; close $copy;
        open(my $runs, '>>', "$0.runs") or die; print $runs "run\n"; close $runs;
        print STDERR "\n  Warning: something  \n";
        exit 3;
    )");
    const QString a = picture(QStringLiteral("a.jpg"));
    const QString b = picture(QStringLiteral("b b.jpg"));
    const QString c = picture(QStringLiteral("c.jpg"));
    Heard heard;
    const auto report = recorder.write(
        {matchOf(a, at(-33.5, -70.25, -12.0)), matchOf(b, at(1, 2)), matchOf(c, at(3, 4, 5))},
        heard.onProgress(), heard.sink(), scratch.path());

    EXPECT_EQ(readText(recorder.script + QStringLiteral(".runs")), QStringLiteral("run\n"));
    const QStringList argv = readText(recorder.script + QStringLiteral(".argv")).split(u'\n');
    ASSERT_EQ(argv.size(), 4);
    EXPECT_EQ(argv[0], QStringLiteral("-@"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/pexil-geo-[0-9a-f-]{36}\\.args$"))
                    .match(argv[1])
                    .hasMatch())
        << argv[1].toStdString();
    EXPECT_EQ(QFileInfo(argv[1]).absolutePath(), QFileInfo(scratch.path()).absoluteFilePath());
    EXPECT_EQ(argv.mid(2), (QStringList{QStringLiteral("-common_args"), QStringLiteral("-q")}));
    EXPECT_EQ(readText(recorder.script + QStringLiteral(".argfile")),
              QStringList({QStringLiteral("-GPSLatitude=33.5"),
                           QStringLiteral("-GPSLatitudeRef=S"),
                           QStringLiteral("-GPSLongitude=70.25"),
                           QStringLiteral("-GPSLongitudeRef=W"),
                           QStringLiteral("-GPSAltitude=12.0"),
                           QStringLiteral("-GPSAltitudeRef#=1"),
                           QStringLiteral("-overwrite_original"),
                           a,
                           QStringLiteral("-execute"),
                           QStringLiteral("-GPSLatitude=1.0"),
                           QStringLiteral("-GPSLatitudeRef=N"),
                           QStringLiteral("-GPSLongitude=2.0"),
                           QStringLiteral("-GPSLongitudeRef=E"),
                           QStringLiteral("-overwrite_original"),
                           b,
                           QStringLiteral("-execute"),
                           QStringLiteral("-GPSLatitude=3.0"),
                           QStringLiteral("-GPSLatitudeRef=N"),
                           QStringLiteral("-GPSLongitude=4.0"),
                           QStringLiteral("-GPSLongitudeRef=E"),
                           QStringLiteral("-GPSAltitude=5.0"),
                           QStringLiteral("-GPSAltitudeRef#=0"),
                           QStringLiteral("-overwrite_original"),
                           c,
                           QStringLiteral("-execute")})
                  .join(u'\n'));
    EXPECT_TRUE(QDir(scratch.path()).isEmpty());

    // Nothing was written: each picture fails with ExifTool's whole (trimmed) message.
    const QString why = QStringLiteral("Warning: something");
    EXPECT_EQ(report.failed, (std::vector<GeoWriter::Failure>{{QStringLiteral("a.jpg"), why},
                                                              {QStringLiteral("b b.jpg"), why},
                                                              {QStringLiteral("c.jpg"), why}}));
    EXPECT_TRUE(report.written.isEmpty() && report.skippedNoMatch.isEmpty() &&
                report.alreadyTagged.isEmpty());
    EXPECT_EQ(heard.log, (QStringList{QStringLiteral("位置情報の書き込み開始: 3 件"),
                                      QStringLiteral("exiftool 終了: status 3 / ") + why,
                                      QStringLiteral("書き込み完了: 成功 0 / 失敗 3")}));
    EXPECT_EQ(heard.progress, (std::vector<std::pair<int, int>>{{0, 3}, {3, 3}}));
}

TEST_F(ExifToolTest, APictureThatAlreadyCarriesGPSCountsAsWrittenAndLongErrorsAreCutOnlyInTheLog) {
    // 500 characters, 50 of them beyond U+FFFF (two UTF-16 units each).
    QString error;
    for (int i = 0; i < 50; ++i)
        error += QStringLiteral("エラー") + QString::number(i % 10) + QStringLiteral("😀 x ");
    error += QString(100, u'.');
    ASSERT_EQ(error.toUcs4().size(), 500);
    const ExifTool failing =
        fake(QStringLiteral("failing"), "print STDERR \"" + error.toUtf8() + "\\n\"; exit 1;");
    testing::PictureSpec tagged;
    tagged.gps = true;
    const QString before = picture(QStringLiteral("tagged.jpg"), testing::jpeg(tagged));
    const QString plain = picture(QStringLiteral("plain.jpg"));
    Heard heard;
    const auto report = failing.write({matchOf(plain, at(1, 1)), matchOf(before, at(2, 2))}, {},
                                      heard.sink(), scratch.path());
    EXPECT_EQ(report.written, QStringList{QStringLiteral("tagged.jpg")});
    ASSERT_EQ(report.failed.size(), 1U);
    EXPECT_EQ(report.failed[0].name, QStringLiteral("plain.jpg"));
    EXPECT_EQ(report.failed[0].reason, error);
    ASSERT_EQ(heard.log.size(), 3);
    // The first 200 characters, not UTF-16 units: no pair is cut in half.
    QString first200;
    int characters = 0;
    for (qsizetype i = 0; characters < 200; ++characters) {
        const qsizetype width = error[i].isHighSurrogate() ? 2 : 1;
        first200 += error.mid(i, width);
        i += width;
    }
    EXPECT_EQ(heard.log[1], QStringLiteral("exiftool 終了: status 1 / ") + first200);
    EXPECT_EQ(heard.log[2], QStringLiteral("書き込み完了: 成功 1 / 失敗 1"));
}

TEST_F(ExifToolTest, AnArgumentFileThatCannotBeWrittenFailsEveryPictureWithoutRunning) {
    const ExifTool marker = fake(QStringLiteral("marker"), "open(my $f, '>', \"$0.ran\"); exit 0;");
    testing::PictureSpec tagged;
    tagged.gps = true;
    const QString a = picture(QStringLiteral("a.jpg"), testing::jpeg(tagged));
    const QString b = picture(QStringLiteral("b.jpg"));
    Heard heard;
    const auto report =
        marker.write({matchOf(a, at(1, 1)), matchOf(b, at(2, 2))}, heard.onProgress(), heard.sink(),
                     scratch.filePath(QStringLiteral("no/such/dir")));
    const QString why = QStringLiteral("作業ファイルを作れません");
    EXPECT_EQ(report.failed, (std::vector<GeoWriter::Failure>{{QStringLiteral("a.jpg"), why},
                                                              {QStringLiteral("b.jpg"), why}}));
    EXPECT_TRUE(report.written.isEmpty());
    EXPECT_FALSE(QFile::exists(marker.script + QStringLiteral(".ran")));
    ASSERT_EQ(heard.log.size(), 2);
    EXPECT_EQ(heard.log[0], QStringLiteral("位置情報の書き込み開始: 2 件"));
    EXPECT_TRUE(heard.log[1].startsWith(why + QStringLiteral(": "))) << heard.log[1].toStdString();
    EXPECT_EQ(heard.progress, (std::vector<std::pair<int, int>>{{0, 2}, {2, 2}}));
}

TEST_F(ExifToolTest, WithoutExifToolEveryPictureFailsAndNothingIsLogged) {
    const QString a = picture(QStringLiteral("a.jpg"));
    Heard heard;
    const auto report = ExifTool::apply(
        {matchOf(a, at(1, 1)), matchOf(dir.filePath(QStringLiteral("b.nef")), at(2, 2))},
        heard.onProgress(), heard.sink(), ExifTool::Places{});
    const QString why = QStringLiteral("exiftool が見つかりません");
    EXPECT_EQ(report.failed, (std::vector<GeoWriter::Failure>{{QStringLiteral("a.jpg"), why},
                                                              {QStringLiteral("b.nef"), why}}));
    EXPECT_TRUE(report.written.isEmpty());
    EXPECT_TRUE(heard.log.isEmpty());

    // An empty batch is an empty report whatever is installed, and says nothing.
    Heard quiet;
    EXPECT_EQ(ExifTool::apply({}, quiet.onProgress(), quiet.sink(), ExifTool::Places{}),
              GeoWriter::Report{});
    EXPECT_EQ(real().write({}, quiet.onProgress(), quiet.sink(), scratch.path()),
              GeoWriter::Report{});
    EXPECT_TRUE(quiet.log.isEmpty());
    EXPECT_TRUE(quiet.progress.empty());
}

TEST_F(ExifToolTest, PositionsReadBackAsWrittenInJpegAndTiff) {
    testing::PictureSpec big;
    big.bigEndian = true;
    big.dateTimeOriginal = QByteArray("2024:05:01 12:00:00");
    const QString jpeg = picture(QStringLiteral("DSC_0001.JPG"));
    const QString tiffBig = picture(QStringLiteral("DSC_0002.TIF"), testing::tiff(big));
    const QString tiffLittle = picture(QStringLiteral("DSC_0003.tiff"), testing::tiff());
    const std::vector<GeoWriter::Match> matches{
        matchOf(jpeg, at(35.681236, 139.767125, 40.5)),
        matchOf(tiffBig, at(-33.5, -70.25, -12.0)),  // below sea level stays below
        matchOf(tiffLittle, at(51.477928, -0.001545))};
    Heard heard;
    const auto report = real().write(matches, heard.onProgress(), heard.sink(), scratch.path());

    EXPECT_EQ(report.written,
              (QStringList{QStringLiteral("DSC_0001.JPG"), QStringLiteral("DSC_0002.TIF"),
                           QStringLiteral("DSC_0003.tiff")}));
    EXPECT_TRUE(report.failed.empty());
    for (const auto& m : matches) {
        SCOPED_TRACE(m.url.toStdString());
        const auto back = testing::readBack(m.url);
        ASSERT_TRUE(back.lat && back.lon);
        EXPECT_NEAR(*back.lat, m.point.lat, 1e-7);
        EXPECT_NEAR(*back.lon, m.point.lon, 1e-7);
        EXPECT_EQ(back.alt.has_value(), m.point.alt.has_value());
        if (back.alt && m.point.alt) {
            EXPECT_NEAR(*back.alt, *m.point.alt, 1e-7);
        }
        EXPECT_TRUE(GeoWriter::hasGPS(m.url));
    }
    // The picture's own metadata survives the rewrite.
    EXPECT_EQ(GeoWriter::captureDate(tiffBig, QTimeZone::utc()),
              QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc()));
    EXPECT_EQ(heard.log, (QStringList{QStringLiteral("位置情報の書き込み開始: 3 件"),
                                      QStringLiteral("exiftool 終了: status 0"),
                                      QStringLiteral("書き込み完了: 成功 3 / 失敗 0")}));
    EXPECT_TRUE(QDir(scratch.path()).isEmpty());
}

TEST_F(ExifToolTest, APositionOffTheEarthIsNeverWrittenAndTheReportSaysWhy) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        GeoPoint point;
        const char16_t* reason;
    };
    const std::vector<Case> refused{
        {"lat91.jpg", at(91.5, 1), u"書き込みません: 緯度 91.5 が範囲外です（-90〜90）"},
        {"south.jpg", at(-90.0001, 1), u"書き込みません: 緯度 -90.0001 が範囲外です（-90〜90）"},
        {"lon181.jpg", at(1, 181), u"書き込みません: 経度 181 が範囲外です（-180〜180）"},
        {"far-west.jpg", at(1, -1e300), u"書き込みません: 経度 -1e+300 が範囲外です（-180〜180）"},
        {"nan.jpg", at(nan, 1), u"書き込みません: 緯度 nan が範囲外です（-90〜90）"},
        {"inf.jpg", at(1, inf), u"書き込みません: 経度 inf が範囲外です（-180〜180）"},
        {"deep.jpg", at(1, 1, -inf), u"書き込みません: 標高 -inf が数ではありません"},
    };
    testing::PictureSpec tagged;
    tagged.gps = true;
    std::vector<GeoWriter::Match> matches{
        matchOf(picture(QStringLiteral("good.jpg")), at(90, -180))};
    std::vector<GeoWriter::Failure> expected;
    for (const Case& c : refused) {
        matches.push_back(matchOf(picture(QString::fromUtf8(c.name)), c.point));
        expected.push_back({QString::fromUtf8(c.name), QString::fromUtf16(c.reason)});
    }
    // A picture tagged before does not count as written with a point that was refused.
    matches.push_back(
        matchOf(picture(QStringLiteral("tagged.jpg"), testing::jpeg(tagged)), at(91.5, 1)));
    expected.push_back({QStringLiteral("tagged.jpg"),
                        QStringLiteral("書き込みません: 緯度 91.5 が範囲外です（-90〜90）")});

    Heard heard;
    const auto report = real().write(matches, heard.onProgress(), heard.sink(), scratch.path());
    EXPECT_EQ(report.written, QStringList{QStringLiteral("good.jpg")});
    EXPECT_EQ(report.failed, expected);
    for (std::size_t i = 1; i + 1 < matches.size(); ++i) {
        SCOPED_TRACE(matches[i].url.toStdString());
        EXPECT_FALSE(GeoWriter::hasGPS(matches[i].url)) << "nothing may have been written";
    }
    EXPECT_EQ(heard.log.last(), QStringLiteral("書き込み完了: 成功 1 / 失敗 8"));

    {
        SCOPED_TRACE("only refused points: ExifTool is not run at all");
        const ExifTool marker =
            fake(QStringLiteral("marker"), "open(my $f, '>', \"$0.ran\"); exit 0;");
        Heard alone;
        const auto onlyRefused =
            marker.write({matches[1]}, alone.onProgress(), alone.sink(), scratch.path());
        EXPECT_EQ(onlyRefused.failed, std::vector<GeoWriter::Failure>{expected[0]});
        EXPECT_FALSE(QFile::exists(marker.script + QStringLiteral(".ran")));
        EXPECT_TRUE(alone.log.filter(QStringLiteral("exiftool 終了")).isEmpty());
    }
}

TEST_F(ExifToolTest, PicturesExifToolCannotWriteFailWithItsMessage) {
    testing::PictureSpec tagged;
    tagged.gps = true;
    const QByteArray whole = testing::jpeg(tagged);
    // Cut after the EXIF block: the GPS data is readable, the picture cannot be rewritten.
    const QString cut = picture(QStringLiteral("cut.jpg"), whole.left(whole.indexOf("\xFF\xDB")));
    const QString broken = picture(QStringLiteral("broken.jpg"), "this is no JPEG");
    const QString gone = dir.filePath(QStringLiteral("gone.jpg"));
    const QString good = picture(QStringLiteral("good.jpg"));
    Heard heard;
    const auto report = real().write({matchOf(broken, at(1, 1)), matchOf(good, at(2, 2)),
                                      matchOf(gone, at(3, 3)), matchOf(cut, at(4, 4))},
                                     {}, heard.sink(), scratch.path());

    EXPECT_EQ(report.written, (QStringList{QStringLiteral("good.jpg"), QStringLiteral("cut.jpg")}));
    ASSERT_EQ(report.failed.size(), 2U);
    EXPECT_EQ(report.failed[0].name, QStringLiteral("broken.jpg"));
    EXPECT_EQ(report.failed[1].name, QStringLiteral("gone.jpg"));
    const QString why = report.failed[0].reason;
    EXPECT_EQ(report.failed[1].reason, why);  // one run, one message for all
    EXPECT_TRUE(why.contains(QStringLiteral("broken.jpg")) &&
                why.contains(QStringLiteral("gone.jpg")) && why.contains(QStringLiteral("cut.jpg")))
        << why.toStdString();
    EXPECT_NEAR(testing::readBack(good).lat.value_or(0), 2, 1e-9);
    EXPECT_EQ(readBytes(cut), whole.left(whole.indexOf("\xFF\xDB")));  // untouched
    ASSERT_EQ(heard.log.size(), 3);
    EXPECT_TRUE(heard.log[1].startsWith(QStringLiteral("exiftool 終了: status 1 / ")));
    EXPECT_EQ(heard.log[2], QStringLiteral("書き込み完了: 成功 2 / 失敗 2"));
}

TEST_F(ExifToolTest, FileNamesWithLineBreaksAreTaggedWithoutInjectingOptions) {
    // Written plainly, this name ends the line early, sets Copyright and makes "-d" swallow
    // the "-execute" that follows, so the next picture would be tagged with Copyright=X.
    const QString injecting = picture(QString::fromUtf8("x\n-Copyright=X\n-d"));
    const QString other = picture(QStringLiteral("other.jpg"));
    const QString escapes = picture(QString::fromUtf8("q\\\"z\r\tw.jpg"));
    const QString dollar = picture(QString::fromUtf8("cost$5\n@home.jpg"));
    const QString plainDollar = picture(QString::fromUtf8("$HOME@x.jpg"));
    const QString last = picture(QStringLiteral("last.jpg"));
    const std::vector<GeoWriter::Match> matches{
        matchOf(injecting, at(10, 10)),   matchOf(other, at(20, 20)),
        matchOf(escapes, at(30, 30, 3)),  matchOf(dollar, at(40, 40)),
        matchOf(plainDollar, at(50, 50)), matchOf(last, at(60, 60))};
    Heard heard;
    const auto report = real().write(matches, {}, heard.sink(), scratch.path());

    QStringList names;
    for (const auto& m : matches) names << QFileInfo(m.url).fileName();
    EXPECT_EQ(report.written, names);
    EXPECT_TRUE(report.failed.empty());
    for (const auto& m : matches) {
        SCOPED_TRACE(m.url.toStdString());
        const auto back = testing::readBack(m.url);
        EXPECT_NEAR(back.lat.value_or(0), m.point.lat, 1e-9);
        EXPECT_NEAR(back.lon.value_or(0), m.point.lon, 1e-9);
        EXPECT_TRUE(back.copyright.isEmpty()) << back.copyright.toStdString();
    }
    // The name with both a line break and "$"/"@" went to a run of its own.
    EXPECT_EQ(heard.log, (QStringList{QStringLiteral("位置情報の書き込み開始: 6 件"),
                                      QStringLiteral("exiftool 終了: status 0"),
                                      QStringLiteral("exiftool 終了: status 0"),
                                      QStringLiteral("書き込み完了: 成功 6 / 失敗 0")}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 6);  // no leftovers
}

}  // namespace
}  // namespace pexil
