#pragma once
#include "os/FileHandle.h"

#include <windows.h>

namespace quendle {

// The HANDLE inside a FileHandle, for the Windows bodies of os/ only. The empty value of
// FileHandle is INVALID_HANDLE_VALUE.
struct NativeHandle {
    static HANDLE handle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.handle_); }
    // Takes ownership of `handle`; INVALID_HANDLE_VALUE or nullptr gives an empty handle.
    static FileHandle adopt(HANDLE handle) {
        FileHandle file;
        file.handle_ = handle == nullptr || handle == INVALID_HANDLE_VALUE
                           ? FileHandle::Empty
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
