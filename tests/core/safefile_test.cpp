#include "kavel/safefile.h"

#include <gtest/gtest.h>

#include <ostream>

#include "kavel/rawimage.h"
#include "test_support.h"

namespace kavel {
namespace {

Status WriteText(std::ostream& out, const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return {};
}

TEST(WriteFileSafely, ReplacesTheTargetAndLeavesNoTemporary) {
    test::ScratchFolder folder;
    const auto target = folder / "out.txt";
    ASSERT_TRUE(WriteFileSafely(target, [](std::ostream& out) { return WriteText(out, "first"); }).ok());
    ASSERT_TRUE(WriteFileSafely(target, [](std::ostream& out) { return WriteText(out, "second"); }).ok());
    EXPECT_EQ(test::ReadWholeFile(target), "second");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.txt"});
}

TEST(WriteFileSafely, WriterFailureKeepsTheOldFile) {
    test::ScratchFolder folder;
    const auto target = folder / "out.raw";
    test::WriteWholeFile(target, "precious");
    Status status = WriteFileSafely(target, [](std::ostream& out) -> Status {
        WriteText(out, "half of it").ok();
        return Error{"ran out of pixels"};
    });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "cannot write " + target.string() + ": ran out of pixels");
    EXPECT_EQ(test::ReadWholeFile(target), "precious");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.raw"});

    // A writer that leaves the stream failed counts as a failure too.
    status = WriteFileSafely(target, [](std::ostream& out) -> Status {
        out.setstate(std::ios::badbit);
        return {};
    });
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(test::ReadWholeFile(target), "precious");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.raw"});
}

TEST(WriteFileSafely, UnwritableFolderNamesTheFileAndTheReason) {
    test::ScratchFolder folder;
    // A regular file as parent folder stops the write even for root.
    test::WriteWholeFile(folder / "plain", "x");
    const auto underFile = folder / "plain" / "out.raw";
    Status status = WriteFileSafely(underFile, [](std::ostream& out) { return WriteText(out, "x"); });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "cannot create " + underFile.string() + ": Not a directory");

    const auto missing = folder / "no-such-folder" / "out.raw";
    status = WriteFileSafely(missing, [](std::ostream& out) { return WriteText(out, "x"); });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "cannot create " + missing.string() + ": No such file or directory");
    EXPECT_EQ(test::ReadWholeFile(folder / "plain"), "x");
}

TEST(WriteFileSafely, TargetThatCannotBeReplacedStaysAsItWas) {
    test::ScratchFolder folder;
    // A non-empty folder under the target name cannot be renamed over.
    std::filesystem::create_directories(folder / "taken" / "inside");
    Status status = WriteFileSafely(folder / "taken", [](std::ostream& out) { return WriteText(out, "x"); });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message,
              "cannot save over " + (folder / "taken").string() + ": it is a folder, not a regular file");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "taken" / "inside"));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"taken"});
}

TEST(WriteFileSafely, FileWritersGoThroughIt) {
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "plain", "x");
    const auto blocked = folder / "plain" / "r.raw";
    EXPECT_FALSE(WriteRawFile(blocked, ByteMatrix{}).ok());
    EXPECT_FALSE(WriteDescriptorFile(blocked, {1, 1}, DescriptorForm::TwoLines).ok());
}

}  // namespace
}  // namespace kavel
