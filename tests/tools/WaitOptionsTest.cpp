// --io-timeout of pexilctl camera and tether, --stall-after of the virtual camera: a wrong
// value stops the command before it looks for a camera, with one line that names it.
#include "tools/pexilctl/CameraCommand.h"
#include "tools/pexilctl/TetherCommand.h"

#include "support/CommandRun.h"

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

using testing::runCommand;

TEST(WaitOptions, WrongValuesAreRefusedWithOneLineNamingTheOption) {
    struct Case {
        int (*command)(const QStringList&, CommandIO);
        QStringList args;
        const char* says;
    };
    const auto camera = [](QStringList rest) {
        return QStringList{QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:1")} +
               rest;
    };
    const std::vector<Case> cases{
        {runCamera, camera({"--io-timeout", "0", "summary"}),
         "--io-timeout は 1 から 3600 までの秒数"},
        {runCamera, camera({"--io-timeout", "-5", "summary"}),
         "--io-timeout は 1 から 3600 までの秒数"},
        {runCamera, camera({"--io-timeout", "soon", "summary"}),
         "--io-timeout は 1 から 3600 までの秒数"},
        {runCamera, camera({"--io-timeout", "3601", "summary"}),
         "--io-timeout は 1 から 3600 までの秒数"},
        {runCamera, camera({"--io-timeout", "nan", "summary"}),
         "--io-timeout は 1 から 3600 までの秒数"},
        {runCamera, camera({"summary", "--io-timeout"}), "--io-timeout には値が必要です"},
        {runTether, camera({"--io-timeout", "0.5"}),
         "pexilctl tether: --io-timeout は 1 から 3600"},
        {runVcam, {"--stall-after", "-1"}, "--stall-after にはバイト数"},
        {runVcam, {"--stall-after", "3MB"}, "--stall-after にはバイト数"},
        {runTether, {"--camera", "virtual", "--stall-after", "x"}, "--stall-after にはバイト数"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const auto outcome = runCommand(c.command, c.args);
        EXPECT_EQ(outcome.code, 2);
        EXPECT_EQ(outcome.err.count(u'\n'), 1) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains(QString::fromUtf8(c.says))) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.out.isEmpty());
    }
}

TEST(WaitOptions, TheHelpNamesThem) {
    EXPECT_TRUE(cameraHelp().contains(QStringLiteral("--io-timeout SECONDS")));
    EXPECT_TRUE(tetherHelp().contains(QStringLiteral("--io-timeout SECONDS")));
    EXPECT_TRUE(vcamHelp().contains(QStringLiteral("--stall-after BYTES")));
}

}  // namespace
}  // namespace pexil::cli
