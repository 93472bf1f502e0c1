// Files with the semantics of the Win32 calls the engine was written against.
//
// Handles are descriptors (opened O_CLOEXEC, never 0, 1 or 2); a closed or failed handle is
// INVALID_HANDLE_VALUE (-1).
// Windows share modes hold across processes: while a file is open with no sharing, every other open of
// it fails with ERROR_SHARING_VIOLATION, and an unshared open fails while the file is open anywhere.
// Deleting or renaming a file that is open anywhere fails the same way, and a rename never replaces an
// existing file. The last path component is matched exactly first, then by a unique case-insensitive
// match; two candidates that differ only in case fail with ERROR_INVALID_NAME.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win_error.h"

namespace kavrin::platform {

using HANDLE = int;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;

// Only FILE_SHARE_READ | FILE_SHARE_WRITE shares a file; any other share value opens it exclusively.
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;

inline constexpr DWORD CREATE_NEW = 1;  // fails with ERROR_FILE_EXISTS when the name is taken
// Replaces (empties) an existing file; fails with ERROR_SHARING_VIOLATION while it is open anywhere,
// whatever sharing that open allowed.
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

// Opening a file with the read-only attribute for writing fails with ERROR_ACCESS_DENIED, for root too,
// as on Windows; so does opening a directory.
HANDLE CreateFileA(const std::string& name, DWORD access, DWORD share, DWORD disposition);
bool CloseHandle(HANDLE handle);

// Reads up to count bytes at the handle's position; *done < count only at the end of the file.
bool ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* done);
// From now on the handle's reads come from a read-only shared map of the file, without a system call,
// where the file is a regular file on a local file system; false (nothing changed) elsewhere. A page
// that is gone (the file cut short by another process, a disk error) is read plainly again, so the read
// fails or comes up short as a plain read would, and never raises SIGBUS.
bool EnableMappedReads(HANDLE handle);
// Writes count bytes at the handle's position; a short write fails with ERROR_DISK_FULL.
bool WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* done);

// The new position, or -1 with the last error set (ERROR_NEGATIVE_SEEK before the start).
std::int64_t SetFilePointer(HANDLE handle, std::int64_t distance, DWORD method);
bool SetEndOfFile(HANDLE handle);  // cuts or extends the file at the current position
bool FlushFileBuffers(HANDLE handle);
// Reserves the disk blocks of the length bytes from offset without changing the file's length, so
// that writes there later cannot run out of space. ERROR_DISK_FULL when the space, or the process's
// file size limit, does not allow it; ERROR_NOT_SUPPORTED when the file system cannot reserve.
bool ReserveFileSpace(HANDLE handle, std::int64_t offset, std::int64_t length);
std::int64_t GetFileSize(HANDLE handle);  // -1 with the last error set on failure

// FILE_ATTRIBUTE_READONLY when the mode has no write bit at all or the file system is read-only.
DWORD GetFileAttributesA(const std::string& name);
bool DeleteFileA(const std::string& name);
// Fails with ERROR_ALREADY_EXISTS when the target exists, also up to case, unless it is the file itself
// (a rename that changes only case).
bool MoveFileA(const std::string& existing, const std::string& target);

// True for a file; false for a directory, a missing name, or an ambiguous one (ERROR_INVALID_NAME).
bool FileExists(const std::string& name);
// Whether two names reach one file (the same inode, or the same name up to case).
bool SameFile(const std::string& a, const std::string& b);

// Test hook: called before each file operation with its kind and the file's name; a non-zero result
// makes the operation fail with that code (a write fails before writing anything). Null by default.
enum class FileOp { Open, Create, Read, Write, Seek, Truncate, Flush, Delete, Move, Reserve };
using FileFaultHook = std::function<DWORD(FileOp op, const std::string& name)>;
void SetFileFaultHook(FileFaultHook hook);

}  // namespace kavrin::platform
