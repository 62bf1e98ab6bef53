#include "kavel/imagefile.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_support.h"

namespace kavel {
namespace {

namespace fs = std::filesystem;

TEST(ImageFile, PipesAndFoldersAreRefusedWithoutWaiting) {
    test::ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "p.raw").c_str(), 0644), 0);
    // Opening a FIFO for reading would wait for a writer: these return at once.
    const Status pipe = CheckImageFile(folder / "p.raw");
    ASSERT_FALSE(pipe.ok());
    EXPECT_EQ(pipe.error().message,
              (folder / "p.raw").string() + " is a named pipe (FIFO), not a regular file");
    EXPECT_FALSE(LoadRawImage(folder / "p.raw", {2, 2}).ok());
    EXPECT_FALSE(LoadGrayBitmap(folder / "p.raw").ok());
    EXPECT_FALSE(ReadDescriptorFile(folder / "p.raw").ok());
    EXPECT_EQ(FileSizeOf(folder / "p.raw"), -1);
    const Status missing = CheckImageFile(folder / "none.raw");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message,
              "cannot open " + (folder / "none.raw").string() + ": No such file or directory");
}

TEST(ImageFile, RawImageReadsWhatIsThereAndSaysItWasShort) {
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "a.raw", "\x01\x02\x03\x04\x05");
    auto whole = LoadRawImage(folder / "a.raw", {1, 5});
    ASSERT_TRUE(whole.ok()) << whole.error().message;
    EXPECT_FALSE(whole->Short());
    auto part = LoadRawImage(folder / "a.raw", {2, 4});
    ASSERT_TRUE(part.ok());
    EXPECT_TRUE(part->Short());
    EXPECT_EQ(part->FileBytes, 5u);
    EXPECT_EQ(test::LinesOf(part->Pixels), (std::vector<std::vector<int>>{{1, 2, 3, 4}, {5, 0, 0, 0}}));
}

TEST(ImageFile, DescriptorIsFoundInAnyCaseOfTxtAndReadAfterAByteOrderMark) {
    test::ScratchFolder folder;
    EXPECT_EQ(FindDescriptor(folder / "SCENE.RAW").Name, folder / "SCENE.txt");
    EXPECT_FALSE(FindDescriptor(folder / "SCENE.RAW").Exists);
    test::WriteWholeFile(folder / "SCENE.TXT",
                         "\xEF\xBB\xBF"
                         "3\r\n4\r\n");
    const DescriptorLocation upper = FindDescriptor(folder / "SCENE.RAW");
    EXPECT_TRUE(upper.Exists);
    EXPECT_EQ(upper.Name, folder / "SCENE.TXT");
    auto size = ReadDescriptorFile(upper.Name);
    ASSERT_TRUE(size.ok()) << size.error().message;
    EXPECT_EQ(*size, (ImageSize{3, 4}));
    // The exact name wins when both exist; the stem's case must match.
    test::WriteWholeFile(folder / "SCENE.txt", "1 1");
    EXPECT_EQ(FindDescriptor(folder / "SCENE.RAW").Name, folder / "SCENE.txt");
    EXPECT_FALSE(FindDescriptor(folder / "scene.raw").Exists);
}

TEST(ImageFile, RawPairAndBitmapSaveWhatTheyOpen) {
    test::ScratchFolder folder;
    const ByteMatrix image = test::MatrixFrom({{1, 2, 3}, {250, 251, 252}});
    ASSERT_TRUE(SaveRawImage(folder / "r.raw", folder / "r.txt", image).ok());
    EXPECT_EQ(test::ReadWholeFile(folder / "r.txt"), "2\r\n3\r\n1\r\n0\r\n255\r\n");
    auto raw = LoadRawImage(folder / "r.raw", *ReadDescriptorFile(folder / "r.txt"));
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(test::LinesOf(raw->Pixels), test::LinesOf(image));

    ASSERT_TRUE(SaveBitmapImage(folder / "b.bmp", image).ok());
    auto bitmap = LoadGrayBitmap(folder / "b.bmp");
    ASSERT_TRUE(bitmap.ok()) << bitmap.error().message;
    EXPECT_EQ(test::LinesOf(*bitmap), test::LinesOf(image));
}

TEST(ImageFile, ProtectedFilesAreKnownThroughAnyName) {
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "in.raw", "x");
    test::WriteWholeFile(folder / "in.txt", "1 1");
    fs::create_symlink("in.txt", folder / "alias.txt");
    const std::vector<fs::path> kept{folder / "in.raw", folder / "in.txt"};
    EXPECT_EQ(FirstProtected({folder / "out.raw", folder / "alias.txt"}, kept), folder / "in.txt");
    EXPECT_EQ(FirstProtected({folder / "." / "in.raw"}, kept), folder / "in.raw");
    EXPECT_FALSE(FirstProtected({folder / "out.raw", folder / "out.txt"}, kept).has_value());
}

// Writers cost in proportion to the bytes they write: 0 columns of
// 2147483647 lines is a header and a palette, written without a pass per line.
TEST(ImageFile, AnImageOfNoColumnsAndMaximalLinesIsJustItsHeader) {
    auto empty = AllocateByteMatrix(0, 2147483647);
    ASSERT_TRUE(empty.ok());
    // A stream that counts every write: a pass per line would be 2^31 calls.
    class Counting : public std::streambuf {
    public:
        std::size_t Calls = 0;
        std::size_t Bytes = 0;

    protected:
        std::streamsize xsputn(const char*, std::streamsize n) override {
            ++Calls;
            Bytes += static_cast<std::size_t>(n);
            return n;
        }
        int_type overflow(int_type ch) override {
            ++Calls;
            ++Bytes;
            return traits_type::not_eof(ch);
        }
    } counting;
    std::ostream out(&counting);
    ASSERT_TRUE(WriteBitmapStream(out, *empty).ok());
    EXPECT_EQ(counting.Bytes, 1078u);
    EXPECT_LE(counting.Calls, 4u);
}

}  // namespace
}  // namespace kavel
