#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <variant>

// Causes handed up as values. errno does not survive the way out of a call
// (the close() of a descriptor given up may change it), and a caller that
// probes again to learn why can reach a different answer than the call did.
namespace platform {

// What a call was doing when it failed.
enum class Step {
    MakeFolder,  // mkdir: something stands there that is not a folder, or no right to
    FollowLink,  // a symbolic link on the way leads to nothing
    OpenFolder,
    CreateFile,
    OpenFile,
    SetMode,  // fchmod, fcntl, lseek on what was just made or opened
    Trust,    // refused by the ownership rule or the kind of entry (code EPERM)
    List,
    Write,
    Replace,  // rename into place
    Remove,
    Resolve,  // realpath
};

struct Error {
    int code = 0;  // the errno value met
    Step step = Step::OpenFile;
    std::string path;  // what the step was about; "" when not a path

    // Takes errno as it stands now: call it first thing after the failure.
    static Error last(Step step, std::string path = {}) {
        return Error{errno, step, std::move(path)};
    }
};

// A value, or the Error that kept it from being had. Read the value only
// when ok(): nothing here throws.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& operator*() & { return *std::get_if<0>(&v_); }
    const T& operator*() const& { return *std::get_if<0>(&v_); }
    T&& operator*() && { return std::move(*std::get_if<0>(&v_)); }
    T* operator->() { return std::get_if<0>(&v_); }
    const T* operator->() const { return std::get_if<0>(&v_); }
    const Error& error() const { return *std::get_if<1>(&v_); }

    // The value, for a caller that needs no cause.
    std::optional<T> take() && {
        if (!ok()) return std::nullopt;
        return std::move(*std::get_if<0>(&v_));
    }
    friend bool operator==(const Result& r, const T& value) { return r.ok() && *r == value; }

  private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

  private:
    std::optional<Error> error_;
};

using Done = Result<void>;

}  // namespace platform
