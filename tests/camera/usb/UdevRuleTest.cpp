#include "camera/usb/UdevRule.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

// The hint after a refusal names what this machine has: the installed rule, or the command
// that installs it; never a path of the source tree.
TEST(UdevRule, ThePermissionHintFollowsWhereTheRuleIs) {
    QTemporaryDir first, second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    const QStringList directories{first.path(), second.path()};
    EXPECT_TRUE(UdevRule::installed(directories).isEmpty());
    const QString missing = UdevRule::permissionHint(UdevRule::installed(directories));
    EXPECT_TRUE(missing.contains(UdevRule::installCommand()));

    // The later directory only: found there; then also the earlier one, which udev prefers.
    for (const QString& directory : {second.path(), first.path()}) {
        QFile rule(QDir(directory).filePath(UdevRule::fileName));
        ASSERT_TRUE(rule.open(QIODevice::WriteOnly));
        EXPECT_EQ(UdevRule::installed(directories), rule.fileName());
        const QString hint = UdevRule::permissionHint(UdevRule::installed(directories));
        EXPECT_TRUE(hint.contains(rule.fileName())) << hint.toStdString();
        EXPECT_TRUE(hint.contains(QStringLiteral("udevadm trigger"))) << hint.toStdString();
        EXPECT_FALSE(hint.contains(QStringLiteral("sudo tee")));
    }
    for (const QString& hint : {missing, UdevRule::permissionHint(first.filePath(UdevRule::fileName))})
        EXPECT_FALSE(hint.contains(QStringLiteral("packaging/"))) << hint.toStdString();
}

}  // namespace
}  // namespace pexil::camera
