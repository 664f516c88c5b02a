#pragma once
#include <windows.h>

namespace quendle::bytelock {

// Locks on Windows are mandatory for the locked bytes, so the lock sits on one byte far beyond
// any real end of file: reading and writing the file stay free through every handle, while a
// second exclusive lock on the same byte is refused. Like flock, it ends with the handle (and
// with the process).
inline OVERLAPPED lockedByte() {
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFE;
    where.OffsetHigh = 0x7FFFFFFF;
    return where;
}

// Takes the lock; `wait` false answers false at once when another handle holds it
// (GetLastError is then ERROR_LOCK_VIOLATION).
inline bool lock(HANDLE file, bool wait) {
    OVERLAPPED where = lockedByte();
    DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(file, flags, 0, 1, 0, &where) != 0;
}

inline void unlock(HANDLE file) {
    OVERLAPPED where = lockedByte();
    UnlockFileEx(file, 0, 1, 0, &where);
}

} // namespace quendle::bytelock
