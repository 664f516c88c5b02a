#pragma once
#include <cstdint>
#include <string>

namespace quendle {

// Win32 error numbers that the program raises or reports.
namespace win32 {
constexpr uint32_t Success = 0;
constexpr uint32_t FileNotFound = 2;
constexpr uint32_t PathNotFound = 3;
constexpr uint32_t TooManyOpenFiles = 4;
constexpr uint32_t AccessDenied = 5;
constexpr uint32_t InvalidHandle = 6;
constexpr uint32_t NotEnoughMemory = 8;
constexpr uint32_t InvalidData = 13;
constexpr uint32_t OutOfMemory = 14;
constexpr uint32_t WriteProtect = 19;
constexpr uint32_t SharingViolation = 32;
constexpr uint32_t HandleEof = 38;
constexpr uint32_t HandleDiskFull = 39;
constexpr uint32_t NotSupported = 50;
constexpr uint32_t FileExists = 80;
constexpr uint32_t InvalidParameter = 87;
constexpr uint32_t BrokenPipe = 109;
constexpr uint32_t DiskFull = 112;
constexpr uint32_t InsufficientBuffer = 122;
constexpr uint32_t InvalidName = 123;
constexpr uint32_t DirNotEmpty = 145;
constexpr uint32_t BadPathName = 161;
constexpr uint32_t AlreadyExists = 183;
constexpr uint32_t FilenameExceedRange = 206;
constexpr uint32_t FileTooLarge = 223;
constexpr uint32_t MoreData = 234;
constexpr uint32_t NoMoreItems = 259;
constexpr uint32_t Directory = 267;
constexpr uint32_t NotAReparsePoint = 4390;
constexpr uint32_t BadFormat = 11;
constexpr uint32_t RegistryCorrupt = 1015;
constexpr uint32_t BadDbDatabase = 1009;
constexpr uint32_t RegistryIoFailed = 1016;
constexpr uint32_t NotRegistryFile = 1017;
constexpr uint32_t KeyDeleted = 1018;
constexpr uint32_t ChildMustBeVolatile = 1021;
constexpr uint32_t InvalidFlags = 1004;
constexpr uint32_t IoDevice = 1117;
constexpr uint32_t FileCorrupt = 1392;
constexpr uint32_t NotSameDevice = 17;
} // namespace win32

// The program's own English text for a Win32 error it raises; nullptr for any other code.
const char* knownErrorText(uint32_t code);

// The system's English text for a Win32 error, on one line, without a line end.
// Unknown codes give "Failed to get Windows error message [win32 error 0x..]."
std::string windowsErrorText(uint32_t code);

// The text other messages embed (message 186, the hive errors): the system's text with its own
// line end, or the code in signed decimal when there is no text.
std::string GetSystemErrorText(uint32_t code);

} // namespace quendle
