// What was imported, remembered across launches.
#include "app/card/ImportLedger.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace pexil {
namespace {

QStringList fileKeys(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList out;
    for (const auto& v : QJsonDocument::fromJson(file.readAll()).array()) out << v.toString();
    out.sort();
    return out;
}

TEST(ImportLedger, KeysJoinSerialNameSizeAndWholeSeconds) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(900'999, Qt::UTC);
    EXPECT_EQ(ImportLedger::key(QStringLiteral("123"), QStringLiteral("DSC_0001.NEF"), 512, t),
              QStringLiteral("123|DSC_0001.NEF|512|900"));
    EXPECT_EQ(ImportLedger::key(QStringLiteral("?"), QStringLiteral("A.JPG"), 0, std::nullopt),
              QStringLiteral("?|A.JPG|0|0"));
    // Truncated toward zero before 1970 too.
    EXPECT_EQ(ImportLedger::key(QStringLiteral("1"), QStringLiteral("B"), 1,
                                QDateTime::fromMSecsSinceEpoch(-1'500, Qt::UTC)),
              QStringLiteral("1|B|1|-1"));
}

TEST(ImportLedger, RecordsSurviveARestartAndTwoCamerasStayApart) {
    QTemporaryDir dir;
    const QDateTime t = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    QStringList logged;
    {
        ImportLedger ledger(dir.path(), [&](const QString& l) { logged << l; });
        ledger.record(QStringLiteral("A1"), QStringLiteral("DSC_0001.JPG"), 100, t);
        ledger.record(QStringLiteral("B2"), QStringLiteral("DSC_0001.JPG"), 100, t);
        EXPECT_EQ(ledger.keys().size(), 2u);
    }
    ImportLedger again(dir.path(), {});
    EXPECT_TRUE(again.contains(QStringLiteral("A1|DSC_0001.JPG|100|1700000000")));
    EXPECT_TRUE(again.contains(QStringLiteral("B2|DSC_0001.JPG|100|1700000000")));
    EXPECT_TRUE(logged.isEmpty());
}

TEST(ImportLedger, RecordingTheSamePictureTwiceWritesOnce) {
    QTemporaryDir dir;
    ImportLedger ledger(dir.path(), {});
    ledger.record(QStringLiteral("S"), QStringLiteral("X.JPG"), 1, std::nullopt);
    const QString path = ledger.path();
    QFile::remove(path);  // a second write would bring it back
    ledger.record(QStringLiteral("S"), QStringLiteral("X.JPG"), 1, std::nullopt);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ImportLedger, ADamagedFileStartsEmptyButIsKeptAsideBeforeTheFirstWrite) {
    const QByteArray damaged[] = {"{\"not\": \"an array\"}", "[\"ok\", 3]", "[\"cut", ""};
    for (const QByteArray& content : damaged) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("imported.json"));
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QStringList logged;
        ImportLedger ledger(dir.path(), [&](const QString& l) { logged << l; });
        EXPECT_TRUE(ledger.keys().empty());
        ledger.record(QStringLiteral("S"), QStringLiteral("N.JPG"), 2, std::nullopt);
        QFile aside(path + QStringLiteral(".damaged"));
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), content);
        EXPECT_EQ(fileKeys(path), QStringList{QStringLiteral("S|N.JPG|2|0")});
        // Once when found damaged, once when set aside.
        EXPECT_EQ(logged.size(), 2);
        ASSERT_TRUE(ledger.problem());
        EXPECT_TRUE(ledger.problem()->contains(aside.fileName()))
            << ledger.problem()->toStdString();
    }
}

TEST(ImportLedger, EveryDamagedCopyIsKeptAndTheUserIsTold) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("imported.json"));
    const QByteArray copies[] = {"[\"first history\"", "[\"second\", 1]", "{}"};
    for (const QByteArray& content : copies) {
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        }
        ImportLedger ledger(dir.path(), {});
        EXPECT_TRUE(ledger.problem());
        int told = 0;
        ledger.onProblemChanged = [&told] { ++told; };
        ledger.record(QStringLiteral("S"), QString::fromLatin1(content.toHex()), 1, std::nullopt);
        EXPECT_EQ(told, 1);
    }
    const QString aside = path + QStringLiteral(".damaged");
    const QString asides[] = {aside, aside + QStringLiteral(".2"), aside + QStringLiteral(".3")};
    for (std::size_t i = 0; i < std::size(copies); ++i) {
        QFile file(asides[i]);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << asides[i].toStdString();
        EXPECT_EQ(file.readAll(), copies[i]);
    }
}

TEST(ImportLedger, TwoWritersAtOnceLoseNoKey) {
    // Two imports into one destination from two processes: each ledger rewrites the whole
    // file, so without the lock and the merge one writer's keys vanish under the other's.
    QTemporaryDir dir;
    constexpr int perWriter = 40;
    auto writer = [&dir](const QString& serial) {
        ImportLedger ledger(dir.path(), {});
        for (int i = 0; i < perWriter; ++i)
            ledger.record(serial, QStringLiteral("DSC_%1.JPG").arg(i), 1, std::nullopt);
    };
    std::thread a(writer, QStringLiteral("A"));
    std::thread b(writer, QStringLiteral("B"));
    a.join();
    b.join();
    EXPECT_EQ(fileKeys(dir.filePath(QStringLiteral("imported.json"))).size(), 2 * perWriter);
    // A ledger that loaded before the other wrote still keeps the other's keys.
    ImportLedger first(dir.path(), {});
    ImportLedger second(dir.path(), {});
    first.record(QStringLiteral("C"), QStringLiteral("1.JPG"), 1, std::nullopt);
    second.record(QStringLiteral("D"), QStringLiteral("1.JPG"), 1, std::nullopt);
    EXPECT_EQ(fileKeys(dir.filePath(QStringLiteral("imported.json"))).size(), 2 * perWriter + 2);
    EXPECT_FALSE(first.problem());
}

TEST(ImportLedger, AnUnwritableFolderLogsEachNewKeyAndKeepsItInMemory) {
    QTemporaryDir dir;
    QStringList logged;
    // The ledger's folder is a plain file: no write can land (also for root).
    const QString notAFolder = dir.filePath(QStringLiteral("support"));
    QFile(notAFolder).open(QIODevice::WriteOnly);
    ImportLedger ledger(notAFolder, [&](const QString& l) { logged << l; });
    ledger.record(QStringLiteral("S"), QStringLiteral("1.JPG"), 1, std::nullopt);
    ledger.record(QStringLiteral("S"), QStringLiteral("2.JPG"), 1, std::nullopt);
    EXPECT_EQ(ledger.keys().size(), 2u);
    ASSERT_EQ(logged.size(), 2);
    EXPECT_TRUE(logged.last().startsWith(QString::fromUtf8("取り込みの控えを保存できない: ")));
    // Said where the user looks, not only in the log.
    ASSERT_TRUE(ledger.problem());
    EXPECT_EQ(*ledger.problem(), logged.last());
}

}  // namespace
}  // namespace pexil
