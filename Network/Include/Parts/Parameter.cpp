#include "Network/Include/Parts/Parameter.h"

namespace Cluster {
CLUSTER_PARAMETER_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
