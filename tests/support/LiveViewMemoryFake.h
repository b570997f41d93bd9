#pragma once

#include "kit/liveview/LiveViewMemory.h"

#include <set>

namespace pexil::testing {

// Live view's memory of SDRAM bodies, kept in the test.
class LiveViewMemoryFake final : public LiveViewMemory {
public:
    bool needsSDRAM(const QString& key) const override { return keys.count(key) > 0; }
    void rememberNeedsSDRAM(const QString& key) override { keys.insert(key); }

    std::set<QString> keys;
};

}  // namespace pexil::testing
