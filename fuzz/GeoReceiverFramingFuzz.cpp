#include "app/geo/GeoFrameReader.h"
#include "app/geo/GeoLink.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The geo receiver's framing as any device on the network may drive it: a byte stream cut
// into pieces as TCP happens to deliver them. The first byte of the input chooses the piece
// sizes (two taken in turn: 1 to 16, and 1 to 241 in steps of 16), the rest is the stream. However
// it is cut, the reader must end in the same step with the same length and body as when the stream
// comes whole, agree with GeoLink's own header check, and never take a byte past the announced
// body.
namespace {

using pexil::ByteView;
using pexil::GeoFrameReader;

void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t pattern = data[0];
    const ByteView stream(data + 1, size - 1);

    GeoFrameReader whole;
    const std::size_t takenWhole = whole.feed(stream);

    GeoFrameReader pieces;
    std::size_t taken = 0;
    std::size_t offered = 0;
    for (bool odd = false; offered < stream.size(); odd = !odd) {
        const std::size_t piece = odd ? (pattern >> 4) * 16U + 1U : (pattern & 0x0FU) + 1U;
        const ByteView next = stream.subspan(offered, std::min(piece, stream.size() - offered));
        const std::size_t wanted = pieces.wanted();
        const std::size_t before = pieces.received();
        const bool inHeader = pieces.step() == GeoFrameReader::Step::header;
        const std::size_t got = pieces.feed(next);
        require(got <= next.size() && pieces.received() == before + got);
        // A piece may finish the header and go on into the body, never past the body.
        require(inHeader || got <= wanted);
        // Every offered byte is taken until the reader is done; after that, none.
        require(got == next.size() || pieces.wanted() == 0);
        taken += got;
        offered += next.size();
        // The zero-copy path the receiver uses, offered nothing, must change nothing.
        (void)pieces.room(0);
        pieces.commit(0);
        require(pieces.received() == taken);
    }

    require(taken == takenWhole && pieces.received() == taken);
    require(pieces.step() == whole.step() && pieces.length() == whole.length());
    require(pieces.failure() == whole.failure());

    constexpr auto headerSize = static_cast<std::size_t>(pexil::GeoLink::headerSize);
    if (stream.size() >= headerSize) {
        const auto checked = pexil::GeoLink::checkHeader(stream.first(headerSize));
        if (checked) {
            require(pieces.step() != GeoFrameReader::Step::header &&
                    pieces.step() != GeoFrameReader::Step::failed);
            require(pieces.length() == checked.value());
        } else {
            require(pieces.step() == GeoFrameReader::Step::failed &&
                    pieces.failure() == checked.error() && taken == headerSize);
        }
    } else {
        require(pieces.step() == GeoFrameReader::Step::header && taken == stream.size());
    }

    if (pieces.step() == GeoFrameReader::Step::body ||
        pieces.step() == GeoFrameReader::Step::complete) {
        const ByteView body = pieces.body();
        require(body.size() <= pieces.length());
        require(body.size() == taken - headerSize);
        require(std::equal(body.begin(), body.end(), stream.begin() + headerSize));
        require(std::equal(body.begin(), body.end(), whole.body().begin(), whole.body().end()));
        if (pieces.step() == GeoFrameReader::Step::complete) {
            require(body.size() == pieces.length());
            // What the receiver does next with a whole body; it must fail cleanly, not crash.
            (void)pexil::GeoLink::decodeEnvelope(body);
        }
    }
    return 0;
}
