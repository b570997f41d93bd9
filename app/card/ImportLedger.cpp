#include "app/card/ImportLedger.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

namespace pexil {

ImportLedger::ImportLedger(QString folder, LogFn log) : log_(std::move(log)) {
    QDir().mkpath(folder);
    path_ = QDir(folder).filePath(QStringLiteral("imported.json"));
    load();
}

QString ImportLedger::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Pexil");
}

QString ImportLedger::key(const QString& serial, const QString& name, qint64 size,
                          const std::optional<QDateTime>& captured) {
    // Whole seconds toward zero, also before 1970.
    const qint64 seconds = captured ? captured->toMSecsSinceEpoch() / 1000 : 0;
    return serial + u'|' + name + u'|' + QString::number(size) + u'|' + QString::number(seconds);
}

void ImportLedger::load() {
    QFile file(path_);
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        damaged_ = true;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    bool ok = error.error == QJsonParseError::NoError && doc.isArray();
    std::set<QString> loaded;
    if (ok) {
        for (const QJsonValue& value : doc.array()) {
            if (!value.isString()) {
                ok = false;
                break;
            }
            loaded.insert(value.toString());
        }
    }
    if (ok)
        keys_ = std::move(loaded);
    else
        damaged_ = true;
}

void ImportLedger::record(const QString& serial, const QString& name, qint64 size,
                          const std::optional<QDateTime>& captured) {
    if (!keys_.insert(key(serial, name, size, captured)).second) return;
    if (damaged_) {
        // Rewriting would silently drop every import the damaged file still remembers.
        const QString aside = path_ + QStringLiteral(".damaged");
        QFile::remove(aside);
        if (QFile::rename(path_, aside) || !QFile::exists(path_)) {
            damaged_ = false;
            if (log_) log_(QString::fromUtf8("取り込みの控えが壊れていたため退避: ") + aside);
        } else {
            if (log_) log_(QString::fromUtf8("取り込みの控えを保存できない: 壊れた控えを退避できません"));
            return;
        }
    }
    QJsonArray array;
    for (const QString& k : keys_) array.append(k);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        if (log_) log_(QString::fromUtf8("取り込みの控えを保存できない: ") + file.errorString());
    }
}

}  // namespace pexil
