#include "app/shots/PictureMemory.h"

#include <malloc.h>

namespace pexil {

void returnPictureMemoryToSystem() {
    // The 1200-pixel thumbnails (3.8 MB), previews and full-size decoder buffers are above it;
    // smaller blocks (128-pixel thumbnails, scaled decodes, texts) stay on the heap, where they
    // are reused without fresh pages to fault in: at 256 kB a shot reached the screen about
    // 10 ms later, for no memory saved.
    constexpr int threshold = 2 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, threshold);
}

}  // namespace pexil
