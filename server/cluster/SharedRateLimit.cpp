#include "SharedRateLimit.h"

#include "cluster/Cluster.h"

SharedRateLimit::SharedRateLimit(Cluster *cluster, std::string kind, double burst,
                                 double ratePerSecond)
    : cluster_(cluster),
      kind_(std::move(kind)),
      burst_(burst),
      rate_(ratePerSecond),
      local_(burst, ratePerSecond) {}

bool SharedRateLimit::take(const std::string &key, SteadyTime now) {
    if (cluster_)
        if (auto taken = cluster_->takeTokens(kind_ + ":" + key, burst_, rate_, 1))
            return *taken;
    return local_.take(key, now);
}

void SharedRateLimit::giveBack(const std::string &key) {
    if (cluster_ && cluster_->takeTokens(kind_ + ":" + key, burst_, rate_, -1))
        return;
    local_.giveBack(key);
}
