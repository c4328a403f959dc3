// The platform's file calls behind the known-servers file, so that its logic stays portable: an
// exclusive lock that holds against other threads and other processes, folders private to the
// user, and a file replaced atomically and durably. Paths are UTF-8 text, as every path that
// crosses the library's C ABI; on Windows they become the wide paths of the file system.
#ifndef DROVIK_SRC_FILE_LOCK_H
#define DROVIK_SRC_FILE_LOCK_H

#include <chrono>
#include <filesystem>
#include <string>

namespace drovik {

// An exclusive lock on a lock file, held from construction to destruction. Each FileLock opens the
// file anew, so two of them exclude each other in one process as well as across processes
// (flock(2) on POSIX, LockFileEx on Windows; fcntl locks would not exclude within a process).
// The lock file itself is left in place: removing it would let a waiter lock a file that is gone.
class FileLock {
public:
    // Opens or creates (0600) lockPath and takes its lock, waiting at most `wait` for a holder to
    // let go. locked() says whether it did; error() says why not, naming the file.
    FileLock(const std::string &lockPath, std::chrono::milliseconds wait);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool locked() const { return locked_; }
    const std::string &error() const { return error_; }

private:
#ifdef _WIN32
    void *handle_ = nullptr;  // a HANDLE; windows.h stays out of this header
#else
    int fd_ = -1;
#endif
    bool locked_ = false;
    std::string error_;
};

namespace files {

// The file system's path for UTF-8 text; empty when the text is not UTF-8 (Windows only).
std::filesystem::path nativePath(const std::string &path);
// The user's configuration folder: $XDG_CONFIG_HOME if set and absolute, else $HOME/.config; on
// Windows %APPDATA%. "" when none of them is known.
std::string configFolder();
// Creates folder and its missing parents, private to the user (0700 on POSIX). True when the
// folder exists afterwards; otherwise false with a text in error.
bool makeFolders(const std::string &folder, std::string &error);
// Replaces the file at path by contents (0600 on POSIX): writes a new file beside it, flushes it
// to disk and renames it over the old one, so readers and a crash see either the old or the new
// file, never a part. False with a text in error, the old file untouched.
bool replaceFile(const std::string &path, const std::string &contents, std::string &error);

}  // namespace files
}  // namespace drovik

#endif
