// vantor/registry.h — the registry, kept in a text file.
//
// The file is $VANTOR_REGISTRY, else $XDG_CONFIG_HOME/vantor/registry, else
// ~/.config/vantor/registry. It is read into memory, re-read when it changes on disk, and
// written atomically (temporary file, then rename) after each change:
//
//   HKEY key;
//   if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", 0, KEY_READ, &key) == ERROR_SUCCESS) {
//       char path[512]; DWORD size = sizeof path, type = 0;
//       RegQueryValueExA(key, "DXSDK Samples Path", nullptr, &type, (BYTE*)path, &size);
//       RegCloseKey(key);
//   }
//
// A writer holds an advisory lock on "<file>.lock" from re-reading the file to renaming the new
// one into place, so writers in several processes lose nothing; the new file keeps the old one's
// permission bits. As on Windows, a key is at most 512 levels deep and its path below the root
// at most 32,767 characters; key names hold no control characters (ERROR_INVALID_PARAMETER).
//
// The format is REGEDIT4-like: "[HKEY_CLASSES_ROOT\Key\Sub]" lines open a key; '@="text"' sets
// its default value, '"Name"="text"' a string and '"Name"=dword:0000000a' a number. A file that
// cannot be read or parsed is reported on the debugger output, treated as empty, and never
// overwritten: changes then fail with ERROR_BADDB.
#pragma once

#include <vantor/types.h>

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define REG_NONE 0
#define REG_SZ 1
#define REG_DWORD 4

#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

extern "C" {
VANTOR_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
VANTOR_API LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                DWORD options, REGSAM sam, void* security, PHKEY result,
                                LPDWORD disposition);
VANTOR_API LONG RegCloseKey(HKEY key);
VANTOR_API LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                 BYTE* data, LPDWORD dataSize);
VANTOR_API LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                               const BYTE* data, DWORD dataSize);
VANTOR_API LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise, as on Windows).
VANTOR_API LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Deletes a key with everything under it.
VANTOR_API LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);
VANTOR_API LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                              LPDWORD reserved, LPSTR keyClass, LPDWORD classSize, void* lastWrite);

// Groups changes: between VantorRegistryBeginUpdate and VantorRegistryEndUpdate (which nest) the
// file is written once, at the end; EndUpdate returns the result of that write.
VANTOR_API void VantorRegistryBeginUpdate();
VANTOR_API LONG VantorRegistryEndUpdate();

// The registry file in use, and the reason it was set aside ("" when it is healthy).
VANTOR_API DWORD VantorRegistryPath(LPSTR buffer, DWORD size);
VANTOR_API DWORD VantorRegistryProblem(LPSTR buffer, DWORD size);
}
