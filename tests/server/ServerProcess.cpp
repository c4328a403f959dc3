#include "ServerProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace {

// A port the kernel picked may have served an earlier test's server, with another key, in this
// same process: a new server there is no impostor, so the pin of the old one goes.
void ForgetPinOfPort(int port) {
    if (port <= 0)
        return;
    const std::filesystem::path file = KnownServersFile();
    std::ifstream in(file);
    if (!in)
        return;
    const std::string pin = "127.0.0.1:" + std::to_string(port) + " ";
    std::string kept, line;
    bool forgot = false;
    while (std::getline(in, line)) {
        if (line.rfind(pin, 0) == 0)
            forgot = true;
        else
            kept += line + "\n";
    }
    in.close();
    if (forgot)
        std::ofstream(file, std::ios::trunc) << kept;
}

}  // namespace

std::filesystem::path KnownServersFile() {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(config ? config : "") / "drovik" / "known_servers";
}

TempFolder::TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("server-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path ServerProcess::binary() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "community_server";
}

ServerProcess::ServerProcess(const std::filesystem::path &folder,
                             std::vector<std::string> extraArgs) {
    std::filesystem::path passwordFile = folder / "admin-password.txt";
    if (!std::filesystem::exists(passwordFile))
        std::ofstream(passwordFile) << kAdminPassword << "\n";
    logFile_ = folder / "server.log";

    const bool portChosen =
        std::find(extraArgs.begin(), extraArgs.end(), "--port") != extraArgs.end();
    std::vector<std::string> args = {
        binary().string(), "--bind", "127.0.0.1", "--port", "0", "--db", StoreLocation(folder),
        "--admin-password-file", passwordFile.string(), "--hash-ops", "1", "--hash-memory-kib", "8",
        // Every test client comes from one address, and tests log many users in at once.
        "--registration-burst", "10000", "--address-flood-burst", "100000", "--hash-slots", "256",
        "--max-connections-per-address", "100000"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // What the server makes in its working directory (a store on PostgreSQL has its TLS pair
    // there) stays in the test's folder.
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdoutFd_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        return;
    }

    // Wait for "listening on ADDRESS:PORT".
    if (auto address = outputLine("listening on ", std::chrono::seconds(20)))
        port_ = std::atoi(address->substr(address->rfind(':') + 1).c_str());
    if (!portChosen)
        ForgetPinOfPort(port_);
}

std::optional<std::string> ServerProcess::outputLine(const std::string &prefix,
                                                     std::chrono::seconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (size_t start = 0, end; (end = output_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            if (output_.compare(start, prefix.size(), prefix) == 0)
                return output_.substr(start + prefix.size(), end - start - prefix.size());
        }
        if (stdoutFd_ < 0 || std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        pollfd p{stdoutFd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        output_.append(buffer, static_cast<size_t>(n));
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && !exited_) {
        if (stop(SIGTERM, std::chrono::seconds(10)) < 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (stdoutFd_ >= 0)
        close(stdoutFd_);
}

bool ServerProcess::running() {
    if (pid_ <= 0 || exited_)
        return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exited_ = true;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int ServerProcess::waitForExit(std::chrono::seconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return exited_ ? exitStatus_ : -1;
}

int ServerProcess::stop(int signal, std::chrono::seconds timeout) {
    if (running())
        kill(pid_, signal);
    return waitForExit(timeout);
}

std::string ServerProcess::log() const {
    std::ifstream in(logFile_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
