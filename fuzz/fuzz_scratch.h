// The scratch folder of a fuzz target's files: made once, on tmpfs where there
// is one (the saves sync, which costs nothing there), removed at exit.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kavel::fuzz {

inline const std::filesystem::path& ScratchFolder() {
    namespace fs = std::filesystem;
    // Never destroyed, so the exit handler can still use it.
    static const fs::path* const folder = [] {
        std::string pattern =
            (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
            "/kavel-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return new fs::path(pattern);
    }();
    static const bool cleaned = [] {
        return std::atexit([] {
                   std::error_code ignored;
                   fs::remove_all(*folder, ignored);
               }) == 0;
    }();
    (void)cleaned;
    return *folder;
}

}  // namespace kavel::fuzz
