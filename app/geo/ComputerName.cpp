#include "app/geo/ComputerName.h"

#include <QFile>
#include <QList>
#include <QSysInfo>

namespace pexil::ComputerName {

namespace {

// Larger than any real machine-info file; a bigger one is not one systemd wrote.
constexpr qint64 machineInfoLimit = 65536;

// One value as systemd's environment-file reader (and the shell) understands it: bare text
// with backslash escapes, 'single quoted' parts taken literally, and "double quoted" parts
// where a backslash escapes only what the shell lets it escape there; the parts run together.
QByteArray unquote(const QByteArray& raw) {
    enum class Mode { bare, single, dual };
    QByteArray value;
    Mode mode = Mode::bare;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        const bool hasNext = i + 1 < raw.size();
        switch (mode) {
            case Mode::bare:
                if (c == '\'') {
                    mode = Mode::single;
                } else if (c == '"') {
                    mode = Mode::dual;
                } else if (c == '\\' && hasNext) {
                    value += raw[++i];
                } else {
                    value += c;
                }
                break;
            case Mode::single:
                if (c == '\'') {
                    mode = Mode::bare;
                } else {
                    value += c;
                }
                break;
            case Mode::dual:
                if (c == '"') {
                    mode = Mode::bare;
                } else if (c == '\\' && hasNext && QByteArray("\"\\$`").contains(raw[i + 1])) {
                    value += raw[++i];
                } else {
                    value += c;
                }
                break;
        }
    }
    return value;
}

}  // namespace

QString prettyHostName(const QByteArray& machineInfo) {
    QString found;
    const QList<QByteArray> lines = machineInfo.split('\n');
    for (const QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith(';')) continue;
        const qsizetype equals = trimmed.indexOf('=');
        if (equals <= 0) continue;
        if (trimmed.left(equals).trimmed() != "PRETTY_HOSTNAME") continue;
        // A later assignment wins, as it does for the shell and for systemd.
        found = QString::fromUtf8(unquote(trimmed.mid(equals + 1))).trimmed();
    }
    return found;
}

QString choose(const QString& pretty, const QString& hostName) {
    if (!pretty.trimmed().isEmpty()) return pretty.trimmed();
    if (!hostName.trimmed().isEmpty()) return hostName.trimmed();
    return QStringLiteral("Mac");
}

QString current(const QString& machineInfoPath) {
    QString pretty;
    QFile file(machineInfoPath);
    if (file.open(QIODevice::ReadOnly)) pretty = prettyHostName(file.read(machineInfoLimit));
    return choose(pretty, QSysInfo::machineHostName());
}

}  // namespace pexil::ComputerName
