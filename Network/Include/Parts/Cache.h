// Entry points of the cluster library, family Cache: the local cache of named memory entries.
//
// CLUSTER_CACHE_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_CACHE_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(Cache_New) \
    TYPED(Cache_Config) \
    TYPED(Cache_CleanUp) \
    RESERVED(Cache_Optimize) \
    TYPED(Cache_Flush) \
    TYPED(Cache_Free) \
    RESERVED(Cache_SaveToFile) \
    RESERVED(Cache_LoadFromFile) \
    TYPED(Cache_GetSize) \
    TYPED(Cache_isCached) \
    TYPED(Cache_AddEntry) \
    TYPED(Cache_DeleteEntry) \
    TYPED(Cache_Examine) \
    TYPED(Cache_NextEntry) \
    TYPED(Cache_GetMem) \
    TYPED(Cache_GetMemSize) \
    TYPED(Cache_GetAge) \
    TYPED(Cache_GetXtraData) \
    TYPED(Cache_GetName)
// clang-format on

namespace Cluster {
CLUSTER_CACHE_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
