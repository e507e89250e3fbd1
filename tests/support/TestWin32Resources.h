/*****************************************************************
| TestWin32Resources.h - the version resource and the manifest of a
| Windows program or DLL, read from the file as the system reads them.
|
| Header-only; Windows tests only.
****************************************************************/
#ifndef TVK_TEST_WIN32_RESOURCES_H
#define TVK_TEST_WIN32_RESOURCES_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>

namespace tvk_test {

// The raw bytes of resource (type, id) of module; empty when absent.
inline std::string
ResourceBytes(HMODULE module, LPCWSTR type, WORD id)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return std::string();
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return std::string();
    return std::string(static_cast<const char*>(bytes), SizeofResource(module, found));
}

// "MAJOR.MINOR.PATCH.BUILD" of a module's fixed file version; empty
// when it has no version resource.
inline std::string
FileVersion(HMODULE module)
{
    const std::string info = ResourceBytes(module, MAKEINTRESOURCEW(16), 1);  // RT_VERSION
    const DWORD signature = 0xFEEF04BD;
    const std::size_t at = info.find(std::string(reinterpret_cast<const char*>(&signature), 4));
    if (at == std::string::npos || info.size() < at + sizeof(VS_FIXEDFILEINFO)) return std::string();
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, info.data() + at, sizeof(fixed));
    return std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionMS)) +
           "." + std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionLS));
}

// The manifest a program carries for the system (RT_MANIFEST 1).
inline std::string
ProgramManifest(HMODULE module)
{
    return ResourceBytes(module, MAKEINTRESOURCEW(24), 1);
}

}  // namespace tvk_test

#endif  // TVK_TEST_WIN32_RESOURCES_H
