// The client view's page in a real browser: headless Chromium, driven through its DevTools
// protocol, opens the page with the token, sees the shots there are and a new one as it
// arrives, without reloading. Only loopback addresses; the waits are for the browser process
// and its sockets, bounded in real time.
#include "tests/app/clientview/ClientViewRig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace pexil {
namespace {

using namespace std::chrono_literals;

// One headless Chromium and one page in it, spoken to over the DevTools protocol.
class Browser {
public:
    explicit Browser(ClientViewRig& rig) : rig_(rig) {}
    ~Browser() {
        socket_.close();
        process_.kill();
        process_.waitForFinished(5000);
    }

    bool launch(const QString& program) {
        process_.setProgram(program);
        process_.setArguments({QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
                               QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                               QStringLiteral("--remote-debugging-address=127.0.0.1"),
                               QStringLiteral("--remote-debugging-port=0"),
                               QStringLiteral("--user-data-dir=") + profile_.path(),
                               QStringLiteral("about:blank")});
        process_.start();
        if (!process_.waitForStarted(10000)) return false;
        // Chromium says where its DevTools socket listens on its standard error.
        QString said;
        const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
        QRegularExpressionMatch match;
        const bool told = rig_.pumpExternalUntil(
            [&] {
                said += QString::fromUtf8(process_.readAllStandardError());
                match = listening.match(said);
                return match.hasMatch() || process_.state() == QProcess::NotRunning;
            },
            30s);
        if (!told || !match.hasMatch()) return false;
        QObject::connect(&socket_, &QWebSocket::textMessageReceived, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(QStringLiteral("id")))
                answers_[message.value(QStringLiteral("id")).toInt()] = message;
        });
        socket_.open(QUrl(match.captured(1)));
        if (!rig_.pumpExternalUntil(
                [&] { return socket_.state() == QAbstractSocket::ConnectedState; }, 10s))
            return false;
        const auto target = call(QStringLiteral("Target.createTarget"),
                                 {{QStringLiteral("url"), QStringLiteral("about:blank")}});
        if (!target) return false;
        const auto attached =
            call(QStringLiteral("Target.attachToTarget"),
                 {{QStringLiteral("targetId"), target->value(QStringLiteral("targetId"))},
                  {QStringLiteral("flatten"), true}});
        if (!attached) return false;
        session_ = attached->value(QStringLiteral("sessionId")).toString();
        return true;
    }

    // A command's result; none when it failed or the browser did not answer in time.
    std::optional<QJsonObject> call(const QString& method, const QJsonObject& params = {},
                                    bool onPage = false) {
        const int id = ++lastId_;
        QJsonObject message{{QStringLiteral("id"), id},
                            {QStringLiteral("method"), method},
                            {QStringLiteral("params"), params}};
        if (onPage) message.insert(QStringLiteral("sessionId"), session_);
        socket_.sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
        if (!rig_.pumpExternalUntil([&] { return answers_.count(id) > 0; }, 30s))
            return std::nullopt;
        const QJsonObject answer = answers_[id];
        if (answer.contains(QStringLiteral("error"))) return std::nullopt;
        return answer.value(QStringLiteral("result")).toObject();
    }
    // The value of a JavaScript expression on the page.
    QJsonValue evaluate(const QString& expression) {
        const auto result = call(
            QStringLiteral("Runtime.evaluate"),
            {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
            true);
        return result ? result->value(QStringLiteral("result"))
                            .toObject()
                            .value(QStringLiteral("value"))
                      : QJsonValue();
    }
    bool waitFor(const QString& expression, std::chrono::milliseconds limit = 20s) {
        return rig_.pumpExternalUntil([&] { return evaluate(expression).toBool(); }, limit);
    }
    void resize(int width, int height, bool mobile) {
        call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
             {{QStringLiteral("width"), width},
              {QStringLiteral("height"), height},
              {QStringLiteral("deviceScaleFactor"), 1},
              {QStringLiteral("mobile"), mobile}},
             true);
    }
    // A screenshot for whoever looks at the page (PEXIL_SCREENSHOTS names the folder).
    void screenshot(const QString& name) {
        const QString folder = qEnvironmentVariable("PEXIL_SCREENSHOTS");
        if (folder.isEmpty()) return;
        const auto shot = call(QStringLiteral("Page.captureScreenshot"), {}, true);
        QFile file(QDir(folder).filePath(name));
        if (shot && file.open(QIODevice::WriteOnly))
            file.write(
                QByteArray::fromBase64(shot->value(QStringLiteral("data")).toString().toLatin1()));
    }

private:
    ClientViewRig& rig_;
    QTemporaryDir profile_;
    QProcess process_;
    QWebSocket socket_;
    QString session_;
    int lastId_ = 0;
    std::map<int, QJsonObject> answers_;
};

class ClientViewBrowserTest : public ::testing::Test, protected ClientViewRig {};

TEST_F(ClientViewBrowserTest, ThePageShowsTheShotsAndANewOneWithoutReloading) {
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it)";
    const QString first = shoot(1);
    const QString second = shoot(2);
    const auto url = server.start(QHostAddress::LocalHost, 0);
    ASSERT_TRUE(url);

    Browser browser(*this);
    ASSERT_TRUE(browser.launch(chromium));
    browser.resize(390, 844, true);
    ASSERT_TRUE(browser.call(QStringLiteral("Page.navigate"),
                             {{QStringLiteral("url"), url.value().toString()}}, true));
    ASSERT_TRUE(browser.waitFor(QStringLiteral("document.querySelectorAll('.tile').length === 2")));
    EXPECT_TRUE(browser.evaluate(QStringLiteral("document.getElementById('large').src"))
                    .toString()
                    .contains(second));
    EXPECT_EQ(
        browser.evaluate(QStringLiteral("document.getElementById('count').textContent")).toString(),
        QStringLiteral("2 枚"));
    ASSERT_TRUE(
        browser.waitFor(QStringLiteral("document.getElementById('large').complete && "
                                       "document.getElementById('large').naturalWidth === 1600")));
    // A mark that a reload would wipe out.
    browser.evaluate(QStringLiteral("window.stillTheSamePage = true"));
    ASSERT_TRUE(pumpExternalUntil([&] { return server.watchers().size() == 1; }, 20s));
    browser.screenshot(QStringLiteral("client-view-phone.png"));

    const QString third = shoot(3);
    ASSERT_TRUE(browser.waitFor(QStringLiteral("document.querySelectorAll('.tile').length === 3")));
    EXPECT_TRUE(
        browser.evaluate(QStringLiteral("document.querySelector('.tile').dataset.id")).toString() ==
        third);
    EXPECT_TRUE(browser.waitFor(
        QStringLiteral("document.getElementById('large').src.includes('%1')").arg(third)));
    EXPECT_TRUE(browser.evaluate(QStringLiteral("window.stillTheSamePage === true")).toBool());

    // The favourite button reaches the application.
    std::optional<bool> favourite;
    QObject::connect(&client, &ClientShots::noteChanged,
                     [&favourite](const QUuid&, bool on, const QString&) { favourite = on; });
    browser.evaluate(QStringLiteral("document.getElementById('fav').click()"));
    ASSERT_TRUE(pumpExternalUntil([&] { return favourite.has_value(); }, 20s));
    EXPECT_TRUE(*favourite);
    EXPECT_TRUE(client.find(third)->favourite);

    browser.resize(1024, 1366, false);
    browser.screenshot(QStringLiteral("client-view-tablet.png"));
    EXPECT_FALSE(first.isEmpty());
}

}  // namespace
}  // namespace pexil
