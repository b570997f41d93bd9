#include "tools/pexilctl/CameraCommand.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace pexil::cli {
namespace {

TEST(VcamCommand, ServesTheVirtualCameraToPtpIpClientsUntilStopped) {
    QTemporaryDir dir;
    QProcess vcam;
    vcam.start(QStringLiteral(PEXILCTL_PATH),
               {QStringLiteral("vcam"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                QStringLiteral("--card"), dir.filePath(QStringLiteral("card")), QStringLiteral("--photos"),
                QStringLiteral("3")});
    ASSERT_TRUE(vcam.waitForStarted(10000)) << vcam.errorString().toStdString();
    QByteArray first;
    while (!first.contains('\n') && vcam.waitForReadyRead(20000)) first += vcam.readAllStandardOutput();
    const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n)"))
                           .match(QString::fromUtf8(first));
    ASSERT_TRUE(match.hasMatch()) << first.toStdString();

    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int code = runCamera({QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:") + match.captured(1),
                                QStringLiteral("ls")},
                               {outStream, errStream});
    outStream.flush();
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_EQ(out.count(u'\n'), 3) << out.toStdString();

    ::kill(static_cast<pid_t>(vcam.processId()), SIGTERM);
    ASSERT_TRUE(vcam.waitForFinished(20000));
    EXPECT_EQ(vcam.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vcam.exitCode(), 0);
}

TEST(VcamCommand, RejectsBadOptionsWithOneLine) {
    QString out, err;
    QTextStream o(&out), e(&err);
    EXPECT_EQ(runVcam({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:99999")}, {o, e}), 2);
    EXPECT_EQ(runVcam({QStringLiteral("--model"), QStringLiteral("f5")}, {o, e}), 2);
    EXPECT_EQ(runVcam({QStringLiteral("--help")}, {o, e}), 0);
    e.flush();
    EXPECT_EQ(err.count(u'\n'), 2);
}

}  // namespace
}  // namespace pexil::cli
