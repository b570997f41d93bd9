#include "app/doctor/CameraTrouble.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

const DoctorFinding held =
    DoctorFinding::fail(QStringLiteral("holder"), QStringLiteral("gvfsd-gphoto2 が使っている"),
                        QStringLiteral("gio mount -s gphoto2"));
const DoctorFinding denied =
    DoctorFinding::fail(QStringLiteral("access"), QStringLiteral("開く権限がない"),
                        QStringLiteral("sudo udevadm trigger"));

TEST(CameraTrouble, ShowsTheFirstFindingThatKeepsTheCameraFromOpening) {
    struct Case {
        const char* name;
        ConnectionState state;
        std::vector<DoctorFinding> findings;
        std::optional<DoctorFinding> expected;
    };
    const auto failed =
        ConnectionState::failed(QStringLiteral("カメラに接続できません: USB のカメラを開けない"));
    const std::vector<Case> cases = {
        {"failed, held",
         failed,
         {DoctorFinding::ok(QStringLiteral("usb"), QStringLiteral("D850")), held},
         held},
        {"waiting with a reason",
         ConnectionState::waiting(QStringLiteral("x")),
         {denied, held},
         denied},
        // Warnings and failures of other topics say nothing about this attempt.
        {"no blocking failure",
         failed,
         {DoctorFinding::warn(QStringLiteral("autosuspend"), QStringLiteral("auto"),
                              QStringLiteral("echo on")),
          DoctorFinding::fail(QStringLiteral("destination"), QStringLiteral("書き込めない"))},
         std::nullopt},
        {"an ok holder",
         failed,
         {DoctorFinding::ok(QStringLiteral("holder"), QStringLiteral("誰も使っていない"))},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraTrouble trouble([&] { return c.findings; });
        trouble.update(c.state);
        EXPECT_EQ(trouble.finding(), c.expected);
    }
}

TEST(CameraTrouble, ExaminesOnlyWhenAnAttemptEndedAndForgetsOnTheNextState) {
    int examined = 0;
    CameraTrouble trouble([&] {
        ++examined;
        return std::vector<DoctorFinding>{held};
    });
    int changes = 0;
    QObject::connect(&trouble, &CameraTrouble::changed, [&] { ++changes; });

    for (const auto& quiet : {ConnectionState::waiting(), ConnectionState::connecting(),
                              ConnectionState::connected(QStringLiteral("D850")),
                              ConnectionState::disconnected(), ConnectionState::failed(QString())})
        trouble.update(quiet);
    EXPECT_EQ(examined, 0);
    EXPECT_EQ(changes, 0);

    trouble.update(ConnectionState::failed(QStringLiteral("開けない")));
    EXPECT_EQ(trouble.finding(), held);
    EXPECT_EQ(changes, 1);
    // The same finding again is no change.
    trouble.update(ConnectionState::failed(QStringLiteral("開けない")));
    EXPECT_EQ(examined, 2);
    EXPECT_EQ(changes, 1);

    trouble.update(ConnectionState::connecting());
    EXPECT_EQ(trouble.finding(), std::nullopt);
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace pexil
