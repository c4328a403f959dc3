#include "Network/Include/Parts/Cache.h"

namespace Cluster {
CLUSTER_CACHE_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
