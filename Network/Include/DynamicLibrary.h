// The platform's dynamic loader, behind four calls. The only file of the binding that knows the
// platform.
#pragma once

#include <filesystem>
#include <string>

using LibraryHandle = void *;
using LibrarySymbol = void (*)();

// Opens the library at an absolute path; null on failure, with the loader's reason in `error`.
LibraryHandle OpenDynamicLibrary(const std::filesystem::path &path, std::string &error);
// The address of an exported name, or null when the library lacks it.
LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char *name);
void CloseDynamicLibrary(LibraryHandle library);
// The directory of the running executable; empty when it cannot be told.
std::filesystem::path ExecutableDirectory();
