#pragma once

namespace quendle::xmllib {

// Registers a Windows-1252 encoding with libxml2 (names "windows-1252" and "CP1252"), so that
// documents declared in it read and write the same on every platform: libxml2 built without
// iconv (the Windows build) knows only UTF-8, UTF-16 and Latin-1 by itself. The five bytes the
// code page leaves unassigned read as the C1 controls of the same value, as elsewhere in the
// program. Called once, from initialize().
void registerWindows1252Encoding();

} // namespace quendle::xmllib
