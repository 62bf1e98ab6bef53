// Writing a file so that a failure never leaves a half-written file in place of
// an existing one: the content goes to a temporary file in the same folder,
// which is renamed over the target only once everything was written and flushed.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>

#include "kavel/expected.h"

namespace kavel {

// writer fills the stream; a writer error or any stream failure removes the
// temporary file and leaves the target untouched. The error names the file and
// the reason (e.g. "cannot create /x/y.raw: Permission denied").
Status WriteFileSafely(const std::filesystem::path& target,
                       const std::function<Status(std::ostream&)>& writer);

}  // namespace kavel
