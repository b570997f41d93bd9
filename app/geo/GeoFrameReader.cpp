#include "app/geo/GeoFrameReader.h"

#include <algorithm>
#include <cstring>

namespace pexil {

std::size_t GeoFrameReader::wanted() const {
    switch (step_) {
        case Step::header:
            return static_cast<std::size_t>(GeoLink::headerSize) - (header_.size() - room_);
        case Step::body:
            return length_ - (body_.size() - room_);
        case Step::complete:
        case Step::failed:
            return 0;
    }
    return 0;
}

std::size_t GeoFrameReader::feed(ByteView bytes) {
    std::size_t taken = 0;
    // A header that completes mid-piece is checked before any body byte is taken.
    while (taken < bytes.size() && wanted() > 0) {
        const std::span<std::uint8_t> into = room(bytes.size() - taken);
        std::memcpy(into.data(), bytes.data() + taken, into.size());
        commit(into.size());
        taken += into.size();
    }
    return taken;
}

std::span<std::uint8_t> GeoFrameReader::room(std::size_t most) {
    // Room handed out and never committed counts as nothing arrived.
    commit(0);
    const std::size_t size = std::min(most, wanted());
    Bytes& into = step_ == Step::header ? header_ : body_;
    const std::size_t filled = into.size();
    if (step_ == Step::body && into.capacity() < filled + size) {
        // Geometric, so a body arriving in small pieces is not copied over and over; capped
        // at the announced length, so a sender that stops early costs only what it sent
        // (twice at most).
        into.reserve(std::min<std::size_t>(length_, std::max(filled + size, 2 * into.capacity())));
    }
    into.resize(filled + size);
    room_ = size;
    return {into.data() + filled, size};
}

void GeoFrameReader::commit(std::size_t written) {
    if (room_ == 0) return;
    Bytes& into = step_ == Step::header ? header_ : body_;
    into.resize(into.size() - room_ + std::min(written, room_));
    room_ = 0;
    if (step_ == Step::header && header_.size() == static_cast<std::size_t>(GeoLink::headerSize)) {
        const auto checked = GeoLink::checkHeader(header_);
        if (!checked) {
            failure_ = checked.error();
            step_ = Step::failed;
            return;
        }
        length_ = checked.value();
        step_ = Step::body;
    } else if (step_ == Step::body && body_.size() == length_) {
        step_ = Step::complete;
    }
}

}  // namespace pexil
