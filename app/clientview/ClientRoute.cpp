#include "app/clientview/ClientRoute.h"

namespace pexil {

namespace {

using Kind = ClientRequest::Kind;

// Compares without stopping at the first difference, so that the time taken does not tell
// how much of a guessed token was right.
bool sameToken(QByteArrayView given, QByteArrayView token) {
    if (given.size() != token.size() || token.isEmpty()) return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

// The value of the one parameter "t"; none when it is missing, repeated or not alone.
// Anything else in the query (another parameter, an encoded character other than the
// token's own) makes the target unknown.
struct Query {
    std::optional<QByteArray> token;
    bool foreign = false;
};

Query readQuery(QByteArrayView query) {
    Query out;
    if (query.isEmpty()) return out;
    for (const QByteArray& pair : query.toByteArray().split('&')) {
        if (!pair.startsWith("t=") || out.token) {
            out.foreign = true;
            continue;
        }
        out.token = pair.mid(2);
    }
    return out;
}

struct Target {
    Kind kind;
    QByteArray id;
};

std::optional<Target> readPath(QByteArrayView path) {
    static constexpr std::pair<const char*, Kind> fixed[] = {
        {"/", Kind::page},           {"/client.js", Kind::script}, {"/client.css", Kind::style},
        {"/api/shots", Kind::shots}, {"/live", Kind::live},
    };
    for (const auto& [name, kind] : fixed)
        if (path == QByteArrayView(name)) return Target{kind, {}};
    static constexpr std::pair<const char*, Kind> withId[] = {
        {"/api/preview/", Kind::preview},
        {"/api/original/", Kind::original},
        {"/api/favourite/", Kind::favourite},
        {"/api/comment/", Kind::comment},
    };
    for (const auto& [prefix, kind] : withId) {
        const QByteArrayView start(prefix);
        if (path.startsWith(start) && isClientId(path.sliced(start.size())))
            return Target{kind, path.sliced(start.size()).toByteArray()};
    }
    return std::nullopt;
}

}  // namespace

bool isClientId(QByteArrayView id) {
    if (id.isEmpty() || id.size() > 32) return false;
    for (const char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

ClientRoute routeClient(const HttpHead& head, const QByteArray& token) {
    const QByteArrayView target(head.target);
    const qsizetype mark = target.indexOf('?');
    const QByteArrayView path = mark < 0 ? target : target.first(mark);
    const QByteArrayView query = mark < 0 ? QByteArrayView() : target.sliced(mark + 1);

    const Query asked = readQuery(query);
    if (!asked.token || !sameToken(*asked.token, token)) return ClientRefusal{401};
    // Only exact routes pass: "..", "%2F", "//", "\" and "http://…" match none of them.
    const auto where = readPath(path);
    if (!where || asked.foreign) return ClientRefusal{404};

    const bool posts = where->kind == Kind::favourite || where->kind == Kind::comment;
    if (head.method != (posts ? "POST" : "GET")) return ClientRefusal{405};
    if (head.field("transfer-encoding")) return ClientRefusal{411};
    const auto length = head.contentLength();
    if (!length) return ClientRefusal{400};
    if (posts && !head.field("content-length")) return ClientRefusal{411};
    if (*length > (posts ? maxClientBody : 0)) return ClientRefusal{413};
    if (where->kind == Kind::live &&
        head.field("upgrade").value_or(QByteArray()).toLower() != "websocket")
        return ClientRefusal{400};
    return ClientRequest{where->kind, QString::fromLatin1(where->id)};
}

}  // namespace pexil
