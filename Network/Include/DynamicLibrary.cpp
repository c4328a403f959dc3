#include "Network/Include/DynamicLibrary.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // mingw's C++ library defines it already
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

LibraryHandle OpenDynamicLibrary(const std::filesystem::path &path, std::string &error) {
    // The altered search path lets the library find its own dependencies beside it rather than
    // beside the current directory.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
        error = "cannot load " + path.string() + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<LibraryHandle>(module);
}

LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char *name) {
    return reinterpret_cast<LibrarySymbol>(
        GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void CloseDynamicLibrary(LibraryHandle library) {
    if (library != nullptr)
        FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::filesystem::path ExecutableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
        buffer.resize(buffer.size() * 2);
    }
}

#else
#include <dlfcn.h>

#include <system_error>

LibraryHandle OpenDynamicLibrary(const std::filesystem::path &path, std::string &error) {
    // RTLD_LOCAL: the library's names stay out of the global namespace of the process.
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path.string();
    }
    return library;
}

LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char *name) {
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<LibrarySymbol>(dlsym(library, name));
}

void CloseDynamicLibrary(LibraryHandle library) {
    if (library != nullptr)
        dlclose(library);
}

std::filesystem::path ExecutableDirectory() {
    std::error_code failed;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", failed);
    return failed ? std::filesystem::path() : executable.parent_path();
}
#endif
