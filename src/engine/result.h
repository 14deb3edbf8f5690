// One error convention for the engine and the command line: a call that can fail returns a
// Result, which holds either its value or an Error that says why.
#pragma once
#include <string>
#include <utility>
#include <variant>

namespace tallox {

// Why something failed: a message a person can read (naming the codec, file or library's own
// word as the caller knows them) and the system's error number when a system call gave one.
struct Error {
    std::string message;
    int systemError = 0;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// A Result with no value: success, or the error.
struct Ok {};
using Status = Result<Ok>;

}  // namespace tallox
