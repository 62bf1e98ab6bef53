#include "kavel/safefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

#include "file_size_limit.h"
#include "kavel/rawimage.h"
#include "save_order.h"
#include "test_support.h"

namespace kavel {
namespace {

Status WriteText(std::ostream& out, const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return {};
}

// A save outside a group (the desktop's) syncs each file before its rename
// and the folder after: this test runs itself under strace, its second
// instance making the save into the folder it is given.
TEST(WriteFilesSafely, SyncsEachFileBeforeItsRenameAndThenTheFolder) {
    if (const char* probe = std::getenv("KAVEL_SAVE_PROBE_DIR")) {
        const std::filesystem::path into = probe;
        const FileToWrite files[] = {
            {into / "image.raw", [](std::ostream& out) { return WriteText(out, "pixels"); }},
            {into / "image.txt", [](std::ostream& out) { return WriteText(out, "1\r\n6\r\n"); }}};
        ASSERT_TRUE(WriteFilesSafely(files).ok());
        return;
    }
    if (!std::filesystem::exists("/usr/bin/strace")) {
        GTEST_SKIP() << "strace is not installed (scripts/install-deps.sh installs it)";
    }
    test::ScratchFolder folder;
    const auto into = std::filesystem::canonical(folder.Path());
    test::WriteWholeFile(into / "image.txt", "old");
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto trace = into / "trace";
    const std::string command =
        "KAVEL_SAVE_PROBE_DIR='" + into.string() + "' /usr/bin/strace -f -qq -y -o '" + trace.string() +
        "' -e " + test::kSaveTraceCalls + " '" + self.string() +
        "' --gtest_filter=WriteFilesSafely.SyncsEachFileBeforeItsRenameAndThenTheFolder "
        ">/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    EXPECT_EQ(test::ReadWholeFile(into / "image.txt"), "1\r\n6\r\n");
    for (const std::string& problem :
         test::SaveOrderProblems(test::SaveCalls(test::ReadWholeFile(trace)), 2, into)) {
        ADD_FAILURE() << problem;
    }
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

namespace kavel {
namespace {

namespace fs = std::filesystem;

FileWriter Text(std::string text) {
    return [text](std::ostream& out) { return WriteText(out, text); };
}

std::vector<std::string> Temporaries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (IsKavelTemporaryName(entry.path().filename().string())) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

TEST(WriteFileSafely, TheTemporaryIsMadeBesideTheTargetWithAShortNameOfOurs) {
    test::ScratchFolder folder;  // itself inside the system's temporary folder
    std::vector<std::string> seen;
    ASSERT_TRUE(WriteFileSafely(folder / "out.raw", [&](std::ostream& out) {
                    seen = Temporaries(folder.Path());
                    return WriteText(out, "x");
                }).ok());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].size(), std::string(".kavel-abcdef.tmp").size());
    EXPECT_TRUE(Temporaries(folder.Path()).empty());

    // So any name the file system takes can be saved.
    const std::string longest(255 - 4, 'n');
    EXPECT_TRUE(WriteFileSafely(folder / (longest + ".bmp"), Text("x")).ok());
}

TEST(WriteFileSafely, KeepsTheModeAndWritesThroughLinks) {
    test::ScratchFolder folder;
    const auto real = folder / "real.raw";
    test::WriteWholeFile(real, "old");
    // Not 0600, which the temporary has anyway: the save must set the mode.
    constexpr fs::perms kMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(real, kMode, fs::perm_options::replace);
    fs::create_directory(folder / "sub");
    fs::create_symlink("../real.raw", folder / "sub" / "hop");  // relative, two links
    fs::create_symlink("sub/hop", folder / "link.raw");
    ASSERT_TRUE(WriteFileSafely(folder / "link.raw", Text("new")).ok());
    EXPECT_TRUE(fs::is_symlink(folder / "link.raw"));
    EXPECT_TRUE(fs::is_symlink(folder / "sub" / "hop"));
    EXPECT_EQ(test::ReadWholeFile(real), "new");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, kMode);

    // A dangling link gets its target made.
    fs::create_symlink("made.raw", folder / "dangling.raw");
    ASSERT_TRUE(WriteFileSafely(folder / "dangling.raw", Text("made")).ok());
    EXPECT_TRUE(fs::is_symlink(folder / "dangling.raw"));
    EXPECT_EQ(test::ReadWholeFile(folder / "made.raw"), "made");
}

TEST(WriteFileSafely, NeverReplacesAPipeOrADeviceNorALinkToOne) {
    test::ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe.bmp").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", folder / "null.bmp");
    const struct {
        const char* Name;
        const char* Kind;
    } cases[] = {{"pipe.bmp", "a named pipe (FIFO)"}, {"null.bmp", "a character device"}};
    for (const auto& c : cases) {
        const Status status = WriteFileSafely(folder / c.Name, Text("x"));
        ASSERT_FALSE(status.ok()) << c.Name;
        EXPECT_EQ(status.error().message, "cannot save over " + (folder / c.Name).string() + ": it is " +
                                              c.Kind + ", not a regular file");
    }
    EXPECT_TRUE(fs::is_fifo(folder / "pipe.bmp"));
    EXPECT_TRUE(fs::is_symlink(folder / "null.bmp"));
    EXPECT_TRUE(Temporaries(folder.Path()).empty());
}

TEST(WriteFileSafely, BeyondTheFileSizeLimitIsAFailureNotADeath) {
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "out.raw", "old");
    std::optional<Status> status;
    {
        const FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.Applied());
        status = WriteFileSafely(folder / "out.raw", Text(std::string(5000, 'x')));
    }
    ASSERT_FALSE(status->ok());
    EXPECT_EQ(status->error().message, "cannot write " + (folder / "out.raw").string() + ": File too large");
    EXPECT_EQ(test::ReadWholeFile(folder / "out.raw"), "old");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.raw"});
}

TEST(WriteFilesSafely, APairIsReplacedWholeOrNotAtAll) {
    test::ScratchFolder folder;
    const auto pixels = folder / "a.raw";
    const auto descriptor = folder / "a.txt";
    test::WriteWholeFile(pixels, "old pixels");
    test::WriteWholeFile(descriptor, "old descriptor");

    // The descriptor fails to write after the pixels were written.
    std::vector<FileToWrite> files{{pixels, Text("new pixels")},
                                   {descriptor, [](std::ostream&) -> Status { return Error{"disk full"}; }}};
    EXPECT_FALSE(WriteFilesSafely(files).ok());
    EXPECT_EQ(test::ReadWholeFile(pixels), "old pixels");
    EXPECT_EQ(test::ReadWholeFile(descriptor), "old descriptor");

    // The descriptor's rename fails once the pixels are in place: they go back.
    files[1].Writer = [&](std::ostream& out) {
        fs::create_directories(folder / "b.txt" / "inside");
        return WriteText(out, "new descriptor");
    };
    files[0].Target = pixels;
    files[1].Target = folder / "b.txt";
    const Status status = WriteFilesSafely(files);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message.rfind("cannot replace " + (folder / "b.txt").string() + ": ", 0), 0u)
        << status.error().message;
    EXPECT_EQ(test::ReadWholeFile(pixels), "old pixels");

    files[1].Target = descriptor;
    files[1].Writer = Text("new descriptor");
    ASSERT_TRUE(WriteFilesSafely(files).ok());
    EXPECT_EQ(test::ReadWholeFile(pixels), "new pixels");
    EXPECT_EQ(test::ReadWholeFile(descriptor), "new descriptor");
    EXPECT_TRUE(Temporaries(folder.Path()).empty());
}

TEST(RemoveStaleTemporaries, RemovesOnlyOldUnlockedFilesOfOurs) {
    test::ScratchFolder folder;
    const auto setOld = [](const fs::path& path) {
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
    };
    for (const char* name : {".kavel-aaaaaa.tmp", ".kavel-bbbbbb.tmp", ".kavel-cccccc.tmp",
                             ".kavel-DDDDDD.tmp", "x.kavel-eeeeee.tmp"}) {
        test::WriteWholeFile(folder / name, "left");
    }
    for (const char* name :
         {".kavel-aaaaaa.tmp", ".kavel-bbbbbb.tmp", ".kavel-DDDDDD.tmp", "x.kavel-eeeeee.tmp"}) {
        setOld(folder / name);
    }
    // bbbbbb is held by a save in progress; cccccc was made during this run.
    const int held = ::open((folder / ".kavel-bbbbbb.tmp").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(RemoveStaleTemporaries(folder.Path()), 1);
    ::close(held);
    auto names = folder.Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".kavel-DDDDDD.tmp", ".kavel-bbbbbb.tmp", ".kavel-cccccc.tmp",
                                               "x.kavel-eeeeee.tmp"}));
}

}  // namespace
}  // namespace kavel
