#include "import.h"

#include <unistd.h>

#include <QFile>
#include <QString>

#include <algorithm>
#include <iostream>
#include <string>

#include "commands.h"

namespace kavel::cli {

int SendConvertedImage(std::span<const std::string_view> args) {
    QFile file;
    Expected<ImportedImage> converted = Error{};
    if (args.empty()) {
        converted = file.open(STDIN_FILENO, QIODevice::ReadOnly)
                        ? DecodeImage(file)
                        : Expected<ImportedImage>(Error{"cannot read standard input"});
    } else {
        converted = ConvertImageFile(std::string(args[0]));
    }
    if (!converted) {
        std::string reason = converted.error().message;
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        std::cout << "KAVEL-REFUSED " << reason << '\n' << std::flush;
        return kExitFailure;
    }
    std::string description = converted->Description;
    std::replace(description.begin(), description.end(), '\n', ' ');
    const ByteMatrix& gray = converted->Gray;
    std::cout << "KAVEL-GRAY " << gray.Lines() << ' ' << gray.Columns() << ' '
              << (converted->ColourConverted ? 1 : 0) << ' ' << description << '\n';
    const auto bytes = gray.Bytes();
    std::cout.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return std::cout.flush() ? kExitSuccess : kExitFailure;
}

}  // namespace kavel::cli
