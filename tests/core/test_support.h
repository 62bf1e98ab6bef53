// Small helpers shared by the core tests: a scratch folder removed at the end
// of each test, and whole-file reads.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kavel/guitools.h"

namespace kavel::test {

class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "kavel-core-";
        if (info != nullptr) {
            name += std::string(info->test_suite_name()) + "-" + info->name();
        }
        // The process id keeps two runs of one test (two build trees, a
        // parallel run) out of each other's folder.
        name += '-' + std::to_string(::getpid()) + '-';
        name += std::to_string(counter.fetch_add(1));
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Names in the folder, for checking that no temporary file was left.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline ByteMatrix MatrixOf(int columns, int lines) {
    auto matrix = AllocateByteMatrix(columns, lines);
    EXPECT_TRUE(matrix.ok());
    return std::move(matrix).value();
}

// Lines given top first; every line must have the same length.
inline ByteMatrix MatrixFrom(const std::vector<std::vector<int>>& lines) {
    const int columns = lines.empty() ? 0 : static_cast<int>(lines.front().size());
    ByteMatrix matrix = MatrixOf(columns, static_cast<int>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (std::size_t j = 0; j < lines[i].size(); ++j) {
            matrix[static_cast<int>(i)][j] = static_cast<std::uint8_t>(lines[i][j]);
        }
    }
    return matrix;
}

inline std::vector<std::vector<int>> LinesOf(const ByteMatrix& matrix) {
    std::vector<std::vector<int>> lines;
    for (int i = 0; i < matrix.Lines(); ++i) {
        lines.emplace_back(matrix.Row(i).begin(), matrix.Row(i).end());
    }
    return lines;
}

inline std::uint32_t Field32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t b = 0; b < 4; ++b) {
        value |= std::uint32_t{static_cast<std::uint8_t>(bytes.at(at + b))} << (8 * b);
    }
    return value;
}

inline std::uint32_t Field16(const std::string& bytes, std::size_t at) {
    return std::uint32_t{static_cast<std::uint8_t>(bytes.at(at))} |
           (std::uint32_t{static_cast<std::uint8_t>(bytes.at(at + 1))} << 8);
}

}  // namespace kavel::test
