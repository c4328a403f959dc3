// The throttle of password guessing shared by the nodes of a community: every node keeps its own
// PasswordThrottle, and with a cluster the wrong passwords are also counted in Redis, so that
// guesses spread over the nodes meet the same limits: an address refused after its failures, an
// account slowed after its own. While Redis cannot be reached, the node's throttle alone holds.
#pragma once

#include <string>

#include "PasswordThrottle.h"

class Cluster;

class SharedPasswordThrottle {
public:
    // `kind` names the throttle among the cluster's counts; `cluster` is null for a node alone.
    SharedPasswordThrottle(Cluster *cluster, std::string kind, PasswordThrottle::Limits limits);

    // As PasswordThrottle.
    PasswordThrottle::Admission admit(const std::string &address, const std::string &account,
                                      SteadyTime now);
    bool blocked(const std::string &address, SteadyTime now);
    bool finish(const std::string &address, const std::string &account,
                PasswordThrottle::Outcome outcome, SteadyTime now);

private:
    // The shared state for the address and account: Check, or why not; Check when unreachable.
    PasswordThrottle::Admission shared(const std::string &address, const std::string &account);

    Cluster *cluster_;
    const std::string kind_;
    const PasswordThrottle::Limits limits_;
    PasswordThrottle local_;
};
