#pragma once
#include "os/UniqueFd.h"

namespace quendle {

// The descriptor inside a UniqueFd, for the POSIX bodies of os/ only.
struct NativeHandle {
    static int fd(const UniqueFd& file) { return static_cast<int>(file.handle_); }
    // Takes ownership of `fd`; -1 gives an empty handle.
    static UniqueFd adopt(int fd) {
        UniqueFd file;
        file.handle_ = fd < 0 ? UniqueFd::Empty : fd;
        return file;
    }
    static void reset(UniqueFd& file, int fd) { file = adopt(fd); }
    static int release(UniqueFd& file) {
        return static_cast<int>(std::exchange(file.handle_, UniqueFd::Empty));
    }
};

inline int fdOf(const UniqueFd& file) {
    return NativeHandle::fd(file);
}

} // namespace quendle
