#pragma once

namespace quendle::foldertree {

// Removal of folder trees through descriptors only: no path is ever resolved again, no symbolic
// link is followed (links are removed as links), and the walk keeps no per-level state, so any
// depth works. Only system calls and stack buffers: safe inside a signal handler. Failures are
// ignored; what cannot be removed stays.

// Removes everything below the folder open as `folderFd`, except an entry named `keepName` at
// its top level (nullptr for none).
void emptyFolder(int folderFd, const char* keepName = nullptr) noexcept;

// Removes the entry `name` of the folder open as `parentFd`: a file, a link, or a whole tree.
// When `keepLast` is given, that top-level entry of the tree goes only after everything else.
void removeAt(int parentFd, const char* name, const char* keepLast = nullptr) noexcept;

} // namespace quendle::foldertree
