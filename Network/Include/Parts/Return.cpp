#include "Network/Include/Parts/Return.h"

namespace Cluster {
CLUSTER_RETURN_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
