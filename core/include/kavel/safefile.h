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

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <span>
#include <string_view>

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
