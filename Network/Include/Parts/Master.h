// Entry points of the cluster library, family Master: the master side: connections to slaves and
// the jobs submitted to them.
//
// CLUSTER_MASTER_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_MASTER_ENTRY_POINTS(TYPED, RESERVED) \
    TYPED(Master_Init) \
    TYPED(Master_DeInit) \
    TYPED(Master_GetLastError) \
    RESERVED(Master_FreeStream) \
    RESERVED(Master_SetReceiveBlockSize) \
    RESERVED(Master_SetCompressionOptions) \
    TYPED(Master_SetStreamOptions) \
    RESERVED(Master_ThreadReceive) \
    TYPED(Master_SetCallback) \
    TYPED(Master_AddSlave) \
    TYPED(Master_RemoveSlave) \
    TYPED(Master_CountSlaves) \
    TYPED(Master_IterateSlaves) \
    TYPED(Master_GetSlaveIP) \
    TYPED(Master_GetSlaveXtraData) \
    TYPED(Master_SetSlaveXtraData) \
    RESERVED(Master_PingSlave) \
    RESERVED(Master_GetSlaveJobInfos) \
    TYPED(Master_CountSlaveJobs) \
    RESERVED(Master_CountSlaveWorkers) \
    TYPED(Master_DoJob) \
    RESERVED(Master_WaitEvent) \
    RESERVED(Master_Event) \
    RESERVED(Master_Event_Type) \
    RESERVED(Master_Event_Slave) \
    RESERVED(Master_Event_JobId) \
    RESERVED(Master_Event_JobMem) \
    RESERVED(Master_Event_JobMemSize) \
    RESERVED(Master_Event_JobLong) \
    RESERVED(Master_Event_JobInteger) \
    RESERVED(Master_Event_JobFloat) \
    RESERVED(Master_Event_JobDouble) \
    RESERVED(Master_Event_JobQuad) \
    RESERVED(Master_Event_JobString)
// clang-format on

namespace Cluster {
CLUSTER_MASTER_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
