#pragma once

#include "kit/ptp/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <utility>
#include <vector>

namespace pexil {

// The head of one HTTP/1.1 request as it came off the socket: the request line and the
// header fields, up to the blank line. Read before anything else of the request is, so that
// a request is judged (token, path, size) before a byte of its body is accepted.
struct HttpHead {
    static constexpr qsizetype maxBytes = 8 * 1024;
    static constexpr int maxFields = 64;

    enum class Problem {
        incomplete,  // no blank line yet; read on
        tooLarge,    // more than maxBytes or maxFields without the blank line
        malformed,   // not a request line and header fields
    };

    QByteArray method;
    QByteArray target;  // as sent: path and query, nothing decoded
    std::vector<std::pair<QByteArray, QByteArray>> fields;  // names in lower case
    qsizetype size = 0;  // bytes of the head, the blank line included

    // The first field of that (lower-case) name, trimmed.
    std::optional<QByteArray> field(QByteArrayView name) const;
    // The declared body length: 0 without the field, none when it is not a plain number.
    std::optional<qint64> contentLength() const;

    // Reads the head at the start of `bytes` (a request stays in the socket's buffer until
    // it is judged). Bounds-checked; never reads past `bytes`.
    static Result<HttpHead, Problem> parse(QByteArrayView bytes);
};

}  // namespace pexil
