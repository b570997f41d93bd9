#include "camera/virtual/VirtualOperations.h"

#include "kit/ptp/PTP.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace pexil::camera {

namespace {

bool storageMatches(const VirtualBodyState& s, std::uint32_t storage) {
    return storage == kAllStorages || storage == s.model.storageId;
}

Reply getStorageIds(VirtualBodyState& s, const OperationCall&) {
    Bytes out;
    PTP::appendLE(out, std::uint32_t{1});
    PTP::appendLE(out, s.model.storageId);
    return Reply::withData(std::move(out));
}

Reply getStorageInfo(VirtualBodyState& s, const OperationCall& call) {
    const auto storage = call.param(0);
    if (!storage) return Reply::answer(PTP::Response::invalidParameter);
    if (*storage != s.model.storageId) return Reply::answer(PTP::Response::invalidStorageId);
    return Reply::withData(s.card->storageInfo());
}

// GetNumObjects and GetObjectHandles: the same choice, counted or listed.
Reply objectHandles(VirtualBodyState& s, const OperationCall& call) {
    const auto storage = call.param(0);
    if (!storage) return Reply::answer(PTP::Response::invalidParameter);
    if (!storageMatches(s, *storage)) return Reply::answer(PTP::Response::invalidStorageId);
    const auto list = s.card->handles(call.param(2).value_or(0),
                                      static_cast<std::uint16_t>(call.param(1).value_or(0)));
    if (!list) return Reply::answer(PTP::Response::invalidParentObject);
    if (call.operation.code == PTP::Op::getNumObjects) {
        Reply r;
        r.params = {static_cast<std::uint32_t>(list->size())};
        return r;
    }
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint32_t>(list->size()));
    for (const std::uint32_t handle : *list) PTP::appendLE(out, handle);
    return Reply::withData(std::move(out));
}

Reply getObjectInfo(VirtualBodyState& s, const OperationCall& call) {
    const auto handle = call.param(0);
    if (!handle) return Reply::answer(PTP::Response::invalidParameter);
    if (*handle == kSdramHandle && s.sdram) {
        return Reply::withData(
            pictureObjectInfo(s.sdram->facts, s.sdram->name, s.sdram->date, s.sdram->data.size())
                .encode());
    }
    auto info = s.card->objectInfo(*handle);
    if (!info) return Reply::answer(PTP::Response::invalidObjectHandle);
    return Reply::withData(std::move(*info));
}

// GetObject and GetPartialObject (offset, maximum length; the length sent is the response
// parameter).
Reply getObject(VirtualBodyState& s, const OperationCall& call) {
    const bool partial = call.operation.code == PTP::Op::getPartialObject;
    const auto handle = call.param(0);
    if (!handle) return Reply::answer(PTP::Response::invalidParameter);
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length;
    if (partial) {
        const auto from = call.param(1);
        const auto most = call.param(2);
        if (!from || !most) return Reply::answer(PTP::Response::invalidParameter);
        offset = *from;
        length = *most;
    }
    Reply r;
    if (*handle == kSdramHandle && s.sdram) {
        const std::uint64_t size = s.sdram->data.size();
        if (offset > size) return Reply::answer(PTP::Response::invalidParameter);
        const std::uint64_t n = std::min(size - offset, length.value_or(size));
        r.data = Bytes(s.sdram->data.begin() + static_cast<std::ptrdiff_t>(offset),
                       s.sdram->data.begin() + static_cast<std::ptrdiff_t>(offset + n));
        if (partial) r.params = {static_cast<std::uint32_t>(n)};
        return r;
    }
    const CardObject* object = s.card->object(*handle);
    if (!object || object->folder) return Reply::answer(PTP::Response::invalidObjectHandle);
    Reply::FileRange range{object->path, offset, length, std::nullopt};
    if (partial) {
        const auto size = static_cast<std::uint64_t>(QFileInfo(object->path).size());
        if (offset > size) return Reply::answer(PTP::Response::invalidParameter);
        r.params = {static_cast<std::uint32_t>(std::min(size - offset, *length))};
    } else {
        // A damaged file fails the whole download only; ranges and thumbnails still work.
        if (const auto failing = s.options.failObjects.find(object->name);
            failing != s.options.failObjects.end())
            return Reply::answer(failing->second);
        range.cutAfter = std::exchange(s.cutAfter, std::nullopt);
        range.overlong = std::exchange(s.overlong, 0);
    }
    r.file = std::move(range);
    return r;
}

Reply getThumb(VirtualBodyState& s, const OperationCall& call) {
    const auto handle = call.param(0);
    if (!handle) return Reply::answer(PTP::Response::invalidParameter);
    if (*handle == kSdramHandle && s.sdram) {
        const auto& t = s.sdram->facts.thumbnail;
        if (!t) return Reply::answer(PTP::Response::noThumbnailPresent);
        return Reply::withData(
            Bytes(s.sdram->data.begin() + static_cast<std::ptrdiff_t>(t->offset),
                  s.sdram->data.begin() + static_cast<std::ptrdiff_t>(t->offset + t->length)));
    }
    const CardObject* object = s.card->object(*handle);
    if (!object) return Reply::answer(PTP::Response::invalidObjectHandle);
    auto thumbnail = s.card->thumbnail(*handle);
    if (!thumbnail) return Reply::answer(PTP::Response::noThumbnailPresent);
    return Reply::withData(std::move(*thumbnail));
}

Reply deleteObject(VirtualBodyState& s, const OperationCall& call) {
    const auto handle = call.param(0);
    if (!handle) return Reply::answer(PTP::Response::invalidParameter);
    if (*handle == kAllObjects) return Reply::answer(PTP::Response::accessDenied);  // not from here
    if (*handle == kSdramHandle && s.sdram) {
        s.sdram.reset();
        s.raise(PTP::Event::objectRemoved, *handle);
        return Reply::answer(PTP::Response::ok);
    }
    const std::uint16_t result = s.card->remove(*handle);
    if (result == PTP::Response::ok) s.raise(PTP::Event::objectRemoved, *handle);
    return Reply::answer(result);
}

Reply getObjectPropList(VirtualBodyState& s, const OperationCall& call) {
    // Handle 0xFFFFFFFF, or the root (0) with unlimited depth: the whole card.
    // Format 0 and property 0xFFFFFFFF ask for everything; the group is not looked at.
    const auto handle = call.param(0);
    const auto format = call.param(1);
    const auto property = call.param(2);
    const auto depth = call.param(4);
    if (!handle || !format || !property) return Reply::answer(PTP::Response::invalidParameter);
    const bool wholeCard = *handle == kAllObjects || (*handle == 0 && depth == kAllObjects);
    if (!wholeCard && !s.card->object(*handle))
        return Reply::answer(PTP::Response::invalidObjectHandle);
    const auto list = s.card->objectPropList(wholeCard ? std::nullopt : std::optional(*handle),
                                             static_cast<std::uint16_t>(*format), *property);
    if (!list) return Reply::answer(PTP::Response::mtpObjectPropNotSupported);
    return Reply::withData(std::move(*list));
}

constexpr std::array kHandlers{
    HandlerEntry{PTP::Op::getStorageIDs, getStorageIds},
    HandlerEntry{PTP::Op::getStorageInfo, getStorageInfo},
    HandlerEntry{PTP::Op::getNumObjects, objectHandles},
    HandlerEntry{PTP::Op::getObjectHandles, objectHandles},
    HandlerEntry{PTP::Op::getObjectInfo, getObjectInfo},
    HandlerEntry{PTP::Op::getObject, getObject},
    HandlerEntry{PTP::Op::getPartialObject, getObject},
    HandlerEntry{PTP::Op::getThumb, getThumb},
    HandlerEntry{PTP::Op::deleteObject, deleteObject},
    HandlerEntry{PTP::Op::getObjectPropList, getObjectPropList},
};

}  // namespace

std::span<const HandlerEntry> storageHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
