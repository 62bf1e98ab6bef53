// kavel-cli import: any image the conversion reads (kavel/convert.h) written
// as the 8-bit gray image the rest of KAVEL works on.
#pragma once

#include <span>
#include <string_view>

#include "args.h"
#include "kavel/convert.h"

namespace kavel::cli {

using ImportedImage = kavel::ConvertedImage;
using kavel::DecodeImage;
inline constexpr int kImportDecodeLimitMegabytes = kavel::kDecodeLimitMegabytes;

int RunImport(const ImportOptions& options);

// kavel-import's side of a conversion for another command (importhelper.h):
// args are the words after kConvertToPipeWord. Gives the exit status.
int SendConvertedImage(std::span<const std::string_view> args);

}  // namespace kavel::cli
