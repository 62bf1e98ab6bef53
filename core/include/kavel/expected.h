// Errors as values for the core: a result is either a value or an Error with a
// short reason a user can read. The core throws nothing of its own: failed
// file calls, refused sizes and the memory for an image or a band of lines
// come back as an Error, and so does a std::exception from a FileWriter. What
// can still leave it is std::bad_alloc from the small strings and containers it
// builds (messages, paths, texts, file lists), std::system_error from
// std::random_device when the system has no entropy source, and whatever a
// caller's LineConsumer throws.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kavel {

struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)), ok_(false) {}

    bool ok() const noexcept { return ok_; }
    explicit operator bool() const noexcept { return ok_; }
    const Error& error() const { return error_; }

private:
    Error error_;
    bool ok_ = true;
};

using Status = Expected<void>;

}  // namespace kavel
