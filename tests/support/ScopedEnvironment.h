#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>
#include <utility>
#include <vector>

namespace pexil::testing {

// Environment variables set for a test's lifetime (its home, its state and data folders),
// each put back as it was at the end, unset where it was unset. The environment is the
// process's: fixtures using this must not run in parallel threads.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, QByteArray>> values) {
        for (const auto& [name, value] : values) {
            saved_.push_back({name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
            qputenv(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->value.isNull())
                qunsetenv(it->name);
            else
                qputenv(it->name, it->value);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    struct Saved {
        const char* name;
        QByteArray value;  // null: it was not set
    };
    std::vector<Saved> saved_;
};

}  // namespace pexil::testing
