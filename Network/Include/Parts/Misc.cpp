#include "Network/Include/Parts/Misc.h"

namespace Cluster {
CLUSTER_MISC_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
