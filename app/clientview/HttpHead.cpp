#include "app/clientview/HttpHead.h"

namespace pexil {

namespace {

// Token characters of a method and a field name (RFC 9110); nothing else may stand there.
bool isToken(QByteArrayView text) {
    if (text.isEmpty()) return false;
    for (const char c : text) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && !QByteArrayView("!#$%&'*+-.^_`|~").contains(c)) return false;
    }
    return true;
}

bool hasControl(QByteArrayView text) {
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

}  // namespace

std::optional<QByteArray> HttpHead::field(QByteArrayView name) const {
    for (const auto& [key, value] : fields)
        if (key == name) return value;
    return std::nullopt;
}

std::optional<qint64> HttpHead::contentLength() const {
    const auto value = field("content-length");
    if (!value) return 0;
    if (value->isEmpty() || value->size() > 15) return std::nullopt;
    for (const char c : *value)
        if (c < '0' || c > '9') return std::nullopt;
    return value->toLongLong();
}

Result<HttpHead, HttpHead::Problem> HttpHead::parse(QByteArrayView bytes) {
    const qsizetype end = bytes.indexOf(QByteArrayView("\r\n\r\n"));
    if (end < 0) return bytes.size() > maxBytes ? Problem::tooLarge : Problem::incomplete;
    if (end + 4 > maxBytes) return Problem::tooLarge;

    HttpHead head;
    head.size = end + 4;
    const QList<QByteArray> lines = bytes.first(end).toByteArray().split('\n');
    if (lines.size() - 1 > maxFields) return Problem::tooLarge;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        // Every line of the head ends in CRLF; a bare LF is refused rather than guessed at.
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r')) return Problem::malformed;
            line.chop(1);
        }
        if (hasControl(line)) return Problem::malformed;
        if (i == 0) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty() ||
                (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0"))
                return Problem::malformed;
            head.method = parts[0];
            head.target = parts[1];
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon))) return Problem::malformed;
        head.fields.emplace_back(line.first(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    return head;
}

}  // namespace pexil
