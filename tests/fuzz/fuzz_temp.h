// Scratch files of a fuzz target: one folder per process under $TMPDIR (else /tmp), removed with
// everything in it when the process exits, so runs leave nothing behind.
#pragma once

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantor::fuzz {

inline std::string& scratch_folder() {
    static std::string folder;
    return folder;
}

inline int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

inline void remove_scratch() {
    if (!scratch_folder().empty()) nftw(scratch_folder().c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

// A fresh folder "<tmp>/vantor-fuzz-<name>-XXXXXX"; aborts when none can be made.
inline const std::string& make_scratch(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantor-fuzz-" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    scratch_folder() = pattern;
    std::atexit(remove_scratch);
    return scratch_folder();
}

}  // namespace vantor::fuzz
