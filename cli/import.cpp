#include "import.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "commands.h"
#include "imagefiles.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

void ReportFailure(const std::string& file, const std::string& reason) {
    std::cerr << "kavel-cli: " << file << ": " << reason << '\n';
}

Status ImportOne(const fs::path& input, const fs::path& output, const ImportOptions& options,
                 std::vector<fs::path>& written) {
    // Neither an input of the run nor an earlier result may be replaced.
    const auto outputs = FilesWrittenFor(output, options.Format);
    for (const auto& target : outputs) {
        for (const auto& other : options.Inputs) {
            if (SameFile(other, target)) {
                return Error{"the output " + target.string() + " would replace the input " + other};
            }
        }
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(target, ec);
        if (std::find(written.begin(), written.end(), ec ? target : canonical) != written.end()) {
            return Error{"the output " + target.string() + " was already written for an earlier input"};
        }
    }

    std::error_code ec;
    const auto status = fs::status(input, ec);
    if (!fs::exists(status)) {
        return Error{"no such file"};
    }
    if (fs::is_directory(status)) {
        return Error{"is a folder, not an image"};
    }
    // A pipe or a device could block the read forever or never end.
    if (!fs::is_regular_file(status)) {
        return Error{"is not a regular file"};
    }
    QFile file(QString::fromStdString(input.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return Error{"cannot be opened: " + file.errorString().toStdString()};
    }
    auto imported = DecodeImage(file);
    if (!imported) {
        return imported.error();
    }
    if (imported->ColourConverted) {
        std::cerr << "kavel-cli: " << input.string() << ": note: " << imported->Description << ": "
                  << ColourNote() << '\n';
    }
    if (auto saved = SaveImage(output, imported->Gray, options.Format); !saved) {
        return saved;
    }
    for (const auto& target : outputs) {
        const fs::path canonical = fs::weakly_canonical(target, ec);
        written.push_back(ec ? target : canonical);
    }
    return {};
}

}  // namespace

int RunImport(const ImportOptions& options) {
    if (!options.OutDir.empty()) {
        std::error_code ec;
        if (!fs::is_directory(options.OutDir, ec)) {
            ReportFailure(options.OutDir, "the output folder does not exist");
            return kExitFailure;
        }
    }
    std::vector<fs::path> written;
    int status = kExitSuccess;
    for (const auto& name : options.Inputs) {
        const fs::path input = name;
        const fs::path output =
            options.Output.empty()
                ? fs::path(options.OutDir) /
                      (input.stem().string() + (options.Format == ImageFormat::Bitmap ? ".bmp" : ".raw"))
                : fs::path(options.Output);
        if (auto done = ImportOne(input, output, options, written); !done) {
            ReportFailure(name, done.error().message);
            status = kExitFailure;
        }
    }
    return status;
}

}  // namespace kavel::cli
