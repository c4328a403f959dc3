// Entry points of the cluster library, family Parameter: parameter lists of jobs.
//
// CLUSTER_PARAMETER_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_PARAMETER_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(Parameter_New) \
    TYPED(Parameter_Count) \
    TYPED(Parameter_AddMem) \
    TYPED(Parameter_AddLong) \
    TYPED(Parameter_AddInteger) \
    TYPED(Parameter_AddFloat) \
    TYPED(Parameter_AddDouble) \
    TYPED(Parameter_AddQuad) \
    TYPED(Parameter_AddString) \
    TYPED(Parameter_GetMem) \
    TYPED(Parameter_GetLong) \
    TYPED(Parameter_GetInteger) \
    TYPED(Parameter_GetFloat) \
    TYPED(Parameter_GetDouble) \
    TYPED(Parameter_GetQuad) \
    TYPED(Parameter_GetString)
// clang-format on

namespace Cluster {
CLUSTER_PARAMETER_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
