#include "app/base/Preferences.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace pexil {

namespace {

const QString baseKey = QStringLiteral("baseDestination");
const QString dateKey = QStringLiteral("useDateSubfolder");
const QString autoConnectKey = QStringLiteral("autoConnect");
const QString deleteKey = QStringLiteral("deleteAfterDownload");
const QString focusKey = QStringLiteral("autofocusBeforeShot");
const QString showNewKey = QStringLiteral("showNewShots");
const QString sessionKey = QStringLiteral("sessionName");
const QString templateKey = QStringLiteral("nameTemplate");
const QString backupKey = QStringLiteral("backupFolder");

}  // namespace

// QSettings keeps INI values as text: a Boolean written by us reads back as "true"/"false".
std::optional<bool> Preferences::storedBool(const QSettings& store, const QString& key) {
    const QVariant value = store.value(key);
    if (!value.isValid()) return std::nullopt;
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    const QString text = value.toString();
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return std::nullopt;
}

Preferences Preferences::read(const QSettings& store) {
    Preferences out;
    const QString base = store.value(baseKey).toString();
    if (!base.isEmpty()) out.baseDestination = base;
    out.useDateSubfolder = storedBool(store, dateKey).value_or(false);
    out.autoConnect = storedBool(store, autoConnectKey).value_or(true);
    out.deleteAfterDownload = storedBool(store, deleteKey).value_or(false);
    out.autofocusBeforeShot = storedBool(store, focusKey).value_or(true);
    out.showNewShots = storedBool(store, showNewKey).value_or(true);
    // A name edited into the store by hand that could not be a folder is no session.
    const QString session = store.value(sessionKey).toString().trimmed();
    if (!checkSessionName(session)) out.sessionName = session;
    out.nameTemplate = store.value(templateKey).toString();
    out.backupFolder = store.value(backupKey).toString();
    return out;
}

void Preferences::write(QSettings& store) const {
    store.setValue(baseKey, baseDestination);
    store.setValue(dateKey, useDateSubfolder);
    store.setValue(autoConnectKey, autoConnect);
    store.setValue(deleteKey, deleteAfterDownload);
    store.setValue(focusKey, autofocusBeforeShot);
    store.setValue(showNewKey, showNewShots);
    store.setValue(sessionKey, sessionName);
    store.setValue(templateKey, nameTemplate);
    store.setValue(backupKey, backupFolder);
}

QString Preferences::defaultBaseDestination() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return pictures + QStringLiteral("/Pexil");
}

QString Preferences::destinationFor(const QDateTime& date) const {
    QString folder = baseDestination;
    if (useDateSubfolder)
        folder = QDir(folder).filePath(date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")));
    if (!sessionName.isEmpty() && !checkSessionName(sessionName))
        folder = QDir(folder).filePath(sessionName);
    return folder;
}

std::optional<QString> Preferences::checkSessionName(const QString& name) {
    if (name.isEmpty()) return std::nullopt;
    if (name != name.trimmed())
        return QString::fromUtf8("セッション名の前後に空白は入れられません");
    if (name.startsWith(u'.'))
        return QString::fromUtf8("セッション名を「.」で始めることはできません");
    for (const QChar c : name)
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20)
            return QString::fromUtf8("セッション名に使えない文字があります: ") +
                   (c.unicode() < 0x20 ? QStringLiteral("制御文字") : QString(c));
    if (name.toUtf8().size() > 200) return QString::fromUtf8("セッション名が長すぎます");
    return std::nullopt;
}

std::optional<QString> Preferences::checkDestination(const QString& folder) {
    const QString path = QDir::cleanPath(folder);
    if (!QDir().mkpath(path)) return QString::fromUtf8("保存先を作成できません: ") + path;
    QFile probe(QDir(path).filePath(QStringLiteral(".pexil-write-test")));
    const bool written = probe.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         probe.write(QByteArray(1, '\0')) == 1 && probe.flush();
    probe.close();
    if (probe.exists()) probe.remove();
    if (!written) return QString::fromUtf8("保存先に書き込めません: ") + path;
    return std::nullopt;
}

std::unique_ptr<QSettings> StoredLiveViewMemory::open() const {
    if (iniFile_.isEmpty()) return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(iniFile_, QSettings::IniFormat);
}

bool StoredLiveViewMemory::needsSDRAM(const QString& key) const {
    return open()->value(key, false).toBool();
}

void StoredLiveViewMemory::rememberNeedsSDRAM(const QString& key) {
    const auto store = open();
    store->setValue(key, true);
    store->sync();
}

}  // namespace pexil
