#pragma once

#include "kit/device/PropDesc.h"
#include "kit/ptp/PTP.h"

#include <map>
#include <vector>

namespace pexil {

// The current descriptors the session keeps, by property.
using Descriptors = std::map<PTP::Prop, PropDesc>;

// Which exposure controls the user may change and which the camera decides, by the
// current exposure program.
namespace ExposureLayout {

// nikonExposureTime when present with choices, else exposureTime.
PTP::Prop shutter(const Descriptors& in);
// The controls the user may change, in display order; only those present with choices.
std::vector<PTP::Prop> adjustable(const Descriptors& in);
// The values the camera sets by itself in the current program (shown read-only).
std::vector<PTP::Prop> cameraDecided(const Descriptors& in);
// The light meter means something only in manual exposure.
bool meterMeaningful(const Descriptors& in);

}  // namespace ExposureLayout
}  // namespace pexil
