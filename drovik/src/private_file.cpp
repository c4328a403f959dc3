// The platform calls for owner-only files. On Windows a new file under the user's profile inherits
// that folder's access list, which already keeps other users out.
#include "private_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace drovik {

bool writeOwnerOnlyFile(const std::string &path, std::span<const uint8_t> bytes,
                        std::string &error) {
#ifdef _WIN32
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
    int fd =
        _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        error = "Cannot create '" + temporary + "': " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
#ifdef _WIN32
        int n = _write(fd, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
#else
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
#endif
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
#ifdef _WIN32
    ok = ok && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    ok = ok && MoveFileExA(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
    if (!ok) {
        error = "Cannot write '" + path + "': " + std::strerror(errno);
        std::remove(temporary.c_str());
    }
    return ok;
}

}  // namespace drovik
