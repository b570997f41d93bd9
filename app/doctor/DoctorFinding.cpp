#include "app/doctor/DoctorFinding.h"

#include <algorithm>

namespace pexil {

namespace {

QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return text.trimmed();
}

}  // namespace

QString DoctorFinding::levelName(Level level) {
    switch (level) {
        case Level::ok:
            return QStringLiteral("ok");
        case Level::warn:
            return QStringLiteral("warn");
        case Level::fail:
            return QStringLiteral("fail");
    }
    return {};
}

QString DoctorFinding::format() const {
    QString out =
        levelName(level) + u' ' + oneLine(topic) + QStringLiteral(": ") + oneLine(text) + u'\n';
    if (const QString command = oneLine(fix); !command.isEmpty())
        out += QStringLiteral("  fix: ") + command + u'\n';
    return out;
}

QString formatReport(const std::vector<DoctorFinding>& findings) {
    QString out;
    for (const DoctorFinding& finding : findings) out += finding.format();
    return out;
}

QString formatReportForPeople(const std::vector<DoctorFinding>& findings) {
    QString out;
    for (const DoctorFinding& finding : findings) {
        const QString level = finding.level == DoctorFinding::Level::ok     ? QStringLiteral("問題なし")
                              : finding.level == DoctorFinding::Level::warn ? QStringLiteral("注意")
                                                                            : QStringLiteral("問題");
        out += QStringLiteral("【%1】%2: %3\n").arg(level, oneLine(finding.topic), oneLine(finding.text));
        if (const QString command = oneLine(finding.fix); !command.isEmpty())
            out += QStringLiteral("　直し方: ") + command + u'\n';
    }
    return out;
}

bool anyFailed(const std::vector<DoctorFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [](const DoctorFinding& f) {
        return f.level == DoctorFinding::Level::fail;
    });
}

}  // namespace pexil
