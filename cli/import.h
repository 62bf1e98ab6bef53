// kavel-cli import: any image the conversion reads (kavel/convert.h) written
// as the 8-bit gray image the rest of KAVEL works on.
#pragma once

#include "args.h"
#include "kavel/convert.h"

namespace kavel::cli {

using ImportedImage = kavel::ConvertedImage;
using kavel::DecodeImage;
inline constexpr int kImportDecodeLimitMegabytes = kavel::kDecodeLimitMegabytes;

int RunImport(const ImportOptions& options);

}  // namespace kavel::cli
