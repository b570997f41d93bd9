#pragma once

#include <memory>

namespace pexil::async {

// Lets a coroutine running a member function find out, after each co_await, whether its
// object still exists: the object holds a Lifetime, the coroutine a Watch taken before
// suspending. Main thread only (check and use must not be separated by another thread).
class Lifetime {
public:
    class Watch {
    public:
        bool alive() const { return !token_.expired(); }

    private:
        friend class Lifetime;
        explicit Watch(std::weak_ptr<const char> token) : token_(std::move(token)) {}
        std::weak_ptr<const char> token_;
    };

    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    Watch watch() const { return Watch(token_); }

private:
    std::shared_ptr<const char> token_ = std::make_shared<const char>('\0');
};

}  // namespace pexil::async
