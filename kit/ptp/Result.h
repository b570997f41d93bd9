#pragma once

#include <utility>
#include <variant>

namespace pexil {

// A value or an error, for results that cross a module boundary. Accessing the wrong
// side is a programming error.
template <class T, class E>
class Result {
public:
    Result(T value)
        : state_(std::in_place_index<0>, std::move(value)) {
    }  // NOLINT(google-explicit-constructor)
    Result(E error)
        : state_(std::in_place_index<1>, std::move(error)) {
    }  // NOLINT(google-explicit-constructor)

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

// Success without a value.
struct Done {
    friend bool operator==(Done, Done) = default;
};

}  // namespace pexil
