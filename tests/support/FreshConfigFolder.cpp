// Linked into every test program that connects through the library: the process gets a
// configuration folder of its own, made before main and removed at exit. The library pins every
// server key it meets in the known-servers file of the user's configuration folder; tests start
// many servers with fresh keys on reused loopback ports, and must neither write into the real
// user's file nor meet a pin that an earlier run left for the same port.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

long processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<long>(getpid());
#endif
}

void setVariable(const char *name, const std::string &value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

class FreshConfigFolder {
public:
    FreshConfigFolder() : owner_(processId()) {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        std::error_code ec;
        // create_directory is false for a name that exists: try another rather than share it.
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate =
                base / ("test-config-" + std::to_string(owner_) + "-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, ec))
                path_ = candidate;
        }
        if (path_.empty()) {
            // Going on would let the tests write into the real user's configuration.
            std::fprintf(stderr, "no temporary configuration folder under %s: %s\n",
                         base.string().c_str(), ec.message().c_str());
            std::abort();
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
        setVariable("XDG_CONFIG_HOME", path_.string());
#if defined(_WIN32)
        setVariable("APPDATA", path_.string());
#endif
    }

    ~FreshConfigFolder() {
        // A forked child that exits normally runs this too; the folder is its parent's.
        if (processId() != owner_)
            return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

private:
    long owner_;
    std::filesystem::path path_;
};

const FreshConfigFolder freshConfigFolder;

}  // namespace
