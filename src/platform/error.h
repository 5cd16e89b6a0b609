#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
    // The errno value met; or the one that names what was met where no call
    // gave one: EBUSY for what could not be cleared away in time, ENOSPC for
    // a write that made no progress, EPERM for Trust.
    int code = 0;
    Step step = Step::OpenFile;
    std::string path;  // what the step was about; "" when not a path

    // Made out of line: a call is all that each of the many failure paths
    // costs the binary.
    static Error of(int code, Step step, std::string_view path = {});
    // Takes errno as it stands now: call it first thing after the failure.
    static Error last(Step step, std::string_view path = {});
};

// A value, or the Error that kept it from being had. Read the value only
// when ok(): nothing here throws.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return *std::move(value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const Error& error() const { return error_; }

    friend bool operator==(const Result& r, const T& value) { return r.ok() && *r == value; }

  private:
    std::optional<T> value_;
    Error error_;  // when there is no value
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    // An empty Error (code 0) on success.
    const Error& error() const { return error_ ? *error_ : none(); }

  private:
    static const Error& none();
    std::optional<Error> error_;
};

using Done = Result<void>;

}  // namespace platform
