#include "app/naming/NameTemplate.h"

#include <array>
#include <utility>

namespace pexil {

namespace {

QString extensionOf(const QString& cameraName) {
    const int dot = cameraName.lastIndexOf(u'.');
    return dot > 0 ? cameraName.mid(dot) : QString();
}

// What comes from the fields must not leave the folder or hide the file.
QString fileSafe(QString text) {
    for (QChar& c : text)
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20) c = u'_';
    return text;
}

}  // namespace

QString NameTemplate::stemOf(const QString& cameraName) {
    const int dot = cameraName.lastIndexOf(u'.');
    return dot > 0 ? cameraName.left(dot) : cameraName;
}

Result<NameTemplate, QString> NameTemplate::parse(const QString& text) {
    NameTemplate out;
    if (text.size() > maxLength)
        return QString::fromUtf8("ファイル名の形式が長すぎます（%1 文字まで）").arg(maxLength);
    static const std::array<std::pair<const char*, Piece::Kind>, 7> fields{{
        {"session", Piece::Kind::session},
        {"date", Piece::Kind::date},
        {"time", Piece::Kind::time},
        {"counter", Piece::Kind::counter},
        {"name", Piece::Kind::name},
        {"number", Piece::Kind::number},
        {"model", Piece::Kind::model},
    }};
    QString literal;
    auto flush = [&] {
        if (literal.isEmpty()) return;
        out.pieces_.push_back({Piece::Kind::text, literal, 1});
        literal.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20)
            return QString::fromUtf8("ファイル名に使えない文字があります: ") +
                   (c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'))
                                       : QString(c));
        if (c == u'}') return QString::fromUtf8("「}」に対応する「{」がありません");
        if (c != u'{') {
            literal += c;
            continue;
        }
        const qsizetype close = text.indexOf(u'}', i + 1);
        if (close < 0) return QString::fromUtf8("「{」が閉じていません");
        const QString field = text.mid(i + 1, close - i - 1);
        const QString name = field.section(u':', 0, 0);
        const bool hasWidth = field.contains(u':');
        Piece piece;
        bool known = false;
        for (const auto& [key, kind] : fields) {
            if (name != QLatin1String(key)) continue;
            piece.kind = kind;
            known = true;
        }
        if (!known) return QString::fromUtf8("不明な項目です: {") + field + QStringLiteral("}");
        if (hasWidth) {
            if (piece.kind != Piece::Kind::counter)
                return QString::fromUtf8("桁数を指定できるのは {counter} だけです: {") + field +
                       QStringLiteral("}");
            bool number = false;
            const int width = field.section(u':', 1).toInt(&number);
            if (!number || width < 1 || width > 9 || field.count(u':') > 1)
                return QString::fromUtf8("連番の桁数は 1〜9 で指定してください: {") + field +
                       QStringLiteral("}");
            piece.width = width;
        }
        flush();
        out.pieces_.push_back(piece);
        i = close;
    }
    flush();
    // Without a field that changes from picture to picture, every picture would be named
    // alike and told apart only by "-1", "-2"…
    bool varies = out.pieces_.empty();
    for (const Piece& piece : out.pieces_)
        varies = varies || piece.kind == Piece::Kind::counter || piece.kind == Piece::Kind::name ||
                 piece.kind == Piece::Kind::number || piece.kind == Piece::Kind::time;
    if (!varies)
        return QString::fromUtf8(
            "{counter}、{name}、{number}、{time} のどれかを入れてください。"
            "ないとすべての写真が同じ名前になります");
    return out;
}

bool NameTemplate::usesCounter() const {
    for (const Piece& piece : pieces_)
        if (piece.kind == Piece::Kind::counter) return true;
    return false;
}

QString NameTemplate::render(const NameFields& fields) const {
    if (pieces_.empty()) return fields.cameraName;
    const QDateTime local = fields.taken.toLocalTime();
    const QString stem = stemOf(fields.cameraName);
    QString out;
    for (const Piece& piece : pieces_) {
        switch (piece.kind) {
            case Piece::Kind::text: out += piece.text; break;
            case Piece::Kind::session: out += fileSafe(fields.session); break;
            case Piece::Kind::date: out += local.toString(QStringLiteral("yyyyMMdd")); break;
            case Piece::Kind::time: out += local.toString(QStringLiteral("HHmmss")); break;
            case Piece::Kind::counter:
                out += QStringLiteral("%1").arg(fields.counter, piece.width, 10, QChar(u'0'));
                break;
            case Piece::Kind::name: out += fileSafe(stem); break;
            case Piece::Kind::number: {
                qsizetype start = stem.size();
                while (start > 0 && stem[start - 1].isDigit()) --start;
                out += stem.mid(start);
                break;
            }
            case Piece::Kind::model: out += fileSafe(fields.model); break;
        }
    }
    if (out.isEmpty()) return fields.cameraName;
    if (out.startsWith(u'.')) out[0] = u'_';
    return out + fileSafe(extensionOf(fields.cameraName));
}

}  // namespace pexil
