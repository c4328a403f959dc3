// Entry points of the cluster library, family Return: a job's value, set by a running job handler
// (slave side; bound, never called by the client).
//
// CLUSTER_RETURN_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_RETURN_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(Return_Memory) \
    TYPED(Return_Long) \
    TYPED(Return_Integer) \
    TYPED(Return_Float) \
    TYPED(Return_Double) \
    TYPED(Return_Quad) \
    TYPED(Return_String)
// clang-format on

namespace Cluster {
CLUSTER_RETURN_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
