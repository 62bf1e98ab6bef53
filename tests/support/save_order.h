// The order of a save's system calls as strace saw them (strace -f -y, traced
// fsync, fdatasync, syncfs and the renames), and the rule they must follow:
// each new file synced (by itself, or with its file system by syncfs) before
// the rename that puts it in place, and its folder after the last rename.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "kavel/safefile.h"

namespace kavel::test {

inline constexpr const char* kSaveTraceCalls = "trace=fsync,fdatasync,syncfs,rename,renameat,renameat2";

struct SaveCall {
    std::string What;  // "sync", "syncfs" or "rename"
    std::string Path;  // the file synced, or renamed from
    std::string To;
};

// The text between open and close after at, or none.
inline std::optional<std::string> Between(const std::string& line, std::size_t at, char open, char close) {
    const std::size_t from = line.find(open, at);
    const std::size_t to = from == std::string::npos ? from : line.find(close, from + 1);
    if (to == std::string::npos) {
        return std::nullopt;
    }
    return line.substr(from + 1, to - from - 1);
}

// Read by hand rather than with std::regex, whose instantiation GCC 12 warns
// about under the sanitizers (a false maybe-uninitialized).
inline std::vector<SaveCall> SaveCalls(const std::string& trace) {
    std::vector<SaveCall> calls;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.size() < 3 || line.compare(line.size() - 3, 3, "= 0") != 0) {
            continue;
        }
        const auto call = [&](std::string_view name) {
            const std::size_t at = line.find(std::string(name) + "(");
            return at != std::string::npos && (at == 0 || line[at - 1] == ' ') ? at : std::string::npos;
        };
        std::size_t at = std::string::npos;
        if ((at = call("syncfs")) != std::string::npos) {
            if (auto path = Between(line, at, '<', '>')) {
                calls.push_back({"syncfs", *path, ""});
            }
        } else if ((at = call("fsync")) != std::string::npos ||
                   (at = call("fdatasync")) != std::string::npos) {
            if (auto path = Between(line, at, '<', '>')) {
                calls.push_back({"sync", *path, ""});
            }
        } else if ((at = call("rename")) != std::string::npos ||
                   (at = call("renameat")) != std::string::npos ||
                   (at = call("renameat2")) != std::string::npos) {
            const auto from = Between(line, at, '"', '"');
            const std::size_t next =
                from ? line.find('"', line.find('"', at) + from->size() + 2) : std::string::npos;
            const auto to = next == std::string::npos ? std::nullopt : Between(line, next, '"', '"');
            if (from && to) {
                calls.push_back({"rename", *from, *to});
            }
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
