// One result type for everything that can fail: a value, or a Portuguese
// message saying why there is none.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace bsp2map {

struct Error {
    std::string message;
};

inline Error fail(std::string message)
{
    return Error{std::move(message)};
}

template <class T> class [[nodiscard]] Result {
public:
    Result(T value)
        : state_(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Error error)
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
    const std::string &error() const { return std::get<1>(state_).message; }
    Error takeError() { return std::move(std::get<1>(state_)); }

private:
    std::variant<T, Error> state_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : error_(std::move(error.message))
        , failed_(true)
    {
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string &error() const { return error_; }
    Error takeError() { return Error{std::move(error_)}; }

private:
    std::string error_;
    bool failed_ = false;
};

} // namespace bsp2map
