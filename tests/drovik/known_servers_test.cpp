// The known-servers file on a real file system: first use, change, hand-edited files, refusals,
// and writers in several threads and processes at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "known_servers.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace drovik::known_servers {
namespace {

namespace fs = std::filesystem;
using Kind = Verdict::Kind;

std::string readAll(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeAll(const fs::path &file, const std::string &contents) {
    std::ofstream(file, std::ios::binary) << contents;
}

class KnownServersTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("known_servers-") + info->name() + "-" +
                                            std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::string at(const std::string &name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(KnownServersTest, FirstUseIsPinnedThenKnownAndAnotherCertificateIsChanged) {
    const std::string path = at("a/b/known_servers");
    const auto first = checkOrPin(path, "slave:7000", "AB:CD:EF");
    ASSERT_EQ(first.kind, Kind::FirstUse) << first.text;
    EXPECT_EQ(readAll(path), "slave:7000 AB:CD:EF\n");
#ifndef _WIN32
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(at("a/b")).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(at("a")).permissions(), fs::perms::owner_all);
#endif

    EXPECT_EQ(checkOrPin(path, "slave:7000", "AB:CD:EF").kind, Kind::Known);
    EXPECT_EQ(checkOrPin(path, "slave:7000", "ab:cd:ef").kind, Kind::Known);
    const auto changed = checkOrPin(path, "slave:7000", "AB:CD:00");
    EXPECT_EQ(changed.kind, Kind::Changed);
    EXPECT_EQ(changed.line, 1);
    EXPECT_EQ(changed.text, "AB:CD:EF");
    // Another port of the same host is another server.
    EXPECT_EQ(checkOrPin(path, "slave:7001", "AB:CD:00").kind, Kind::FirstUse);
    EXPECT_EQ(readAll(path), "slave:7000 AB:CD:EF\nslave:7001 AB:CD:00\n");
    // Nothing but the file and its lock is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(at("a/b")), fs::directory_iterator()), 2);
}

TEST_F(KnownServersTest, HandEditedLinesAreKeptAndOnlyWellFormedOnesMatch) {
    const std::string path = at("known_servers");
    const std::string edited =
        "# servers of the lab\n"
        "\n"
        "one:1\n"
        "one:1 AA extra\n"
        "#two:2 BB\n"
        "  Two:2\tCC\r\n"
        "three:3 DD";  // no line break at the end
    writeAll(path, edited);

    // Neither the line without a fingerprint nor the one with three fields is a record of one:1.
    EXPECT_EQ(checkOrPin(path, "one:1", "AA").kind, Kind::FirstUse);
    // The commented line is no record either; the line from a Windows editor is, whatever case.
    const auto changed = checkOrPin(path, "two:2", "BB");
    EXPECT_EQ(changed.kind, Kind::Changed);
    EXPECT_EQ(changed.line, 6);
    EXPECT_EQ(changed.text, "CC");
    EXPECT_EQ(checkOrPin(path, "three:3", "dd").kind, Kind::Known);
    EXPECT_EQ(readAll(path), edited + "\none:1 AA\n");
}

TEST_F(KnownServersTest, RefusalsNameTheFileAndChangeNothing) {
    // A file where the folder should be.
    writeAll(at("plain"), "x");
    const std::string underFile = at("plain/known_servers");
    auto verdict = checkOrPin(underFile, "slave:7000", "AB");
    EXPECT_EQ(verdict.kind, Kind::Error);
    EXPECT_NE(verdict.text.find(underFile), std::string::npos) << verdict.text;

    // A file over 1 MiB is not read, let alone rewritten.
    const std::string big = at("big");
    const std::string huge(1024 * 1024 + 1, '#');
    writeAll(big, huge);
    verdict = checkOrPin(big, "slave:7000", "AB");
    EXPECT_EQ(verdict.kind, Kind::Error);
    EXPECT_NE(verdict.text.find(big), std::string::npos) << verdict.text;
    EXPECT_EQ(readAll(big).size(), huge.size());

    // A key or fingerprint that would break the line apart.
    const std::string path = at("known_servers");
    EXPECT_EQ(checkOrPin(path, "slave:7000", "AB\nevil:1 CD").kind, Kind::Error);
    EXPECT_EQ(checkOrPin(path, "slave 7000", "AB").kind, Kind::Error);
    EXPECT_FALSE(fs::exists(path));

#ifndef _WIN32
    // A folder that can be read but not written (permissions do not bind root): the recorded
    // servers stay as they were.
    if (geteuid() != 0) {
        const std::string locked = at("ro/known_servers");
        ASSERT_EQ(checkOrPin(locked, "slave:7000", "AB").kind, Kind::FirstUse);
        fs::permissions(at("ro"), fs::perms::owner_read | fs::perms::owner_exec);
        verdict = checkOrPin(locked, "slave:7001", "CD");
        fs::permissions(at("ro"), fs::perms::owner_all);
        EXPECT_EQ(verdict.kind, Kind::Error);
        EXPECT_NE(verdict.text.find(locked), std::string::npos) << verdict.text;
        EXPECT_EQ(readAll(locked), "slave:7000 AB\n");
    }
#endif
}

// Pins `perThread` keys of its own from each of `threads` threads; true when every one was new.
bool pinFromThreads(const std::string &path, const std::string &tag, int threads, int perThread) {
    std::vector<std::thread> workers;
    std::vector<char> allNew(static_cast<size_t>(threads), 1);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::string id = tag + "-" + std::to_string(t) + "-" + std::to_string(i);
                if (checkOrPin(path, id + ":1", "FP-" + id).kind != Kind::FirstUse) {
                    allNew[static_cast<size_t>(t)] = 0;
                }
            }
        });
    }
    for (auto &worker : workers) {
        worker.join();
    }
    return std::all_of(allNew.begin(), allNew.end(), [](char ok) { return ok != 0; });
}

TEST_F(KnownServersTest, WritersInThreadsAndProcessesLoseNothing) {
    const std::string path = at("known_servers");
    constexpr int kThreads = 2;
    constexpr int kPerThread = 40;
    std::vector<std::string> tags{"main"};
#ifndef _WIN32
    std::vector<pid_t> children;
    for (const std::string tag : {"child0", "child1"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            _exit(pinFromThreads(path, tag, kThreads, kPerThread) ? 0 : 1);
        }
        children.push_back(pid);
        tags.push_back(tag);
    }
#endif
    EXPECT_TRUE(pinFromThreads(path, "main", kThreads, kPerThread));
#ifndef _WIN32
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif

    const std::string contents = readAll(path);
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'),
              static_cast<long>(tags.size()) * kThreads * kPerThread);
    for (const auto &tag : tags) {
        for (int t = 0; t < kThreads; ++t) {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string id = tag + "-" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_NE(contents.find(id + ":1 FP-" + id + "\n"), std::string::npos) << id;
            }
        }
    }
}

TEST(KnownServersKeys, HostsAreKeyedAsTheFileWritesThem) {
    EXPECT_EQ(keyOf("Slave.Example.ORG", 7000), "slave.example.org:7000");
    EXPECT_EQ(keyOf("10.0.0.1", 7000), "10.0.0.1:7000");
    EXPECT_EQ(keyOf("::1", 7000), "[::1]:7000");
    EXPECT_EQ(keyOf("[FE80::1]", 7000), "[fe80::1]:7000");
}

#ifndef _WIN32
// Sets an environment variable for one scope, or unsets it for nullptr.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) {
            old_ = old;
            had_ = true;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char *name_;
    std::string old_;
    bool had_ = false;
};

TEST(KnownServersKeys, DefaultPathFollowsTheConfigurationFolder) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(defaultPath(), "/cfg/drovik/known_servers");
    }
    {
        // A relative folder is ignored.
        ScopedEnv xdg("XDG_CONFIG_HOME", "cfg");
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(defaultPath(), "/home/u/.config/drovik/known_servers");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", nullptr);
        EXPECT_EQ(defaultPath(), "");
    }
}
#endif

}  // namespace
}  // namespace drovik::known_servers
