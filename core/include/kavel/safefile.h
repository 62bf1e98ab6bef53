// Writing files so that a failure never leaves a half-written file in place of
// an existing one, and a success keeps what the replaced file had: its
// permission bits, owner and group, and the symbolic link that led to it.
//
// The content is written to a short temporary ".kavel-XXXXXX.tmp" beside the
// real target (the end of any chain of links), fsynced, and renamed over the
// target; then the folder is fsynced too, which is not checked: by then the
// new content is in place. Devices, FIFOs and sockets are never replaced.
// When the folder refuses a new file but the target itself is writable, the
// target is written in place (written, truncated, fsynced; no rename)
// instead.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "kavel/expected.h"

namespace kavel {

using FileWriter = std::function<Status(std::ostream&)>;

// writer fills the stream; a writer error or any stream failure removes the
// temporary file and leaves the target untouched. The error names the file and
// the system's reason ("cannot write /x/y.raw: No space left on device").
Status WriteFileSafely(const std::filesystem::path& target, const FileWriter& writer);

struct FileToWrite {
    std::filesystem::path Target;
    FileWriter Writer;
};

// Several files of one folder replaced as a unit (a raw image and its
// descriptor): all are written and synced first, then renamed under a lock on
// the folder, so two runs cannot interleave their renames; when a later rename
// fails the earlier ones are undone. Either every target gets its new content
// or none does (except for in-place writes in a read-only folder, which cannot
// be undone and say so).
Status WriteFilesSafely(std::span<const FileToWrite> files);

// Many saves made durable together. While a SaveGroup::Scope is alive on a
// thread, each save of that thread (WriteFileSafely, WriteFilesSafely) is
// written to its temporaries at once but not synced, and no target changes:
// Commit then makes every waiting save durable with one sync of each file
// system (syncfs, or an fsync of each file where that fails), renames them
// into place and syncs each folder once. A kill at any moment thus leaves
// every target whole, old or new, and a batch of small files costs one sync
// instead of two per file. Saves into a read-only folder (written in place)
// are not deferred. What is not committed when the group ends is discarded.
// Thread-safe: several threads may add under scopes of their own.
class SaveGroup {
public:
    SaveGroup();
    ~SaveGroup();
    SaveGroup(const SaveGroup&) = delete;
    SaveGroup& operator=(const SaveGroup&) = delete;

    // The saves of this thread go to group, under key, while it lives.
    class Scope {
    public:
        Scope(SaveGroup& group, std::size_t key) noexcept;
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SaveGroup* previousGroup_;
        std::size_t previousKey_;
    };

    // Puts every save added so far in place; gives the key and the error of
    // each save that could not be (that save's targets are left as they were).
    std::vector<std::pair<std::size_t, Error>> Commit();
    // Saves waiting for Commit.
    std::size_t Waiting() const;

    struct Impl;

private:
    friend Status WriteFilesSafely(std::span<const FileToWrite> files);
    std::unique_ptr<Impl> impl_;
};

// Our temporaries are named ".kavel-" + 6 characters + ".tmp".
bool IsKavelTemporaryName(std::string_view fileName) noexcept;

// Removes temporaries of ours in folder that no running save holds (a save
// holds a lock on its temporary from creation to rename) and that are older
// than the start of this process: leftovers of a killed run. Gives the number
// removed. Every save calls it for its own folder.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

// Makes a write beyond the file-size limit (ulimit -f) fail with "File too
// large" instead of killing the process with SIGXFSZ. Called by every save;
// programs may call it at start-up.
void SurviveFileSizeLimit() noexcept;

// The file a name finally leads to, following symbolic links (the last one may
// dangle: the name it points to is given back).
std::filesystem::path ResolveLinks(const std::filesystem::path& name);

}  // namespace kavel
