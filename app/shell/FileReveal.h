#pragma once

#include <QString>

namespace pexil::shell {

// Shows files and folders in the desktop's file manager. A picture is never opened itself:
// its name comes from the camera.
namespace FileReveal {

// Selects the file in a file manager window (org.freedesktop.FileManager1), falling back to
// opening its folder. Whether something was asked to open.
bool showFile(const QString& path);
// Opens the folder in the file manager.
bool openFolder(const QString& path);

}  // namespace FileReveal
}  // namespace pexil::shell
