// Everything a job handler works with, built once at start.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
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
          router(sessions, store, options.storedMessageLimit),
          presence(sessions, router, std::move(kickConnection)),
          loginThrottle({options.loginFailures, std::chrono::seconds(options.loginBlockSeconds),
                         options.accountFailures,
                         std::chrono::seconds(options.accountMaxDelaySeconds)}),
          adminThrottle({options.adminFailures, std::chrono::seconds(options.adminBlockSeconds)}),
          hashGate(static_cast<size_t>(HashSlots(options)), static_cast<size_t>(HashSlots(options)),
                   std::chrono::milliseconds(options.hashWaitMs)),
          registrationGate(static_cast<size_t>(std::max(1, HashSlots(options) / 2)),
                           static_cast<size_t>(std::max(1, HashSlots(options) / 2)),
                           std::chrono::milliseconds(options.hashWaitMs)),
          accountFlood(options.floodBurst, options.floodRate),
          addressFlood(options.addressFloodBurst, options.addressFloodRate),
          registrations(options.registrationBurst, options.registrationsPerHour / 3600.0) {}

    const ServerOptions &options;
    Store &store;
    StopRequest &stop;
    PasswordHasher hasher;
    SessionRegistry sessions;
    MessageRouter router;
    Presence presence;
    PasswordThrottle loginThrottle;
    PasswordThrottle adminThrottle;  // by address only: the administrator password is no account's
    HashGate hashGate;               // logins and the administrator password
    HashGate registrationGate;       // registrations: half as many, apart
    // Messages by account and by address (AddressKey), registrations by address.
    KeyedRateLimit accountFlood;
    KeyedRateLimit addressFlood;
    KeyedRateLimit registrations;
};
