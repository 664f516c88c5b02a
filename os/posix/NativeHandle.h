#pragma once
#include "os/FileHandle.h"

namespace quendle {

// The descriptor inside a FileHandle, for the POSIX bodies of os/ only.
struct NativeHandle {
    static int fd(const FileHandle& file) { return static_cast<int>(file.handle_); }
    // Takes ownership of `fd`; -1 gives an empty handle.
    static FileHandle adopt(int fd) {
        FileHandle file;
        file.handle_ = fd < 0 ? FileHandle::Empty : fd;
        return file;
    }
    static void reset(FileHandle& file, int fd) { file = adopt(fd); }
    static int release(FileHandle& file) {
        return static_cast<int>(std::exchange(file.handle_, FileHandle::Empty));
    }
};

inline int fdOf(const FileHandle& file) {
    return NativeHandle::fd(file);
}

} // namespace quendle
