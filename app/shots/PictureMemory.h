#pragma once

namespace pexil {

// Makes the memory of a released picture go back to the system. glibc raises its threshold for
// mapping large blocks each time one is freed (up to 32 MB), after which the decoded previews,
// 1200-pixel thumbnails and decoder buffers of every shot come from the heap, and the holes they
// leave between long-lived small thumbnails are never returned: a long tethered session grew
// by about 180 kB a shot. With a fixed threshold every picture-sized block is a mapping of its
// own, unmapped when the picture is dropped. Call once, early in main(), before other threads.
void returnPictureMemoryToSystem();

}  // namespace pexil
