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
        if (auto refused = cluster_->takeTokens({{bucket(key), burst_, rate_, 1}}))
            return *refused == 0;
    return local_.take(key, now);
}

void SharedRateLimit::giveBack(const std::string &key) {
    if (cluster_ && cluster_->takeTokens({{bucket(key), burst_, rate_, -1}}))
        return;
    local_.giveBack(key);
}

int SharedRateLimit::takeBoth(SharedRateLimit &first, const std::string &firstKey,
                              SharedRateLimit &second, const std::string &secondKey,
                              SteadyTime now) {
    if (first.cluster_ && first.cluster_ == second.cluster_)
        if (auto refused = first.cluster_->takeTokens(
                {{first.bucket(firstKey), first.burst_, first.rate_, 1},
                 {second.bucket(secondKey), second.burst_, second.rate_, 1}}))
            return static_cast<int>(*refused);
    // Alone, or Redis unreachable: the node's own buckets.
    if (!first.local_.take(firstKey, now))
        return 1;
    return second.local_.take(secondKey, now) ? 0 : 2;
}
