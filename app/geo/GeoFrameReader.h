#pragma once

#include "app/geo/GeoLink.h"
#include "kit/ptp/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pexil {

// Assembles one geo link message from bytes as they arrive, in pieces of any size: the 10
// header bytes, the header's checks (GeoLink::checkHeader), then exactly the announced body.
// It never takes a byte beyond the body, so what follows the message stays with its sender.
// The body is held only as far as it has arrived, growing geometrically up to the announced
// length, never beyond it.
//
// The reader knows nothing of connections or time: a read that ends early (the peer left, a
// time limit ran out) is the caller's to call a failure, by the step it was in
// (Step::header: Failure::header; Step::body: Failure::body).
//
// A plain value; any thread, one at a time.
class GeoFrameReader {
public:
    enum class Step {
        header,    // wants the rest of the 10 header bytes
        body,      // the header passed its checks; wants the rest of the body
        complete,  // the whole body is in: body()
        failed,    // the header failed a check: failure()
    };

    Step step() const { return step_; }
    // Bytes still wanted to finish the current step; 0 once complete or failed.
    std::size_t wanted() const;

    // Takes at most wanted() bytes from the front of `bytes` and gives how many it took.
    std::size_t feed(ByteView bytes);
    // The same without a copy: room for up to `most` of the wanted bytes (fewer when fewer are
    // wanted), to be filled by the caller, who then says how many it wrote. Only valid until
    // the next call.
    std::span<std::uint8_t> room(std::size_t most);
    void commit(std::size_t written);

    // The announced body length, once the header passed; else 0.
    std::uint32_t length() const { return length_; }
    // Header and body bytes taken so far.
    std::size_t received() const { return header_.size() + body_.size() - room_; }
    // The header check that failed, when step() is failed.
    std::optional<GeoLink::Failure> failure() const { return failure_; }
    // The body so far; the whole of it once complete.
    ByteView body() const {
        return ByteView(body_).first(body_.size() - (step_ == Step::body ? room_ : 0));
    }
    // Lets the body's memory go; the step stays.
    void releaseBody() { Bytes().swap(body_); }

private:
    Step step_ = Step::header;
    Bytes header_;
    Bytes body_;
    // Bytes handed out by room() and not yet committed, at the end of the current step's
    // buffer; they count as nothing arrived.
    std::size_t room_ = 0;
    std::uint32_t length_ = 0;
    std::optional<GeoLink::Failure> failure_;
};

}  // namespace pexil
