// The Win32 registry calls over a store of files: one file per root key ("HKEY_CURRENT_USER.reg", ...)
// in the registry editor's export text (platform/registry_text.h).
//
// The folder: $KAVRIN_REGISTRY_DIR, else $XDG_CONFIG_HOME/kavrin/registry, else ~/.config/kavrin/registry;
// it and the file are made on the first write. A write locks "<root>.reg.lock" beside the file, reads
// the file again, changes it, writes "<root>.reg.tmp" and renames that into place, so processes never
// lose each other's values and readers never see half a file. A file that does not parse is never
// written: every call under that root gives ERROR_REGISTRY_CORRUPT and the file stays as it is.
//
// Value names are passed as text; the empty name is the key's unnamed value. Opened keys are handles
// of this process, valid until RegCloseKey.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_error.h"

namespace kavrin::platform {

using HKEY = std::uint32_t;
using LONG = std::int32_t;
using REGSAM = DWORD;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;

// sub_key splits at '\' only; empty components (a leading or doubled '\') are skipped. Missing key:
// ERROR_FILE_NOT_FOUND. A damaged root file: ERROR_REGISTRY_CORRUPT.
LONG RegOpenKeyExA(HKEY key, const std::string& sub_key, DWORD options, REGSAM desired, HKEY* result);
// Opens the key, making every missing level; *disposition (when not null) tells which. Only
// REG_OPTION_NON_VOLATILE is taken.
LONG RegCreateKeyExA(HKEY key, const std::string& sub_key, DWORD options, REGSAM desired, HKEY* result,
                     DWORD* disposition);
// With data null, *size gets the value's size; a read through the same handle right after it gets the
// very value that was measured, whatever other processes wrote meanwhile. A buffer that is too small
// gives ERROR_MORE_DATA with the size needed.
LONG RegQueryValueExA(HKEY key, const std::string& value_name, DWORD* type, std::uint8_t* data, DWORD* size);
// A name holding a line break or a NUL cannot be stored: ERROR_INVALID_PARAMETER.
LONG RegSetValueExA(HKEY key, const std::string& value_name, DWORD type, const std::uint8_t* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const std::string& value_name);
LONG RegCloseKey(HKEY key);

// The folder of the root files, as the environment gives it now.
std::string RegistryDirectory();

}  // namespace kavrin::platform
