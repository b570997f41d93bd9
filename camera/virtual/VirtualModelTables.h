#pragma once

#include <QStringView>

namespace pexil::camera {

// The property tables of the virtual bodies, in the format parsePropertyTable() reads.
// Static texts; callable from any thread.
QStringView d850PropertyTable();
QStringView z6PropertyTable();
QStringView j5PropertyTable();
QStringView genericPropertyTable();

}  // namespace pexil::camera
