// Loading of the cluster library and binding of its entry points.
//
// LoadClusterLibrary runs once at start, before anything calls the library. It binds the library's
// 138 names, family by family, into the global function pointers of Network/Include/Parts
// (Cluster::Drovik_Master_DoJob, ...); a name the library lacks leaves its pointer null.
#pragma once

#include "Network/Include/Parts/Cache.h"
#include "Network/Include/Parts/Master.h"
#include "Network/Include/Parts/Misc.h"
#include "Network/Include/Parts/Parameter.h"
#include "Network/Include/Parts/Return.h"
#include "Network/Include/Parts/SQLite.h"
#include "Network/Include/Parts/Slave.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Where the library lies, relative to the directory of the running executable.
#if defined(_WIN32)
inline constexpr const char ClusterLibraryPath[] = "Include\\Windows\\Drovik.dll";
#else
inline constexpr const char ClusterLibraryPath[] = "Include/Linux/libDrovik.so";
#endif

// Opens the library and binds its entry points. A relative path is resolved against the directory
// of the running executable, never against the current directory, so no library is loaded from
// wherever the user happens to stand. Returns the library handle; 0 when it cannot be opened, and
// then nothing is bound and ClusterLibraryLoadError tells why. While a library is loaded, a second
// call returns its handle and changes nothing.
intptr_t LoadClusterLibrary(const std::string &path = ClusterLibraryPath);
// Sets every entry point back to null and closes the library. Only when nothing uses the library
// any more (no master, slave or cache alive).
void UnloadClusterLibrary();
// Why the last LoadClusterLibrary failed; empty after a success.
std::string ClusterLibraryLoadError();

// The name of the first entry point that the client calls and that is not bound, or "" when all
// are bound. The front-end refuses to start with this name instead of calling a null pointer.
std::string MissingClientEntryPoint();

// The 138 names in binding order, and whether one is bound now.
std::span<const char *const> ClusterEntryPointNames();
bool IsClusterEntryPointBound(std::string_view name);
