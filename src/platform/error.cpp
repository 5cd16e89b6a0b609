#include "platform/error.h"

#include <cerrno>

namespace platform {

Error Error::of(int code, Step step, std::string_view path) {
    return Error{code, step, std::string(path)};
}

const Error& Result<void>::none() {
    static const Error nothing;
    return nothing;
}

Error Error::last(Step step, std::string_view path) {
    return of(errno, step, path);
}

}  // namespace platform
