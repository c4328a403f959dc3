#include "Network/Include/Parts/Slave.h"

namespace Cluster {
CLUSTER_SLAVE_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
