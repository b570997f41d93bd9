#include "app/clientview/ClientRoute.h"
#include "app/clientview/HttpHead.h"

#include <cstddef>
#include <cstdint>

// Whatever a browser on the network sends reaches these two first. A head is never longer
// than the input, and nothing is routed that is not exactly one of the view's routes: an
// accepted request carries no dot segment, no encoded character and no doubled slash.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto head = pexil::HttpHead::parse(input);
    if (!head) return 0;
    if (head.value().size > input.size() || head.value().size > pexil::HttpHead::maxBytes)
        __builtin_trap();
    const QByteArray token = "fuzz";
    const auto route = pexil::routeClient(head.value(), token);
    const auto* request = std::get_if<pexil::ClientRequest>(&route);
    if (!request) return 0;
    const QByteArray& target = head.value().target;
    const QByteArray path = target.left(target.indexOf('?'));
    if (path.contains("..") || path.contains('%') || path.contains("//") || path.contains('\\'))
        __builtin_trap();
    if (!request->id.isEmpty() && !pexil::isClientId(request->id.toLatin1())) __builtin_trap();
    if (!target.endsWith("?t=fuzz")) __builtin_trap();
    return 0;
}
