#include "FarEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "RawEcho.h"
#include "drovik.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReplyTimeout = std::chrono::seconds(10);
constexpr auto kQuitTimeout = std::chrono::seconds(10);

int32_t DROVIK_CALL pingJob(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    Drovik_Return_Long(job, 1);
    return DROVIK_EVENT_FINISHED;
}

bool writeAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A slave that answers Ping with a 4-byte value. All of the benchmark's connections come from
// 127.0.0.1, sixteen at once or a connect loop in quick succession, so the limits per address and
// of untrusted connections are raised well above what that needs.
intptr_t startSlave(int32_t transport, int32_t *port, std::string &error) {
    intptr_t slave =
        Drovik_Slave_InitTransport("127.0.0.1", 0, nullptr, 0, port, transport, "", "", 0);
    if (slave == 0) {
        const char *text = Drovik_Slave_GetLastError(0);
        error = std::string("slave: ") + (text ? text : "did not start");
        return 0;
    }
    Drovik_Slave_AddJob(slave, "Ping", &pingJob, "", 0);
    Drovik_Slave_SetLimit(slave, DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS, 1024);
    Drovik_Slave_SetLimit(slave, DROVIK_LIMIT_UNTRUSTED, 1024);
    return slave;
}

// The child: starts the slaves and the echo server, tells their ports, then answers each 'r' on
// the command pipe with its switch counts until the pipe ends. The main thread sleeps in read
// between requests, so it adds about one switch per request to the counts, not one per job.
[[noreturn]] void runChild(int commandFd, int replyFd) {
    std::string error;
    int32_t tlsPort = 0, plaintextPort = 0, echoPort = 0;
    intptr_t tls = startSlave(DROVIK_TRANSPORT_TLS, &tlsPort, error);
    intptr_t plaintext = tls ? startSlave(DROVIK_TRANSPORT_PLAINTEXT, &plaintextPort, error) : 0;
    int listener = plaintext ? ListenOnLoopback(&echoPort, error) : -1;
    if (listener < 0) {
        writeAll(replyFd, "error " + error + "\n");
        _exit(1);
    }
    std::thread(ServeEcho, listener).detach();
    writeAll(replyFd, "ports " + std::to_string(tlsPort) + " " + std::to_string(plaintextPort) +
                          " " + std::to_string(echoPort) + "\n");
    char command = 0;
    while (read(commandFd, &command, 1) == 1 && command == 'r') {
        Switches s = OwnSwitches();
        if (!writeAll(replyFd,
                      std::to_string(s.voluntary) + " " + std::to_string(s.involuntary) + "\n"))
            break;
    }
    Drovik_Slave_DeInit(tls);
    Drovik_Slave_DeInit(plaintext);
    // _exit: the echo thread still blocks in accept, and this process's copy of the parent's
    // state must not be torn down as if it were its own.
    _exit(0);
}

// One line from the child without its newline; throws when none comes within kReplyTimeout.
std::string readLine(int fd) {
    const auto deadline = Clock::now() + kReplyTimeout;
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            throw std::runtime_error("far end: no answer within 10 s");
        char c = 0;
        if (read(fd, &c, 1) != 1)
            throw std::runtime_error("far end: ended" + (line.empty() ? "" : ": " + line));
        if (c == '\n')
            return line;
        line += c;
    }
}

}  // namespace

Switches OwnSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}

void FarEnd::start() {
    int commands[2], replies[2];
    // Close-on-exec, so that a process this one starts later does not hold the pipes open and
    // keep the child from seeing this end go away.
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0)
        throw std::runtime_error("far end: no pipe");
    // The child must not write this process's buffered output a second time.
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("far end: fork failed");
    if (pid_ == 0) {
        close(commands[1]);
        close(replies[0]);
        runChild(commands[0], replies[1]);
    }
    close(commands[0]);
    close(replies[1]);
    commandFd_ = commands[1];
    replyFd_ = replies[0];
    std::string line = readLine(replyFd_);
    if (std::sscanf(line.c_str(), "ports %d %d %d", &tlsPort_, &plaintextPort_, &echoPort_) != 3)
        throw std::runtime_error("far end: " + line);
}

std::string FarEnd::request(char command) {
    if (write(commandFd_, &command, 1) != 1)
        throw std::runtime_error("far end: gone");
    return readLine(replyFd_);
}

Switches FarEnd::switches() {
    std::string line = request('r');
    Switches s;
    if (std::sscanf(line.c_str(), "%ld %ld", &s.voluntary, &s.involuntary) != 2)
        throw std::runtime_error("far end: " + line);
    return s;
}

FarEnd::~FarEnd() {
    // End of file on its command pipe tells the child to shut its slaves down and quit.
    if (commandFd_ >= 0)
        close(commandFd_);
    if (replyFd_ >= 0)
        close(replyFd_);
    if (pid_ <= 0)
        return;
    const auto deadline = Clock::now() + kQuitTimeout;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "far end: did not quit within 10 s, killed\n");
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
