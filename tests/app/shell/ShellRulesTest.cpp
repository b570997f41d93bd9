// The main window's texts and the camera menu's enabling rules, as tables.
#include "app/shell/main/CameraCommand.h"
#include "app/shell/LaunchOptions.h"
#include "app/shell/ShellTexts.h"

#include <gtest/gtest.h>

namespace pexil::shell {
namespace {

using S = ConnectionState;
const Warmup nikon{Warmup::Kind::system, QStringLiteral("D850")};
const Warmup card{Warmup::Kind::card, QStringLiteral("D850")};

std::string str(const QString& s) { return s.toStdString(); }

TEST(ShellTexts, statusAndSummaryFollowStateAndWarmup) {
    struct Row {
        S state;
        std::optional<Warmup> warmup;
        const char* status;
        const char* summary;
    };
    const Row rows[] = {
        {S::waiting(), std::nullopt, "カメラを待っています", "カメラを待っています"},
        {S::waiting(QStringLiteral("ケーブルが抜けました")), nikon, "カメラを待っています", "カメラを待っています"},
        {S::connected(QStringLiteral("Nikon D850")), std::nullopt, "Nikon D850", "Nikon D850"},
        {S::connected(QStringLiteral("Nikon D850")), card, "Nikon D850", "Nikon D850"},
        {S::failed(QStringLiteral("開けません")), std::nullopt, "未接続", "未接続"},
        {S::disconnected(), nikon, "未接続", "未接続"},
        {S::connecting(), std::nullopt, "接続中…", "接続中…"},
        {S::connecting(), nikon, "D850 を準備中…", "D850"},
        {S::connecting(), card, "カードを確認中…", "D850"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(str(ShellTexts::status(row.state, row.warmup)), row.status);
        EXPECT_EQ(str(ShellTexts::summaryTitle(row.state, row.warmup)), row.summary);
    }
}

TEST(ShellTexts, menuDetailAndPlaceholders) {
    EXPECT_EQ(str(*ShellTexts::menuDetail(S::waiting())),
              "USB でつないで、カメラの電源を入れてください。見つかると自動でつながります");
    EXPECT_EQ(str(*ShellTexts::menuDetail(S::connecting())), "電源を入れた直後は、つながるまで 1 分ほどかかることがあります");
    EXPECT_EQ(str(*ShellTexts::menuDetail(S::failed(QStringLiteral("理由")))), "理由");
    EXPECT_FALSE(ShellTexts::menuDetail(S::connected(QStringLiteral("D850"))));
    EXPECT_FALSE(ShellTexts::menuDetail(S::disconnected()));

    EXPECT_EQ(str(ShellTexts::previewEmpty(S::connected(QStringLiteral("D850")))), "カメラのシャッターを押すと、ここに表示されます");
    EXPECT_EQ(str(ShellTexts::previewEmpty(S::waiting())), "カメラを待っています");
    EXPECT_EQ(str(ShellTexts::previewEmpty(S::disconnected())), "カメラを USB で接続してください");
    EXPECT_EQ(str(ShellTexts::inspectorPlaceholder(S::connecting())), "つながると、ここで露出や画質を変えられます。");
    EXPECT_EQ(str(ShellTexts::inspectorPlaceholder(S::waiting())), "カメラをつなぐと、ここで露出や画質を変えられます。");
}

TEST(ShellTexts, warmupTextChangesOnlyAfterTwoMinutes) {
    EXPECT_EQ(str(ShellTexts::warmupTitle(nikon)), "D850 を準備しています");
    EXPECT_EQ(str(ShellTexts::warmupTitle(card)), "カードを確認中");
    const QString patient = ShellTexts::warmupDetail(0);
    EXPECT_TRUE(patient.contains(QStringLiteral("1 分ほど")));
    EXPECT_EQ(ShellTexts::warmupDetail(120), patient);
    EXPECT_TRUE(ShellTexts::warmupDetail(120.5).startsWith(QStringLiteral("時間がかかっています")));
    for (const auto& [seconds, text] : {std::pair{0.0, "0:00"}, {65.9, "1:05"}, {720, "12:00"}, {3723, "1:02:03"}, {-3, "0:00"}})
        EXPECT_EQ(str(ShellTexts::elapsedText(seconds)), text) << seconds;
}

TEST(ShellTexts, warningPrefersTheDestinationProblem) {
    EXPECT_FALSE(ShellTexts::warning(std::nullopt, {}));
    EXPECT_EQ(str(*ShellTexts::warning(std::nullopt, {QStringLiteral("DSC_0001.JPG"), QStringLiteral("DSC_0002.NEF")})),
              "転送できなかったコマ: DSC_0001.JPG, DSC_0002.NEF  — カメラのカードには残っています");
    EXPECT_EQ(str(*ShellTexts::warning(QStringLiteral("保存先に書き込めません: /x"), {QStringLiteral("A.JPG")})),
              "保存先に書き込めません: /x");
    // A damaged import record is told when no picture is at stake.
    const QString ledger = QStringLiteral("取り込みの控えを保存できない: x");
    EXPECT_EQ(str(*ShellTexts::warning(std::nullopt, {}, ledger)), str(ledger));
    EXPECT_EQ(str(*ShellTexts::warning(std::nullopt, {QStringLiteral("A.JPG")}, ledger)),
              "転送できなかったコマ: A.JPG  — カメラのカードには残っています");
}

TEST(ShellTexts, batteryThresholds) {
    struct Row {
        std::int64_t level;
        const char* symbol;
        bool low;
        const char* range;
    };
    const Row rows[] = {
        {100, "battery.100percent", false, "満充電"}, {81, "battery.100percent", false, "62〜81%"},
        {80, "battery.75percent", false, "61〜80%"},  {61, "battery.75percent", false, "42〜61%"},
        {50, "battery.50percent", false, "31〜50%"},  {21, "battery.25percent", false, "2〜21%"},
        {20, "battery.25percent", true, "1〜20%"},    {10, "battery.25percent", true, "0〜10%"},
        {0, "battery.0percent", true, "0〜0%"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(str(ShellTexts::batterySymbol(row.level)), row.symbol) << row.level;
        EXPECT_EQ(ShellTexts::batteryIsLow(row.level), row.low) << row.level;
        EXPECT_EQ(str(ShellTexts::batteryRange(row.level)), row.range) << row.level;
    }
}

TEST(CameraCommands, enablingFollowsTheState) {
    using C = CameraCommand;
    const S states[] = {S::waiting(), S::connecting(), S::connected(QStringLiteral("D850")),
                        S::failed(QStringLiteral("x")), S::disconnected()};
    // Columns: waiting, connecting, connected, failed, disconnected.
    const std::vector<std::pair<C, std::array<bool, 5>>> table = {
        {C::connect, {true, true, false, true, true}},
        {C::disconnect, {true, true, true, false, false}},
        {C::liveView, {false, false, true, false, false}},
        {C::autofocus, {false, false, true, false, false}},
        {C::shoot, {false, false, true, false, false}},
        {C::refreshSettings, {false, false, true, false, false}},
        {C::releaseControl, {false, false, true, false, false}},
        {C::syncClock, {false, false, true, false, false}},
        {C::geotag, {true, true, true, true, true}},
        {C::openDestination, {true, true, true, true, true}},
    };
    ASSERT_EQ(table.size(), allCameraCommands.size());
    for (const auto& [command, enabled] : table)
        for (std::size_t i = 0; i < 5; ++i)
            EXPECT_EQ(CameraCommands::isEnabled(command, states[i]), enabled[i])
                << str(CameraCommands::title(command)) << " in state " << i;
}

TEST(CameraCommands, titlesAndShortcuts) {
    EXPECT_EQ(str(CameraCommands::title(CameraCommand::liveView, false)), "ライブビューを開始");
    EXPECT_EQ(str(CameraCommands::title(CameraCommand::liveView, true)), "ライブビューを止める");
    EXPECT_EQ(str(CameraCommands::title(CameraCommand::syncClock)), "時計を PC に合わせる");
    EXPECT_EQ(CameraCommands::shortcut(CameraCommand::shoot), QKeySequence(Qt::CTRL | Qt::Key_T));
    EXPECT_EQ(CameraCommands::shortcut(CameraCommand::liveView), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_EQ(CameraCommands::shortcut(CameraCommand::autofocus), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(CameraCommands::shortcut(CameraCommand::refreshSettings), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(CameraCommands::shortcut(CameraCommand::geotag), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
    EXPECT_TRUE(CameraCommands::shortcut(CameraCommand::connect).isEmpty());
    EXPECT_EQ(str(CameraCommands::help(CameraCommand::releaseControl)), "上面液晶の PC 表示を解除し、本体側の操作を有効にします");
}

TEST(LaunchOptions, parsesTheCommandLine) {
    const auto plain = LaunchOptions::parse({});
    ASSERT_TRUE(plain);
    EXPECT_EQ(str(plain.value().camera), "usb");
    EXPECT_FALSE(plain.value().demo);

    const auto demo = LaunchOptions::parse({QStringLiteral("--demo")});
    ASSERT_TRUE(demo);
    EXPECT_TRUE(demo.value().demo);
    EXPECT_EQ(str(demo.value().camera), "virtual");

    for (const QStringList& args : {QStringList{QStringLiteral("--camera"), QStringLiteral("ptpip://10.0.0.2")},
                                    QStringList{QStringLiteral("--camera=ptpip://10.0.0.2")}}) {
        const auto given = LaunchOptions::parse(args);
        ASSERT_TRUE(given);
        EXPECT_EQ(str(given.value().camera), "ptpip://10.0.0.2");
    }
    EXPECT_FALSE(LaunchOptions::parse({QStringLiteral("--camera")}));
    EXPECT_FALSE(LaunchOptions::parse({QStringLiteral("--bogus")}));
    EXPECT_FALSE(LaunchOptions::parse({QStringLiteral("--demo"), QStringLiteral("--camera"), QStringLiteral("usb")}));
}

}  // namespace
}  // namespace pexil::shell
