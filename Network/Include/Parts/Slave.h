// Entry points of the cluster library, family Slave: the slave side (used by servers; the client
// binds these names and never calls them).
//
// CLUSTER_SLAVE_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_SLAVE_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(Slave_Init) \
    TYPED(Slave_DeInit) \
    TYPED(Slave_GetLastError) \
    RESERVED(Slave_Pause) \
    RESERVED(Slave_Resume) \
    RESERVED(Slave_FreeStream) \
    TYPED(Slave_CountMasters) \
    TYPED(Slave_IterateMasters) \
    TYPED(Slave_KickMaster) \
    TYPED(Slave_SetMasterJobLimit) \
    RESERVED(Slave_EnableStreamTransmission) \
    TYPED(Slave_CountMasterJobs) \
    TYPED(Slave_GetMasterIP) \
    TYPED(Slave_GetMasterPort) \
    TYPED(Slave_GetMasterXtraData) \
    TYPED(Slave_SetMasterXtraData) \
    TYPED(Slave_SetMasterXtraDataDeinitCallback) \
    TYPED(Slave_SetMasterJobAccessCheck) \
    TYPED(Slave_CountJobs) \
    RESERVED(Slave_SetReceiveBlockSize) \
    RESERVED(Slave_SetCompressionOptions) \
    RESERVED(Slave_SetCallback) \
    RESERVED(Slave_ThreadReceive) \
    RESERVED(Slave_EnableStatistics) \
    TYPED(Slave_AddJob) \
    RESERVED(Slave_LogEvents) \
    RESERVED(Slave_Event) \
    RESERVED(Slave_Event_Type) \
    RESERVED(Slave_Event_Master) \
    RESERVED(Slave_Event_Job) \
    TYPED(Slave_Job_SendMessage)
// clang-format on

namespace Cluster {
CLUSTER_SLAVE_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
