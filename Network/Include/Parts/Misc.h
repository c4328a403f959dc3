// Entry points of the cluster library, family Misc: memory blocks handed across the interface, and
// the library's version.
//
// CLUSTER_MISC_ENTRY_POINTS lists the family in binding order. TYPED names are declared by drovik.h
// and bound with their exact type; RESERVED names are not provided by this build of the library:
// they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_MISC_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(AllocateMemory) \
    TYPED(FreeMemory) \
    TYPED(GetVersion)
// clang-format on

namespace Cluster {
CLUSTER_MISC_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
