// Allowances by key shared by the nodes of a community: with a cluster the token buckets live in
// Redis, so that sending through two nodes, or registering on both, takes from one allowance.
// While Redis cannot be reached the node's own buckets serve, so the limits still hold per node.
#pragma once

#include <string>

#include "RateLimit.h"

class Cluster;

class SharedRateLimit {
public:
    // `kind` names the allowance among the cluster's buckets; `cluster` is null for a node alone.
    SharedRateLimit(Cluster *cluster, std::string kind, double burst, double ratePerSecond);
    // As KeyedRateLimit.
    bool take(const std::string &key, SteadyTime now);
    void giveBack(const std::string &key);
    // Takes a token of `first`'s bucket for `firstKey` and then, when it had one, of `second`'s
    // for `secondKey`, with one round trip to Redis: 0 when both had one, else 1 or 2 for the
    // one that refused (when the second refuses, the first's token stays taken). Both limits
    // must share one cluster, or both have none.
    static int takeBoth(SharedRateLimit &first, const std::string &firstKey,
                        SharedRateLimit &second, const std::string &secondKey, SteadyTime now);

private:
    std::string bucket(const std::string &key) const { return kind_ + ":" + key; }

    Cluster *cluster_;
    const std::string kind_;
    const double burst_, rate_;
    KeyedRateLimit local_;
};
