#include "BenchServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "protocol/PasswordDigest.h"
#include "protocol/StreamedMessage.h"

extern char **environ;

BenchServer::BenchServer(std::filesystem::path folder, std::vector<std::string> options,
                         bool plaintext)
    : folder_(std::move(folder)), options_(std::move(options)), plaintext_(plaintext) {
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "admin.txt") << "bench-admin\n";
}

BenchServer::~BenchServer() {
    stop(SIGTERM);
}

bool BenchServer::start() {
    auto binary =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "community_server";
    std::vector<std::string> args = {binary.string(),
                                     "--port",
                                     "0",
                                     "--db",
                                     (folder_ / "community.db").string(),
                                     "--admin-password-file",
                                     (folder_ / "admin.txt").string(),
                                     "--hash-ops",
                                     "1",
                                     "--hash-memory-kib",
                                     "64"};
    if (plaintext_)
        args.push_back("--plaintext");
    args.insert(args.end(), options_.begin(), options_.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string logFile = (folder_ / "server.log").string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        pid_ = -1;
        close(out[0]);
        return false;
    }
    std::string seen;
    port_ = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<size_t>(n));
        auto at = seen.find("listening on ");
        auto end = seen.find('\n', at);
        if (at != std::string::npos && end != std::string::npos)
            port_ = std::atoi(seen.substr(seen.rfind(':', end) + 1).c_str());
    }
    close(out[0]);
    if (port_ == 0) {
        std::fprintf(stderr, "server did not start:\n%s\n", log().c_str());
        stop(SIGKILL);
    }
    return port_ != 0;
}

void BenchServer::stop(int signal) {
    if (pid_ <= 0)
        return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

BenchEndpoint BenchServer::endpoint() const {
    return {port_, plaintext_ ? DROVIK_TRANSPORT_PLAINTEXT : DROVIK_TRANSPORT_TLS,
            (folder_ / "known_servers").string()};
}

std::string BenchServer::log() const {
    std::ifstream in(folder_ / "server.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

BenchClient::BenchClient(drovik::Master &master, const BenchEndpoint &server)
    : master_(master),
      slave_(
          master.connect("127.0.0.1", server.port, 5, server.transport, server.knownServersFile)) {
    if (slave_ == 0)
        std::fprintf(stderr, "cannot connect: %s\n", master.lastError().c_str());
}

int32_t BenchClient::code(const std::string &job, const std::vector<drovik::Value> &params) {
    drovik::Reply reply =
        master_.call(slave_, job, params, DROVIK_TYPE_LONG, std::chrono::seconds(20));
    if (reply.event != DROVIK_EVENT_FINISHED)
        return -reply.event;
    return reply.asLong();
}

bool BenchClient::enter(const std::string &name) {
    const std::string digest = PasswordDigest("bench-password");
    int32_t registered = code("User_Register", {name, digest, int32_t(14)});
    return (registered == 1 || registered == 2) && code("User_Login", {name, digest}) == 1;
}

int32_t BenchClient::send(const std::string &recipient, const std::string &text) {
    return code("User_SendMessage", {recipient, text});
}

bool BenchClient::receive(std::vector<std::string> &texts) {
    drovik::Reply reply = master_.call(slave_, "User_ReceiveMessages", {}, DROVIK_TYPE_NONE,
                                       std::chrono::seconds(20));
    if (reply.event != DROVIK_EVENT_FINISHED)
        return false;
    for (const drovik::Bytes &block : reply.streamed) {
        std::string sender, text;
        if (DecodeStreamedMessage(block, sender, text))
            texts.push_back(std::move(text));
    }
    return true;
}

void BenchClient::disconnect() {
    if (slave_)
        master_.disconnect(slave_);
    slave_ = 0;
}
