// The known-servers file: looking a server's key up, and recording it on first use.
#include "known_servers.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "file_lock.h"

namespace drovik::known_servers {
namespace {

// Nobody pins that many servers; a bigger file is a mistake, and is not read into memory.
constexpr size_t kMaxFileBytes = 1024 * 1024;
// Another master holds the lock only while it reads the file and writes it back.
constexpr std::chrono::milliseconds kLockWait{10000};

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i])) {
            return false;
        }
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A key and a fingerprint are each one field of a line: printable, without blanks.
bool isField(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

// The fields of a line "key fingerprint". False for a comment, a blank line and any line of
// another shape, which is then kept in the file but never matches.
bool parseLine(std::string_view line, std::string_view &key, std::string_view &fingerprint) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);  // a line edited on Windows
    }
    std::string_view fields[2];
    size_t count = 0;
    size_t pos = 0;
    for (;;) {
        while (pos < line.size() && isBlank(line[pos])) {
            ++pos;
        }
        if (pos == line.size()) {
            break;
        }
        const size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        if (count == 2) {
            return false;
        }
        fields[count++] = line.substr(pos, end - pos);
        pos = end;
    }
    if (count != 2 || fields[0].front() == '#' || !isField(fields[0]) || !isField(fields[1])) {
        return false;
    }
    key = fields[0];
    fingerprint = fields[1];
    return true;
}

Verdict failure(const std::string &path, const std::string &why) {
    Verdict verdict;
    verdict.kind = Verdict::Kind::Error;
    verdict.text = "known-servers file " + path + ": " + why;
    return verdict;
}

// The whole file; a missing file reads as empty.
bool readFile(const std::filesystem::path &file, std::string &contents, std::string &why) {
    std::error_code code;
    const auto status = std::filesystem::status(file, code);
    if (status.type() == std::filesystem::file_type::not_found) {
        contents.clear();
        return true;
    }
    if (code) {
        why = code.message();
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        why = "not a regular file";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        why = "cannot be opened for reading";
        return false;
    }
    contents.clear();
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        contents.append(buffer, static_cast<size_t>(in.gcount()));
        if (contents.size() > kMaxFileBytes) {
            why = "larger than 1 MiB, which is refused (nobody pins that many servers)";
            return false;
        }
    }
    if (in.bad()) {
        why = "cannot be read";
        return false;
    }
    return true;
}

Verdict lockedCheckOrPin(const std::string &path, const std::string &key,
                         const std::string &fingerprint) {
    const auto file = files::nativePath(path);
    const auto folder = file.parent_path().u8string();
    std::string why;
    if (!files::makeFolders(std::string(folder.begin(), folder.end()), why)) {
        return failure(path, why);
    }
    const FileLock lock(path + ".lock", kLockWait);
    if (!lock.locked()) {
        return failure(path, lock.error());
    }
    std::string contents;
    if (!readFile(file, contents, why)) {
        return failure(path, why);
    }

    Verdict changed;
    int number = 0;
    for (size_t start = 0; start < contents.size();) {
        const size_t end = std::min(contents.find('\n', start), contents.size());
        ++number;
        std::string_view recordedKey, recordedFingerprint;
        // Host names do not differ by case, so neither do keys of a file edited by hand.
        if (parseLine(std::string_view(contents).substr(start, end - start), recordedKey,
                      recordedFingerprint) &&
            equalIgnoringCase(recordedKey, key)) {
            // One of several lines for a key may hold the new certificate: the server's owner
            // added it ahead of a change.
            if (equalIgnoringCase(recordedFingerprint, fingerprint)) {
                Verdict known;
                known.kind = Verdict::Kind::Known;
                return known;
            }
            if (changed.kind != Verdict::Kind::Changed) {
                changed.kind = Verdict::Kind::Changed;
                changed.line = number;
                changed.text = std::string(recordedFingerprint);
            }
        }
        start = end + 1;
    }
    if (changed.kind == Verdict::Kind::Changed) {
        return changed;
    }

    if (!contents.empty() && contents.back() != '\n') {
        contents += '\n';
    }
    contents += key + " " + fingerprint + "\n";
    if (contents.size() > kMaxFileBytes) {
        return failure(path, "would grow beyond 1 MiB, which is refused");
    }
    if (!files::replaceFile(path, contents, why)) {
        return failure(path, why);
    }
    Verdict pinned;
    pinned.kind = Verdict::Kind::FirstUse;
    return pinned;
}

}  // namespace

std::string defaultPath() {
    const std::string folder = files::configFolder();
    if (folder.empty()) {
        return {};
    }
    const auto path = (files::nativePath(folder) / "drovik" / "known_servers").u8string();
    return std::string(path.begin(), path.end());
}

std::string keyOf(const std::string &host, int port) {
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    for (char &c : name) {
        c = lowered(c);
    }
    if (name.find(':') != std::string::npos) {
        name = "[" + name + "]";  // the port would otherwise read as part of an IPv6 address
    }
    return name + ":" + std::to_string(port);
}

Verdict checkOrPin(const std::string &path, const std::string &key,
                   const std::string &fingerprint) {
    try {
        if (path.empty()) {
            Verdict verdict;
            verdict.text =
                "no known-servers file: none was given and no configuration folder is known";
            return verdict;
        }
        // A blank or line break would split the line apart; a key with '#' would be a comment.
        if (!isField(key) || key.front() == '#' || !isField(fingerprint)) {
            return failure(path,
                           "the key or fingerprint is empty, holds blanks or starts a comment");
        }
        return lockedCheckOrPin(path, key, fingerprint);
    } catch (...) {
        // Only memory can run out here; the file is as it was.
        Verdict verdict;
        try {
            verdict.text = "known-servers file " + path + ": out of memory";
        } catch (...) {
        }
        return verdict;
    }
}

}  // namespace drovik::known_servers
