// The platform's file calls: the exclusive lock, private folders and the atomic, durable
// replacement of a file, for POSIX and for Windows.
#include "file_lock.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <climits>
#include <cstdlib>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace drovik {
namespace {

using Clock = std::chrono::steady_clock;

// Tries attempt() until it takes the lock (1) or fails (-1), while another holder keeps it (0) for
// at most `wait`. The file is held only while one line is looked up and appended, so the pauses
// start short.
template <class Attempt>
int retryLock(Attempt attempt, std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        const int result = attempt();
        if (result != 0) {
            return result;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return 0;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

std::string busyText(const std::string &lockPath, std::chrono::milliseconds wait) {
    return "the lock file " + lockPath + " stayed locked by another program for " +
           std::to_string(wait.count()) + " ms";
}

// A name for the new copy of a file, beside it and unique among the threads and processes that
// may write it at the same time.
std::string temporaryName(const std::string &path, unsigned long processId) {
    static std::atomic<unsigned> counter{0};
    return path + ".new-" + std::to_string(processId) + "-" + std::to_string(counter++);
}

}  // namespace

#ifdef _WIN32

namespace {

std::string describe(DWORD code) {
    return std::system_category().message(static_cast<int>(code));
}

std::string utf8Of(const wchar_t *text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();  // the terminating zero
    return out;
}

}  // namespace

FileLock::FileLock(const std::string &lockPath, std::chrono::milliseconds wait) {
    const auto native = files::nativePath(lockPath);
    if (native.empty()) {
        error_ = "the lock file name " + lockPath + " is not UTF-8";
        return;
    }
    HANDLE handle = CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = "cannot open the lock file " + lockPath + ": " + describe(GetLastError());
        return;
    }
    handle_ = handle;
    DWORD failure = 0;
    const int result = retryLock(
        [&] {
            // One byte, locked whether or not the file is that long.
            OVERLAPPED overlapped{};
            if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &overlapped)) {
                return 1;
            }
            failure = GetLastError();
            return failure == ERROR_LOCK_VIOLATION || failure == ERROR_IO_PENDING ? 0 : -1;
        },
        wait);
    locked_ = result == 1;
    if (result == 0) {
        error_ = busyText(lockPath, wait);
    } else if (result < 0) {
        error_ = "cannot lock " + lockPath + ": " + describe(failure);
    }
}

FileLock::~FileLock() {
    if (handle_ == nullptr) {
        return;
    }
    if (locked_) {
        OVERLAPPED overlapped{};
        UnlockFileEx(handle_, 0, 1, 0, &overlapped);
    }
    CloseHandle(handle_);
}

namespace files {

std::filesystem::path nativePath(const std::string &path) {
    if (path.empty() || path.size() > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(path.size());
    const int wide =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (wide <= 0) {
        return {};
    }
    std::wstring out(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, out.data(), wide);
    return std::filesystem::path(std::move(out));
}

std::string configFolder() {
    // The narrow environment is in the local code page; the wide one holds every user's name.
    const wchar_t *value = _wgetenv(L"APPDATA");
    return value == nullptr ? std::string() : utf8Of(value);
}

bool makeFolders(const std::string &folder, std::string &error) {
    if (folder.empty()) {
        return true;
    }
    const auto native = nativePath(folder);
    if (native.empty()) {
        error = "the folder name " + folder + " is not UTF-8";
        return false;
    }
    std::error_code code;
    std::filesystem::create_directories(native, code);
    if (!std::filesystem::is_directory(native)) {
        error = "cannot create the folder " + folder +
                (code ? ": " + code.message() : std::string(": not a folder"));
        return false;
    }
    return true;
}

bool replaceFile(const std::string &path, const std::string &contents, std::string &error) {
    const auto target = nativePath(path);
    const std::string temporary = temporaryName(path, GetCurrentProcessId());
    const auto native = nativePath(temporary);
    if (target.empty() || native.empty()) {
        error = "the file name " + path + " is not UTF-8";
        return false;
    }
    HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot create " + temporary + ": " + describe(GetLastError());
        return false;
    }
    size_t done = 0;
    bool written = true;
    while (written && done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 30));
        DWORD wrote = 0;
        written = WriteFile(handle, contents.data() + done, chunk, &wrote, nullptr) && wrote > 0;
        done += wrote;
    }
    written = written && FlushFileBuffers(handle);
    const DWORD writeFailure = written ? 0 : GetLastError();
    CloseHandle(handle);
    if (!written) {
        DeleteFileW(native.c_str());
        error = "cannot write " + temporary + ": " + describe(writeFailure);
        return false;
    }
    if (!MoveFileExW(native.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD failure = GetLastError();
        DeleteFileW(native.c_str());
        error = "cannot rename " + temporary + " to " + path + ": " + describe(failure);
        return false;
    }
    return true;
}

}  // namespace files

#else  // POSIX

namespace {

std::string describe(int code) {
    return std::generic_category().message(code);
}

int openRetrying(const char *path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all of data; false with errno set when the file takes no more (a full disk).
bool writeAll(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(fd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            if (wrote == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

FileLock::FileLock(const std::string &lockPath, std::chrono::milliseconds wait) {
    fd_ = openRetrying(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error_ = "cannot open the lock file " + lockPath + ": " + describe(errno);
        return;
    }
    int failure = 0;
    const int result = retryLock(
        [&] {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                return 1;
            }
            failure = errno;
            return failure == EWOULDBLOCK || failure == EINTR ? 0 : -1;
        },
        wait);
    locked_ = result == 1;
    if (result == 0) {
        error_ = busyText(lockPath, wait);
    } else if (result < 0) {
        error_ = "cannot lock " + lockPath + ": " + describe(failure);
    }
}

FileLock::~FileLock() {
    if (fd_ < 0) {
        return;
    }
    if (locked_) {
        ::flock(fd_, LOCK_UN);
    }
    ::close(fd_);
}

namespace files {

std::filesystem::path nativePath(const std::string &path) {
    return std::filesystem::path(path);
}

std::string configFolder() {
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;  // a relative one is to be ignored, as the base directory rules say
    }
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        return {};
    }
    return std::string(home) + "/.config";
}

bool makeFolders(const std::string &folder, std::string &error) {
    // Each missing folder on the way is made 0700 from the start, never widened and then narrowed.
    size_t end = 0;
    while (end != std::string::npos) {
        end = folder.find('/', end + 1);
        const std::string part = folder.substr(0, end);
        if (part.empty() || part.back() == '/') {
            continue;
        }
        struct stat info {};
        if (::stat(part.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                error = "cannot create the folder " + folder + ": " + part + " is not a folder";
                return false;
            }
            continue;
        }
        if (errno != ENOENT || (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)) {
            error = "cannot create the folder " + part + ": " + describe(errno);
            return false;
        }
    }
    return true;
}

bool replaceFile(const std::string &path, const std::string &contents, std::string &error) {
    std::string temporary;
    int fd = -1;
    // Left-overs of a writer that crashed may hold a name; take the next one.
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryName(path, static_cast<unsigned long>(::getpid()));
        fd = openRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + describe(errno);
        return false;
    }
    bool written = writeAll(fd, contents) && ::fsync(fd) == 0;
    int failure = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        error = "cannot write " + temporary + ": " + describe(failure);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
        ::unlink(temporary.c_str());
        error = "cannot rename " + temporary + " to " + path + ": " + describe(failure);
        return false;
    }
    // The rename lasts a crash only once the folder's entry is on disk too. A file system that
    // cannot flush a folder still has the whole old or the whole new file.
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int folderFd = openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

}  // namespace files

#endif

}  // namespace drovik
