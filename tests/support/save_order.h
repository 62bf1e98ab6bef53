// The order of a save's system calls as strace saw them (strace -f -y, traced
// fsync, fdatasync, syncfs and the renames), and the rule they must follow:
// each new file synced (by itself, or with its file system by syncfs) before
// the rename that puts it in place, and its folder after the last rename.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kavel/safefile.h"

namespace kavel::test {

inline constexpr const char* kSaveTraceCalls = "trace=fsync,fdatasync,syncfs,rename,renameat,renameat2";

struct SaveCall {
    std::string What;  // "sync", "syncfs" or "rename"
    std::string Path;  // the file synced, or renamed from
    std::string To;
};

inline std::vector<SaveCall> SaveCalls(const std::string& trace) {
    static const std::regex kSync(R"re(\bf(?:data)?sync\(\d+<([^>]*)>\)\s+= 0)re");
    static const std::regex kSyncFs(R"re(\bsyncfs\(\d+<([^>]*)>\)\s+= 0)re");
    static const std::regex kRename(
        R"re(rename(?:at2?)?\((?:AT_FDCWD<[^>]*>, )?"([^"]*)", (?:AT_FDCWD<[^>]*>, )?"([^"]*)".*\)\s+= 0)re");
    std::vector<SaveCall> calls;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, kSyncFs)) {
            calls.push_back({"syncfs", match[1], ""});
        } else if (std::regex_search(line, match, kSync)) {
            calls.push_back({"sync", match[1], ""});
        } else if (std::regex_search(line, match, kRename)) {
            calls.push_back({"rename", match[1], match[2]});
        }
    }
    return calls;
}

// What breaks the rule in calls, one line each; renames is how many renames
// the save must make, folder the canonical folder of its files.
inline std::vector<std::string> SaveOrderProblems(const std::vector<SaveCall>& calls, int renames,
                                                  const std::filesystem::path& folder) {
    std::vector<std::string> problems;
    int renamed = 0;
    std::size_t lastRename = 0;
    for (std::size_t k = 0; k < calls.size(); ++k) {
        if (calls[k].What != "rename") {
            continue;
        }
        const std::string temporary = std::filesystem::path(calls[k].Path).filename().string();
        if (!IsKavelTemporaryName(temporary)) {
            problems.push_back(calls[k].Path + " is not a temporary of a save");
        }
        const auto before = calls.begin() + static_cast<std::ptrdiff_t>(k);
        if (std::none_of(calls.begin(), before, [&](const SaveCall& c) {
                return c.What == "syncfs" ||
                       (c.What == "sync" && std::filesystem::path(c.Path).filename() == temporary);
            })) {
            problems.push_back(calls[k].Path + " renamed before it was synced");
        }
        ++renamed;
        lastRename = k;
    }
    if (renamed != renames) {
        problems.push_back(std::to_string(renamed) + " renames, not " + std::to_string(renames));
    }
    if (std::none_of(calls.begin() + static_cast<std::ptrdiff_t>(lastRename), calls.end(),
                     [&](const SaveCall& c) { return c.What == "sync" && c.Path == folder.string(); })) {
        problems.push_back("the folder is not synced after the renames");
    }
    return problems;
}

}  // namespace kavel::test
