#pragma once

#include <QString>
#include <QStringList>

namespace pexil::camera::UdevRule {

// Pexil's udev rule, which gives Nikon cameras and still-image devices to the user at the
// seat: what it is called, where udev looks for it, and what a user types to get it. Known
// here, beside the transport that is refused without it, and used by the device doctor.

inline const QString fileName = QStringLiteral("60-pexil-camera.rules");

// Where udev reads rules from, in its own order of precedence.
QStringList directories();

// Where the rule is installed; empty when it is nowhere.
QString installed(const QStringList& directories = UdevRule::directories(),
                  const QString& name = fileName);

// What a user who never installed the rule types to get it: a rule file written by tee, udev
// reloaded and the USB devices re-announced. Works without Pexil's sources at hand.
QString installCommand(const QString& name = fileName);

// The transport's text when a USB camera was refused for permission: with the rule
// installed it was not applied to the camera yet (installed after it was plugged in), else
// it is missing.
QString permissionHint(const QString& installedPath);

}  // namespace pexil::camera::UdevRule
