// The client view judges every request by its head before anything else of it is read.
#include "app/clientview/ClientRoute.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

using Kind = ClientRequest::Kind;

const QByteArray token = "Zk3q9_Tq-0aa";

HttpHead headOf(const QByteArray& text) {
    auto head = HttpHead::parse(text);
    EXPECT_TRUE(head) << text.toStdString();
    return head ? head.value() : HttpHead{};
}

TEST(HttpHead, ReadsTheRequestLineAndFieldsUpToTheBlankLine) {
    const QByteArray text =
        "GET /api/shots?t=x HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Content-Length:  12 \r\n\r\nbody";
    const auto head = HttpHead::parse(text);
    ASSERT_TRUE(head);
    EXPECT_EQ(head.value().method, "GET");
    EXPECT_EQ(head.value().target, "/api/shots?t=x");
    EXPECT_EQ(head.value().field("host"), QByteArray("127.0.0.1"));
    EXPECT_EQ(head.value().contentLength(), 12);
    EXPECT_EQ(head.value().size, text.size() - 4);
}

TEST(HttpHead, RefusesWhatIsNotAHeadAndWaitsForWhatIsNotComplete) {
    using Problem = HttpHead::Problem;
    const QByteArray manyFields =
        "GET / HTTP/1.1\r\n" + QByteArray("A: b\r\n").repeated(65) + "\r\n";
    const struct {
        QByteArray text;
        Problem problem;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n", Problem::incomplete},
        {"", Problem::incomplete},
        {QByteArray(HttpHead::maxBytes + 1, 'a'), Problem::tooLarge},
        {"GET /" + QByteArray(HttpHead::maxBytes, 'a') + " HTTP/1.1\r\n\r\n", Problem::tooLarge},
        {manyFields, Problem::tooLarge},
        {"GET / HTTP/2\r\n\r\n", Problem::malformed},
        {"GET  / HTTP/1.1\r\n\r\n", Problem::malformed},
        {"GET / HTTP/1.1\nHost: x\r\n\r\n", Problem::malformed},
        {"GE(T / HTTP/1.1\r\n\r\n", Problem::malformed},
        {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", Problem::malformed},
        {"GET / HTTP/1.1\r\n: empty name\r\n\r\n", Problem::malformed},
        {QByteArray("GET /\0 HTTP/1.1\r\n\r\n", 20), Problem::malformed},
    };
    for (const auto& c : cases) {
        const auto head = HttpHead::parse(c.text);
        ASSERT_FALSE(head) << c.text.left(60).toStdString();
        EXPECT_EQ(head.error(), c.problem) << c.text.left(60).toStdString();
    }
    EXPECT_EQ(headOf("GET / HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n").contentLength(),
              std::nullopt);
    EXPECT_EQ(headOf("GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n").contentLength(), std::nullopt);
}

TEST(ClientRoute, TheRoutesWithTheTokenAreTakenAndNothingElse) {
    const QByteArray t = "t=" + token;
    const struct {
        QByteArray line;   // request line without the version
        QByteArray extra;  // more header fields
        ClientRoute expected;
    } cases[] = {
        // Every route, with the token.
        {"GET /?" + t, "", ClientRequest{Kind::page, {}}},
        {"GET /client.js?" + t, "", ClientRequest{Kind::script, {}}},
        {"GET /client.css?" + t, "", ClientRequest{Kind::style, {}}},
        {"GET /api/shots?" + t, "", ClientRequest{Kind::shots, {}}},
        {"GET /api/preview/a7Q2?" + t, "", ClientRequest{Kind::preview, QStringLiteral("a7Q2")}},
        {"GET /api/original/a7Q2?" + t, "", ClientRequest{Kind::original, QStringLiteral("a7Q2")}},
        {"POST /api/favourite/a7?" + t, "Content-Length: 17\r\n",
         ClientRequest{Kind::favourite, QStringLiteral("a7")}},
        {"POST /api/comment/a7?" + t, "Content-Length: 2048\r\n",
         ClientRequest{Kind::comment, QStringLiteral("a7")}},
        {"GET /live?" + t, "Upgrade: WebSocket\r\nConnection: Upgrade\r\n",
         ClientRequest{Kind::live, {}}},
        // No token, another token, a token cut short or repeated: 401 wherever it points.
        {"GET /", "", ClientRefusal{401}},
        {"GET /api/preview/a7Q2", "", ClientRefusal{401}},
        {"GET /live", "Upgrade: websocket\r\n", ClientRefusal{401}},
        {"GET /?t=Zk3q9_Tq-0ab", "", ClientRefusal{401}},
        {"GET /?t=Zk3q9_Tq-0a", "", ClientRefusal{401}},
        {"GET /?t=", "", ClientRefusal{401}},
        {"GET /?T=" + token, "", ClientRefusal{401}},
        {"GET /../../etc/passwd", "", ClientRefusal{401}},
        // Paths that are not routes: 404, whatever they try.
        {"GET /api/preview/../../etc/passwd?" + t, "", ClientRefusal{404}},
        {"GET /api/preview/..%2F..%2Fetc%2Fpasswd?" + t, "", ClientRefusal{404}},
        {"GET /api/preview/%2e%2e?" + t, "", ClientRefusal{404}},
        {"GET /api/preview//etc/passwd?" + t, "", ClientRefusal{404}},
        {"GET /api/preview/a\\b?" + t, "", ClientRefusal{404}},
        {"GET //etc/passwd?" + t, "", ClientRefusal{404}},
        {"GET /etc/passwd?" + t, "", ClientRefusal{404}},
        {"GET http://127.0.0.1/?" + t, "", ClientRefusal{404}},
        {"GET /client.js/?" + t, "", ClientRefusal{404}},
        {"GET /api/preview/?" + t, "", ClientRefusal{404}},
        {"GET /api/preview/" + QByteArray(33, 'a') + "?" + t, "", ClientRefusal{404}},
        {"GET /?" + t + "&f=../../etc/passwd", "", ClientRefusal{404}},
        {"GET /?" + t + "&" + t, "", ClientRefusal{404}},
        // Methods and bodies.
        {"POST /api/shots?" + t, "Content-Length: 0\r\n", ClientRefusal{405}},
        {"GET /api/favourite/a7?" + t, "", ClientRefusal{405}},
        {"DELETE /?" + t, "", ClientRefusal{405}},
        {"POST /api/comment/a7?" + t, "", ClientRefusal{411}},
        {"POST /api/comment/a7?" + t, "Transfer-Encoding: chunked\r\n", ClientRefusal{411}},
        {"POST /api/comment/a7?" + t, "Content-Length: 10485760\r\n", ClientRefusal{413}},
        {"POST /api/comment/a7?" + t, "Content-Length: 2049\r\n", ClientRefusal{413}},
        {"GET /?" + t, "Content-Length: 5\r\n", ClientRefusal{413}},
        {"GET /?" + t, "Content-Length: x\r\n", ClientRefusal{400}},
        {"GET /live?" + t, "", ClientRefusal{400}},
    };
    for (const auto& c : cases) {
        const auto head = headOf(c.line + " HTTP/1.1\r\nHost: h\r\n" + c.extra + "\r\n");
        EXPECT_EQ(routeClient(head, token), c.expected) << c.line.toStdString();
    }
}

TEST(ClientRoute, NoTokenIsAcceptedWhenTheViewHasNone) {
    EXPECT_EQ(routeClient(headOf("GET /?t= HTTP/1.1\r\n\r\n"), QByteArray()),
              ClientRoute(ClientRefusal{401}));
    EXPECT_EQ(routeClient(headOf("GET / HTTP/1.1\r\n\r\n"), QByteArray()),
              ClientRoute(ClientRefusal{401}));
}

}  // namespace
}  // namespace pexil
