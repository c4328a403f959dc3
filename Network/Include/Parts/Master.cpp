#include "Network/Include/Parts/Master.h"

namespace Cluster {
CLUSTER_MASTER_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
