#pragma once
#include <string_view>

namespace quendle::hostpath {

// open(2) through the confinement rules of FileSystem.h: a descriptor, or -1 with errno set.
int openFile(std::string_view path, int flags, unsigned mode = 0);

} // namespace quendle::hostpath
