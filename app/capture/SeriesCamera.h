#pragma once

#include "app/capture/CaptureModel.h"
#include "app/capture/ExposureBracket.h"
#include "app/settings/CameraSettingsModel.h"

#include <QObject>

#include <functional>

namespace pexil {

// What a series asks of the session's camera, for the window and the command line alike.
namespace SeriesCamera {

// The camera can take no picture now: its buffer is full, or a shot is still in progress.
std::function<bool()> bufferFull(CameraSettingsModel& settings, CaptureModel& capture);
// The bracket's hooks; `autofocus` is read at each shot.
ExposureBracket::Camera forBracket(CameraSettingsModel& settings, CaptureModel& capture,
                                   std::function<bool()> autofocus);

// Calls series->bufferChanged() whenever what bufferFull() reads may have changed.
template <class Series>
void followBuffer(CameraSettingsModel& settings, CaptureModel& capture, Series* series) {
    QObject::connect(&settings, &CameraSettingsModel::bufferRemainingChanged, series,
                     &Series::bufferChanged);
    QObject::connect(&capture, &CaptureModel::busyChanged, series, &Series::bufferChanged);
}

}  // namespace SeriesCamera
}  // namespace pexil
