// One shape for everything that can fail, in the converter and in the
// program alike: a value, or an error of the caller's own kind saying why
// there is none. Standard library only: the converter has no Qt.
#pragma once

#include <utility>
#include <variant>

namespace vostrand {

template <class T, class E> class [[nodiscard]] BasicResult {
public:
    BasicResult(T value)
        : state_(std::in_place_index<0>, std::move(value))
    {
    }
    BasicResult(E error)
        : state_(std::in_place_index<1>, std::move(error))
    {
    }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T &value() { return std::get<0>(state_); }
    const T &value() const { return std::get<0>(state_); }
    T &operator*() { return value(); }
    const T &operator*() const { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }
    // Why it failed; an empty error when it did not.
    const E &error() const
    {
        static const E none{};
        return ok() ? none : std::get<1>(state_);
    }
    E takeError() { return std::move(std::get<1>(state_)); }

private:
    std::variant<T, E> state_;
};

template <class E> class [[nodiscard]] BasicResult<void, E> {
public:
    BasicResult() = default;
    BasicResult(E error)
        : error_(std::move(error))
        , failed_(true)
    {
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const E &error() const { return error_; }
    E takeError() { return std::move(error_); }

private:
    E error_{};
    bool failed_ = false;
};

} // namespace vostrand
