#pragma once
#include "os/FileHandle.h"

#include <windows.h>

namespace quendle {

// The HANDLE inside a FileHandle, for the Windows bodies of os/ only. An empty FileHandle holds
// INVALID_HANDLE_VALUE (-1).
struct NativeHandle {
    static HANDLE handle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.handle_); }
    // Takes ownership of `handle`; INVALID_HANDLE_VALUE or null gives an empty handle.
    static FileHandle adopt(HANDLE handle) {
        FileHandle file;
        file.handle_ = handle == nullptr || handle == INVALID_HANDLE_VALUE ? FileHandle::Empty
                                                                           : reinterpret_cast<std::intptr_t>(handle);
        return file;
    }
    static void reset(FileHandle& file, HANDLE handle) { file = adopt(handle); }
    static HANDLE release(FileHandle& file) {
        return reinterpret_cast<HANDLE>(std::exchange(file.handle_, FileHandle::Empty));
    }
};

inline HANDLE handleOf(const FileHandle& file) {
    return NativeHandle::handle(file);
}

} // namespace quendle
