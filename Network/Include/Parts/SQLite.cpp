#include "Network/Include/Parts/SQLite.h"

namespace Cluster {
CLUSTER_SQLITE_ENTRY_POINTS(CLUSTER_DEFINE_TYPED, CLUSTER_DEFINE_RESERVED)
}  // namespace Cluster
