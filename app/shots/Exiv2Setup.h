#pragma once

namespace pexil {

// Sets Exiv2 up once for the whole process, before any thread reads or writes metadata with
// it. Any thread; cheap after the first call.
void prepareExiv2();

}  // namespace pexil
