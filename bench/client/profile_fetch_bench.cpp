// Profile fetches through the request layer: served by the local cache, and fetched from a server
// (an in-process slave over loopback answering with a typical profile text) when the entry has
// been dropped before each fetch. The avatar benchmark fetches a 100 x 100 PNG from the cache,
// which includes decoding it. Each reports p50 and p99 per fetch in microseconds.
#include "../Percentile.h"

#include "Network/Client/Client.h"
#include "drovik.hpp"
#include "tests/picture/PictureEncoders.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
const std::string Profile =
    "VERSION 1\n\rFirstName: Anna\n\rSureName: Example\n\rCountry: DE\n\rCity: Bonn\n\rBirth: "
    "1.2.1990\n\rHomepage: http://anna.example\n\rSignature: Greetings\r\nfrom Bonn";

template <typename Fetch>
void Measure(benchmark::State &state, Fetch fetch) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = fetch();
        const auto end = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("the fetch gave nothing");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    state.counters["p50_us"] = Percentile(micros, 0.50);
    state.counters["p99_us"] = Percentile(micros, 0.99);
}

void ProfileFromCache(benchmark::State &state) {
    DeleteCachedProfile("anna");
    if (User_GetUserProfile("anna") != Profile)
        return state.SkipWithError("the server did not answer");
    Measure(state, [] { return User_GetUserProfile("anna").size() == Profile.size(); });
}

void ProfileFromServer(benchmark::State &state) {
    Measure(state, [] {
        DeleteCachedProfile("anna");
        return User_GetUserProfile("anna").size() == Profile.size();
    });
}

void AvatarFromCache(benchmark::State &state) {
    DeleteCachedProfile("anna");
    if (User_GetUserProfileAvatar("anna") == nullptr)
        return state.SkipWithError("the server did not answer");
    Measure(state, [] {
        const auto picture = User_GetUserProfileAvatar("anna");
        return picture != nullptr && picture->Width == 100;
    });
}
}  // namespace

int main(int argc, char **argv) {
    ClientDeInitDelayMs = 0;
    if (LoadClusterLibrary() == 0) {
        std::fprintf(stderr, "cannot load the cluster library: %s\n",
                     ClusterLibraryLoadError().c_str());
        return 1;
    }
    const std::vector<uint8_t> avatar = picture_test::EncodePng(picture_test::Gradient(100, 100));
    auto server = std::make_unique<drovik::Slave>("127.0.0.1", 0, 2);
    server->addJob("User_GetUserProfile", "s", [](const drovik::Job &job) {
        return job.returnString(Profile) ? DROVIK_EVENT_FINISHED : DROVIK_EVENT_FAILED;
    });
    server->addJob("User_GetUserProfileAvatar", "s", [&avatar](const drovik::Job &job) {
        return job.returnMemory(avatar) ? DROVIK_EVENT_FINISHED : DROVIK_EVENT_FAILED;
    });
    if (!server->ok() || ClientInit() != 1 ||
        Connect("127.0.0.1", server->port(), "", 0, "", "", 0, 5) == 0) {
        std::fprintf(stderr, "cannot start: %s\n", GetLastErrorText().c_str());
        return 1;
    }
    // Entries without expiry: the benchmark measures the cache, not its lifetimes.
    ClientState.Preferences.ProfileCacheSetting = 0;
    ClientState.Preferences.AvatarCacheSetting = 0;

    benchmark::RegisterBenchmark("ProfileFetch/cache", ProfileFromCache)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ProfileFetch/server", ProfileFromServer)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("AvatarFetch100x100Png/cache", AvatarFromCache)
        ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ClientDeInit();
    server.reset();
    return 0;
}
