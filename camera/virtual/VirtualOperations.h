#pragma once

// The virtual camera's operation handlers, one table per area. A handler runs with the
// body's lock held, decides everything about its operation and leaves the data phase to the
// delivery (VirtualDelivery), which runs without the lock.

#include "camera/virtual/VirtualBodyState.h"

#include <optional>
#include <span>

namespace pexil::camera {

// One operation as a handler sees it.
struct OperationCall {
    const Operation& operation;
    std::optional<ByteView> outData;

    std::optional<std::uint32_t> param(std::size_t i) const {
        if (i >= operation.params.size()) return std::nullopt;
        return operation.params[i];
    }
};

using OperationHandler = Reply (*)(VirtualBodyState& body, const OperationCall& call);

struct HandlerEntry {
    PTP::Op operation;
    OperationHandler handler;
};

// Storage and objects: storage IDs and info, object handles and info, GetObject,
// GetPartialObject, GetThumb, DeleteObject, GetObjectPropList (VirtualStorageOperations.cpp).
std::span<const HandlerEntry> storageHandlers();
// Device properties: descriptors, values, writes, DateTime (VirtualPropertyOperations.cpp).
std::span<const HandlerEntry> propertyHandlers();
// Capture and Nikon control: InitiateCapture, Nikon capture, AfDrive, ChangeCameraMode,
// CheckEvent, DeviceReady, GetVendorPropCodes (VirtualControlOperations.cpp).
std::span<const HandlerEntry> controlHandlers();
// Nikon live view: start, end, frames (VirtualLiveViewOperations.cpp).
std::span<const HandlerEntry> liveViewHandlers();

// Everything before the tables: link-breaking operations, DeviceInfo, what the body does not
// announce, the session, the busy knob; then the handler of the operation.
Reply dispatchOperation(VirtualBodyState& body, const OperationCall& call);

}  // namespace pexil::camera
