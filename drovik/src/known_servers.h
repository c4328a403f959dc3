// The known-servers file: the certificates a master trusted on first use, one line
// "host:port fingerprint" each, so that a slave presenting another certificate later is refused.
// Lines starting with '#', blank lines and lines the library cannot read are kept as they are.
#ifndef DROVIK_SRC_KNOWN_SERVERS_H
#define DROVIK_SRC_KNOWN_SERVERS_H

#include <string>

namespace drovik::known_servers {

// <config>/drovik/known_servers where <config> is $XDG_CONFIG_HOME if set and absolute, else
// $HOME/.config; on Windows %APPDATA%. "" when none of them is known.
std::string defaultPath();

// "host:port" as the file keys it: an IPv6 literal in brackets ("[::1]:7000"), a host name
// lower-cased.
std::string keyOf(const std::string &host, int port);

struct Verdict {
    enum class Kind { Known, FirstUse, Changed, Error } kind = Kind::Error;
    int line = 0;      // Changed: the 1-based line of the recorded key
    std::string text;  // Error: why (names the file); Changed: the recorded fingerprint
};

// Under an exclusive lock of the file (against other threads and other processes): when `key` is
// recorded with `fingerprint` (compared without regard to case), Known; with another fingerprint
// only, Changed; not recorded, appends "key fingerprint" and returns FirstUse. Creates the folder
// (0700) and the file (0600) as needed and replaces the file atomically. A file over 1 MiB is
// refused with an Error. Never throws.
Verdict checkOrPin(const std::string &path, const std::string &key, const std::string &fingerprint);

}  // namespace drovik::known_servers

#endif
