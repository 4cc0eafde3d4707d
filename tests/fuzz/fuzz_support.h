#pragma once

// Shared by the fuzz targets: a scratch folder for files the code under test must read or write,
// and the check that turns a broken invariant into a finding.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace paginor::fuzz {

// A private folder below TMPDIR (else /tmp), made once per process and kept: libFuzzer ends the
// process without running destructors.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/paginor-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            abort();
        }
        return pattern;
    }();
    return folder;
}

// Writes bytes into the scratch file name and gives its path.
inline std::string writeScratchFile(const char* name, std::string_view bytes) {
    std::string path = scratchFolder() + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        abort();
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            std::perror(path.c_str());
            abort();
        }
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return path;
}

// A report whose style sheets or images sit on a web server makes the core download them; the
// targets run offline, so every "http" becomes "hxxp" and such links stay local file names.
inline void keepOffline(std::string& text) {
    for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
        if ((text[i] | 0x20) == 'h' && (text[i + 1] | 0x20) == 't' && (text[i + 2] | 0x20) == 't' &&
            (text[i + 3] | 0x20) == 'p') {
            text[i + 1] = 'x';
            text[i + 2] = 'x';
        }
    }
}

// Reports a broken invariant as a finding.
[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "broken invariant: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    abort();
}

inline void check(bool holds, const char* what, const std::string& detail = {}) {
    if (!holds) {
        fail(what, detail);
    }
}

// The piece of rest before the next byte sep (all of it when there is none); rest moves past it.
inline std::string_view nextPiece(std::string_view& rest, char sep = '\x01') {
    std::size_t at = rest.find(sep);
    std::string_view piece = rest.substr(0, at);
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
    return piece;
}

}  // namespace paginor::fuzz
