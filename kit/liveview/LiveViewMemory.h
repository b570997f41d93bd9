#pragma once

#include <QString>

namespace pexil {

// Where live view remembers which bodies give frames only while recording to their own
// memory (SDRAM), so that the next start goes there at once. The protocol library keeps no
// preferences of its own: the application hands in its store. Main thread only.
class LiveViewMemory {
public:
    virtual ~LiveViewMemory() = default;
    // `key` names one body ("liveViewNeedsSDRAM." + its identifier).
    virtual bool needsSDRAM(const QString& key) const = 0;
    virtual void rememberNeedsSDRAM(const QString& key) = 0;
};

}  // namespace pexil
