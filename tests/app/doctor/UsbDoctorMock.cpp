// The doctor's USB findings on a umockdev testbed: cameras found in sysfs, device nodes this
// user may not open, nodes held by other processes, autosuspend. Runs under umockdev-wrapper
// (see Extra.cmake), which redirects /sys and /dev; /proc stays the real one, so holders are
// real child processes.

#include "app/doctor/DeviceDoctor.h"
#include "app/doctor/UsbDoctor.h"

#include "UsbTestbed.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pexil {
namespace {

using testing::UsbTestbed;
using Level = DoctorFinding::Level;

// A process other than the test that keeps `node` open under the short name `name` until
// it is destroyed.
class HoldingProcess {
public:
    HoldingProcess(const std::string& node, const std::string& name) {
        int ready[2];
        int release[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(release), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            prctl(PR_SET_NAME, name.c_str());
            const int fd = open(node.c_str(), O_RDONLY);
            const char ok = fd >= 0 ? '1' : '0';
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            char byte;
            // Returns when the parent closes its end.
            while (read(release[0], &byte, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char ok = '0';
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, '1') << "the child could not open " << node;
        close(ready[0]);
    }
    ~HoldingProcess() {
        close(release_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    HoldingProcess(const HoldingProcess&) = delete;
    HoldingProcess& operator=(const HoldingProcess&) = delete;

    qint64 pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

std::vector<std::string> lines(const std::vector<DoctorFinding>& findings) {
    std::vector<std::string> out;
    for (const auto& f : findings) out.push_back(f.format().toStdString());
    return out;
}

const DoctorFinding* findTopic(const std::vector<DoctorFinding>& findings, const QString& topic) {
    for (const auto& f : findings)
        if (f.topic == topic) return &f;
    return nullptr;
}

class UsbDoctorTest : public ::testing::Test {
protected:
    UsbDoctorTest() {
        places.ruleDirectories = {rules.filePath(QStringLiteral("etc")),
                                  rules.filePath(QStringLiteral("lib"))};
        QDir(rules.path()).mkpath(QStringLiteral("etc"));
        QDir(rules.path()).mkpath(QStringLiteral("lib"));
    }

    void installRule() {
        QFile rule(rules.filePath(QStringLiteral("lib/60-pexil-camera.rules")));
        ASSERT_TRUE(rule.open(QIODevice::WriteOnly));
    }
    std::string testbedPath(const std::string& node) const { return testbed.root() + node; }

    UsbTestbed testbed;
    QTemporaryDir rules;
    UsbDoctor::Places places;
};

TEST_F(UsbDoctorTest, FindsNikonAndOtherPtpCamerasButNoOtherDevices) {
    UsbTestbed::Device d850;  // Nikon, bus 1 address 5
    UsbTestbed::Device nikonStorage;
    nikonStorage.address = 7;
    nikonStorage.port = "1-3";
    nikonStorage.productId = 0x0430;
    nikonStorage.interfaceClass = 8;  // a Nikon in mass-storage mode is still Nikon's
    nikonStorage.interfaceSubClass = 6;
    nikonStorage.product = std::nullopt;
    UsbTestbed::Device canon;
    canon.bus = 2;
    canon.address = 3;
    canon.port = "2-1";
    canon.vendorId = 0x04a9;
    canon.productId = 0x32d2;
    canon.product = "Canon Digital Camera";
    UsbTestbed::Device disk = canon;
    disk.address = 4;
    disk.port = "2-2";
    disk.vendorId = 0x0781;
    disk.interfaceClass = 8;
    disk.product = "Ultra";
    for (const auto& d : {canon, disk, nikonStorage, d850}) testbed.add(d);

    std::vector<std::string> seen;
    for (const auto& c : UsbDoctor::cameras(places))
        seen.push_back(QStringLiteral("%1:%2 %3 %4 %5")
                           .arg(c.address.bus)
                           .arg(c.address.address)
                           .arg(c.name, c.node, QFileInfo(c.device).fileName())
                           .toStdString());
    EXPECT_EQ(seen,
              (std::vector<std::string>{"1:5 NIKON DSC D850 /dev/bus/usb/001/005 1-1",
                                        "1:7 04b0:0430 /dev/bus/usb/001/007 1-3",
                                        "2:3 Canon Digital Camera /dev/bus/usb/002/003 2-1"}));

    installRule();
    const auto findings = UsbDoctor::examine(places);
    EXPECT_FALSE(anyFailed(findings)) << ::testing::PrintToString(lines(findings));
    ASSERT_GE(findings.size(), 2u);
    EXPECT_EQ(findings[0].format().toStdString(),
              "ok udev: udev ルール: " +
                  rules.filePath(QStringLiteral("lib/60-pexil-camera.rules")).toStdString() + "\n");
    EXPECT_EQ(findings[1].format().toStdString(),
              "ok usb: NIKON DSC D850（バス 1、アドレス 5） 04b0:0441\n");
    const auto canonLine =
        std::find_if(findings.begin(), findings.end(), [](const DoctorFinding& f) {
            return f.topic == QLatin1String("usb") && f.text.contains(QLatin1String("Canon"));
        });
    ASSERT_NE(canonLine, findings.end());
    EXPECT_TRUE(canonLine->text.endsWith(QStringLiteral("（Nikon 以外の PTP カメラ）")));
}

TEST_F(UsbDoctorTest, WithoutCameraOrRuleItWarnsAndGivesTheRuleCommand) {
    const auto findings = UsbDoctor::examine(places);
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].level, Level::warn);
    EXPECT_EQ(findings[0].topic, QStringLiteral("udev"));
    EXPECT_EQ(findings[0].fix, UsbDoctor::ruleInstallCommand(places));
    EXPECT_EQ(findings[1].level, Level::warn);
    EXPECT_EQ(findings[1].topic, QStringLiteral("usb"));
    EXPECT_TRUE(findings[1].fix.isEmpty());
    EXPECT_FALSE(anyFailed(findings));
}

// A camera held over the network: no Nikon on USB is then no cause for concern.
TEST_F(UsbDoctorTest, ACameraOnTheNetworkIsNamedAndNoneOnUsbIsNoWarning) {
    DeviceDoctor::Environment environment;
    environment.usb = places;
    environment.destination = rules.filePath(QStringLiteral("pictures"));
    environment.logPath = rules.filePath(QStringLiteral("Pexil.log"));
    for (const bool network : {false, true}) {
        environment.networkCamera =
            network ? std::optional<QString>(QStringLiteral("Z 6（ptpip://127.0.0.1:15740）")) : std::nullopt;
        const auto findings = DeviceDoctor::examine(environment);
        const auto usb = std::find_if(findings.begin(), findings.end(),
                                      [](const DoctorFinding& f) { return f.topic == QLatin1String("usb"); });
        ASSERT_NE(usb, findings.end());
        EXPECT_EQ(usb->level, network ? Level::ok : Level::warn);
        EXPECT_EQ(findings.front().topic == QLatin1String("network"), network);
        if (network) {
            EXPECT_EQ(findings.front().format(), "ok network: Z 6（ptpip://127.0.0.1:15740） に PTP/IP でつながっている\n");
        }
    }
}

// The node exists but this user may not open it; the fix depends on why.
TEST_F(UsbDoctorTest, ANodeWithoutPermissionFailsWithTheFixForTheCause) {
    const group* bin = getgrnam("bin");
    ASSERT_NE(bin, nullptr);
    struct Case {
        const char* name;
        bool rule;
        bool nodeInRuleGroup;
        const char* textHas;
        QString fix;
    };
    const std::vector<Case> cases = {
        {"no rule", false, false, "udev ルールが入っていない",
         UsbDoctor::ruleInstallCommand(places)},
        {"rule not applied", true, false, "まだ効いていない",
         QStringLiteral("sudo udevadm control --reload && sudo udevadm trigger --action=add "
                        "/sys/bus/usb/devices/1-1")},
        {"no seat, not in the group", true, true, "グループにも入っていない",
         QStringLiteral("sudo usermod -aG bin \"$USER\"")},
    };
    places.ruleGroup =
        QStringLiteral("bin");  // a group every Debian has, and the test user is not in
    const auto added = testbed.add(UsbTestbed::Device{});
    const std::string node = testbedPath(added.node);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(rules.filePath(QStringLiteral("lib/60-pexil-camera.rules")));
        if (c.rule) installRule();
        // Giving the node to a group the user is not in takes root.
        if (c.nodeInRuleGroup && geteuid() != 0) continue;
        ASSERT_EQ(chown(node.c_str(), geteuid(), c.nodeInRuleGroup ? bin->gr_gid : getegid()), 0);
        // No access for the owner, which is this user.
        ASSERT_EQ(chmod(node.c_str(), c.nodeInRuleGroup ? 0060 : 0000), 0);
        std::vector<DoctorFinding> findings;
        {
            const testing::WithoutFileOverride asUser;
            findings = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
        }
        const DoctorFinding* access = findTopic(findings, QStringLiteral("access"));
        ASSERT_NE(access, nullptr);
        EXPECT_EQ(access->level, Level::fail);
        EXPECT_TRUE(
            access->text.startsWith(QStringLiteral("/dev/bus/usb/001/005 を開く権限がない")))
            << access->text.toStdString();
        EXPECT_TRUE(access->text.contains(QString::fromUtf8(c.textHas)))
            << access->text.toStdString();
        EXPECT_EQ(access->fix, c.fix);
        EXPECT_TRUE(anyFailed(findings));
    }
    ASSERT_EQ(chmod(node.c_str(), 0644), 0);
    const auto open = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
    EXPECT_EQ(findTopic(open, QStringLiteral("access"))->level, Level::ok);
}

// Another process has the node open: it is named, with what stops it.
TEST_F(UsbDoctorTest, ANodeHeldByAnotherProcessNamesItAndHowToStopIt) {
    struct Case {
        const char* comm;
        const char* what;
        const char* fix;  // %1: its process ID
    };
    const std::vector<Case> cases = {
        {"gvfsd-gphoto2", "GVfs のカメラのマウント（gvfsd-gphoto2）", "gio mount -s gphoto2"},
        {"gvfs-gphoto2-vo", "GVfs の gphoto2 ボリュームモニター",
         "systemctl --user stop gvfs-gphoto2-volume-monitor.service"},
        {"darktable", "darktable のテザー撮影", "kill %1"},
        {"gphoto2", "gphoto2", "kill %1"},
        {"snapper", "プロセス snapper", "kill %1"},
    };
    const auto added = testbed.add(UsbTestbed::Device{});
    installRule();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comm);
        const HoldingProcess holder(added.node, c.comm);
        const auto holders = UsbDoctor::holders(QString::fromStdString(added.node), places);
        ASSERT_EQ(holders.size(), 1u);
        EXPECT_EQ(holders[0].pid, holder.pid());
        EXPECT_EQ(holders[0].name, QString::fromUtf8(c.comm));

        const auto findings = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
        const DoctorFinding* held = findTopic(findings, QStringLiteral("holder"));
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->format().toStdString(),
                  QStringLiteral("fail holder: NIKON DSC D850（バス 1、アドレス 5） を %1 "
                                 "が使っている（PID %2）\n  fix: %3\n")
                      .arg(QString::fromUtf8(c.what))
                      .arg(holder.pid())
                      .arg(QString::fromUtf8(c.fix).arg(holder.pid()))
                      .toStdString());
    }
    // Once they are gone, nobody holds it.
    const auto findings = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
    EXPECT_EQ(findTopic(findings, QStringLiteral("holder"))->level, Level::ok);
    EXPECT_FALSE(anyFailed(findings));
}

TEST_F(UsbDoctorTest, TheAskingProgramsOwnHoldIsNoProblem) {
    const auto added = testbed.add(UsbTestbed::Device{});
    const int fd = open(added.node.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const auto findings = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
    close(fd);
    const DoctorFinding* held = findTopic(findings, QStringLiteral("holder"));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->level, Level::ok);
    EXPECT_TRUE(held->text.contains(QStringLiteral("このプログラム"))) << held->text.toStdString();
}

// libusb claims through usbfs: a claimed interface with no process in sight is held by a
// process this user may not look at.
TEST_F(UsbDoctorTest, AnInterfaceClaimedByAnUnseenProcessFails) {
    const auto added = testbed.add(UsbTestbed::Device{});
    umockdev_testbed_set_attribute_link(testbed.get(), added.interface.c_str(), "driver",
                                        "../../../../../bus/usb/drivers/usbfs");
    const auto findings = UsbDoctor::examine(UsbDoctor::cameras(places).at(0), places);
    const DoctorFinding* held = findTopic(findings, QStringLiteral("holder"));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->level, Level::fail);
    EXPECT_EQ(held->fix, QStringLiteral("sudo fuser -v /dev/bus/usb/001/005"));
}

TEST_F(UsbDoctorTest, AutosuspendWarnsOnlyWhenTheKernelMaySuspendTheCamera) {
    struct Case {
        const char* control;  // none: sysfs does not tell
        std::optional<Level> level;
        QString fix;
    };
    const std::vector<Case> cases = {
        {"on", Level::ok, {}},
        {"auto", Level::warn,
         QStringLiteral("echo on | sudo tee /sys/bus/usb/devices/1-2/power/control")},
        {nullptr, std::nullopt, {}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        UsbTestbed::Device device;
        device.address = static_cast<int>(5 + i);
        device.port = "1-" + std::to_string(i + 1);
        const auto added = testbed.add(device);
        if (cases[i].control)
            umockdev_testbed_set_attribute(testbed.get(), added.device.c_str(), "power/control",
                                           cases[i].control);
    }
    const auto cameras = UsbDoctor::cameras(places);
    ASSERT_EQ(cameras.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.control ? c.control : "none");
        const auto findings = UsbDoctor::examine(cameras[i], places);
        const DoctorFinding* found = findTopic(findings, QStringLiteral("autosuspend"));
        ASSERT_EQ(found != nullptr, c.level.has_value());
        if (!found) continue;
        EXPECT_EQ(found->level, *c.level);
        EXPECT_EQ(found->fix, c.fix);
    }
}

}  // namespace
}  // namespace pexil
