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

private:
    Cluster *cluster_;
    const std::string kind_;
    const double burst_, rate_;
    KeyedRateLimit local_;
};
