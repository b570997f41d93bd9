#pragma once

#include "kit/async/Task.h"
#include "tools/pexilctl/TetherRequest.h"

#include <QString>

#include <functional>
#include <optional>

namespace pexil {
class LiveViewModel;
class SessionModel;
}  // namespace pexil

namespace pexil::cli {

class Waiter;

// The steps of a tether run beyond shooting, each through the application's models and
// reporting one line per result through `line`.

// Applies one "LABEL=TEXT" through the model as the inspector would; the model's error text
// when the camera refuses, or when there is no such setting or choice.
async::Task<std::optional<QString>> applySetting(SessionModel& model, Waiter& waiter,
                                                 QString assignment);
// --af-at and --mf-drive, once live view runs: one result line each. False when one failed.
async::Task<bool> focusFromLiveView(LiveViewModel& liveView, Waiter& waiter,
                                    const TetherRequest& request,
                                    std::function<void(const QString&)> line);
// --focus-stack: the shots of the stack, then "focus-stack: SUMMARY". Ctrl+C stops it after
// the shot in progress. False unless every shot asked for was taken.
async::Task<bool> focusStack(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                             std::function<void(const QString&)> line);
// --interval: the --shoot releases spaced on the clock, "shot: OK HH:mm:ss" each, then
// "interval: SUMMARY". Ctrl+C stops it after the shot in progress. False unless every shot
// asked for was taken.
async::Task<bool> intervalSeries(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                                 std::function<void(const QString&)> line);
// --bracket: "shot: OK OFFSET" per shot of the bracket, then "bracket: SUMMARY". Ctrl+C stops
// it after the shot in progress; the setting it moved is put back either way. False unless
// every shot was taken.
async::Task<bool> bracketSeries(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                                std::function<void(const QString&)> line);

}  // namespace pexil::cli
