// Everything a job handler works with, built once at start.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "HashGate.h"
#include "MessageRouter.h"
#include "PasswordHasher.h"
#include "PasswordThrottle.h"
#include "Presence.h"
#include "RateLimit.h"
#include "ServerOptions.h"
#include "Session.h"
#include "StopSignal.h"
#include "cluster/Cluster.h"
#include "cluster/SharedPasswordThrottle.h"
#include "cluster/SharedRateLimit.h"
#include "store/Store.h"

// The settings key of the administrator password hash.
inline constexpr const char *kAdminPasswordKey = "admin_password_hash";

struct ServerContext {
    ServerContext(const ServerOptions &options, Store &store, StopRequest &stop,
                  std::function<void(intptr_t)> kickConnection)
        : options(options),
          store(store),
          stop(stop),
          hasher(options.hashOpsLimit, options.hashMemoryKiB),
          cluster(options.redis.empty()
                      ? nullptr
                      : std::make_unique<Cluster>(options.redis, options.redisNamespace,
                                                  std::chrono::seconds(options.presenceSeconds))),
          router(sessions, store, options.storedMessageLimit, cluster.get()),
          presence(sessions, router, cluster.get(), std::move(kickConnection)),
          loginThrottle(
              cluster.get(), "logins",
              {options.loginFailures, std::chrono::seconds(options.loginBlockSeconds),
               options.accountFailures, std::chrono::seconds(options.accountMaxDelaySeconds)}),
          adminThrottle(cluster.get(), "administrator",
                        {options.adminFailures, std::chrono::seconds(options.adminBlockSeconds)}),
          hashGate(static_cast<size_t>(HashSlots(options)), static_cast<size_t>(HashSlots(options)),
                   std::chrono::milliseconds(options.hashWaitMs)),
          registrationGate(static_cast<size_t>(std::max(1, HashSlots(options) / 2)),
                           static_cast<size_t>(std::max(1, HashSlots(options) / 2)),
                           std::chrono::milliseconds(options.hashWaitMs)),
          accountFlood(cluster.get(), "messages:account", options.floodBurst, options.floodRate),
          addressFlood(cluster.get(), "messages:address", options.addressFloodBurst,
                       options.addressFloodRate),
          registrations(cluster.get(), "registrations", options.registrationBurst,
                        options.registrationsPerHour / 3600.0) {
        if (cluster)
            cluster->start({[this] { return localNames(); },
                            [this](const std::string &name) { presence.endLocal(name); },
                            [this](const std::string &sender, const std::string &text) {
                                router.deliverGlobal(sender, text);
                            },
                            [this](const std::string &name) { router.lookInStore(name); },
                            [this] { router.lookInStoreForAll(); }});
    }
    // The cluster's threads use what follows it, so they end first.
    ~ServerContext() {
        if (cluster)
            cluster->stop();
    }

    std::vector<std::string> localNames() {
        std::vector<std::string> names;
        for (const SessionPtr &session : sessions.online()) {
            std::lock_guard guard(session->mutex);
            if (!session->user.empty())
                names.push_back(session->user);
        }
        return names;
    }

    const ServerOptions &options;
    Store &store;
    StopRequest &stop;
    PasswordHasher hasher;
    SessionRegistry sessions;
    std::unique_ptr<Cluster> cluster;  // null for a node alone (no --redis)
    MessageRouter router;
    Presence presence;
    SharedPasswordThrottle loginThrottle;
    SharedPasswordThrottle
        adminThrottle;          // by address only: the administrator password is no account's
    HashGate hashGate;          // logins and the administrator password
    HashGate registrationGate;  // registrations: half as many, apart
    // Messages by account and by address (AddressKey), registrations by address.
    SharedRateLimit accountFlood;
    SharedRateLimit addressFlood;
    SharedRateLimit registrations;
};
