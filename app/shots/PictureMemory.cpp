#include "app/shots/PictureMemory.h"

#include <malloc.h>

namespace pexil {

void returnPictureMemoryToSystem() {
    // Previews, large thumbnails and decoder buffers are far above it; the many small blocks
    // (128-pixel thumbnails, texts, events) stay on the heap, where a mapping each would cost
    // a system call.
    constexpr int threshold = 256 * 1024;
    mallopt(M_MMAP_THRESHOLD, threshold);
}

}  // namespace pexil
