#include "Network/Include/Drovik_Inc.h"

#include "Network/Include/DynamicLibrary.h"

#include <type_traits>

namespace {
// One row of the binding table: the export's name and how to store or test its pointer. The
// pointer is set through its own type, so no pointer is ever written through another type.
struct EntryPointSlot {
    const char *Name;
    void (*Assign)(LibrarySymbol address);
    bool (*IsBound)();
};

template <auto &Pointer>
void AssignEntryPoint(LibrarySymbol address) {
    Pointer = reinterpret_cast<std::remove_reference_t<decltype(Pointer)>>(address);
}

template <auto &Pointer>
bool IsEntryPointBound() {
    return Pointer != nullptr;
}

#define CLUSTER_SLOT(Name)                                                     \
    EntryPointSlot{"Drovik_" #Name, &AssignEntryPoint<Cluster::Drovik_##Name>, \
                   &IsEntryPointBound<Cluster::Drovik_##Name>},

// clang-format off
constexpr EntryPointSlot Slots[] = {
    CLUSTER_SLAVE_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_MASTER_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_CACHE_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_SQLITE_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_PARAMETER_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_RETURN_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
    CLUSTER_MISC_ENTRY_POINTS(CLUSTER_SLOT, CLUSTER_SLOT)
};
// clang-format on
static_assert(std::size(Slots) == 138, "the library has 138 entry points");

#define CLUSTER_NAME(Name) "Drovik_" #Name,
constexpr const char *Names[] = {
    CLUSTER_SLAVE_ENTRY_POINTS(CLUSTER_NAME, CLUSTER_NAME) CLUSTER_MASTER_ENTRY_POINTS(
        CLUSTER_NAME, CLUSTER_NAME) CLUSTER_CACHE_ENTRY_POINTS(CLUSTER_NAME, CLUSTER_NAME)
        CLUSTER_SQLITE_ENTRY_POINTS(CLUSTER_NAME, CLUSTER_NAME) CLUSTER_PARAMETER_ENTRY_POINTS(
            CLUSTER_NAME, CLUSTER_NAME) CLUSTER_RETURN_ENTRY_POINTS(CLUSTER_NAME, CLUSTER_NAME)
            CLUSTER_MISC_ENTRY_POINTS(CLUSTER_NAME, CLUSTER_NAME)};

// The entry points that the client request layer calls, each tested by its own pointer.
#define CLUSTER_CLIENT_CHECK(Name)         \
    if (Cluster::Drovik_##Name == nullptr) \
        return "Drovik_" #Name;

LibraryHandle Library = nullptr;
std::string LoadError;

void AssignAll(LibraryHandle library) {
    for (const EntryPointSlot &slot : Slots)
        slot.Assign(library != nullptr ? FindLibrarySymbol(library, slot.Name) : nullptr);
}
}  // namespace

intptr_t LoadClusterLibrary(const std::string &path) {
    if (Library != nullptr)
        return reinterpret_cast<intptr_t>(Library);
    std::filesystem::path location(path);
    if (location.is_relative()) {
        std::filesystem::path directory = ExecutableDirectory();
        if (directory.empty()) {
            LoadError = "cannot tell the directory of the running program";
            return 0;
        }
        location = directory / location;
    }
    LibraryHandle library = OpenDynamicLibrary(location, LoadError);
    if (library == nullptr)
        return 0;
    LoadError.clear();
    Library = library;
    AssignAll(Library);
    return reinterpret_cast<intptr_t>(Library);
}

void UnloadClusterLibrary() {
    AssignAll(nullptr);
    CloseDynamicLibrary(Library);
    Library = nullptr;
}

std::string ClusterLibraryLoadError() {
    return LoadError;
}

std::string MissingClientEntryPoint() {
    CLUSTER_CLIENT_CHECK(Master_Init)
    CLUSTER_CLIENT_CHECK(Master_SetCallback)
    CLUSTER_CLIENT_CHECK(Master_AddSlave)
    CLUSTER_CLIENT_CHECK(Master_RemoveSlave)
    CLUSTER_CLIENT_CHECK(Master_DoJob)
    CLUSTER_CLIENT_CHECK(Master_DeInit)
    CLUSTER_CLIENT_CHECK(Master_GetLastError)
    CLUSTER_CLIENT_CHECK(Parameter_New)
    CLUSTER_CLIENT_CHECK(Parameter_AddString)
    CLUSTER_CLIENT_CHECK(Parameter_AddLong)
    CLUSTER_CLIENT_CHECK(Parameter_AddMem)
    CLUSTER_CLIENT_CHECK(AllocateMemory)
    CLUSTER_CLIENT_CHECK(FreeMemory)
    CLUSTER_CLIENT_CHECK(Cache_New)
    CLUSTER_CLIENT_CHECK(Cache_Free)
    CLUSTER_CLIENT_CHECK(Cache_isCached)
    CLUSTER_CLIENT_CHECK(Cache_GetMem)
    CLUSTER_CLIENT_CHECK(Cache_GetMemSize)
    CLUSTER_CLIENT_CHECK(Cache_AddEntry)
    CLUSTER_CLIENT_CHECK(Cache_DeleteEntry)
    return "";
}

std::span<const char *const> ClusterEntryPointNames() {
    return Names;
}

bool IsClusterEntryPointBound(std::string_view name) {
    for (const EntryPointSlot &slot : Slots)
        if (name == slot.Name)
            return slot.IsBound();
    return false;
}
