#include "kavel/rawimage.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_support.h"

namespace kavel {
namespace {

using test::MatrixOf;

TEST(DescriptorName, ReplacesOnlyTheLastExtensionOfTheFileName) {
    EXPECT_EQ(DescriptorNameFor("scene.raw", PathStyle::Posix), "scene.txt");
    EXPECT_EQ(DescriptorNameFor("/images/scene.raw.raw", PathStyle::Posix), "/images/scene.raw.txt");
    EXPECT_EQ(DescriptorNameFor("/images/scene", PathStyle::Posix), "/images/scene.txt");
    EXPECT_EQ(DescriptorNameFor("/my.images/scene", PathStyle::Posix), "/my.images/scene.txt");
    EXPECT_EQ(DescriptorNameFor("scene.", PathStyle::Posix), "scene.txt");
    EXPECT_EQ(DescriptorNameFor("", PathStyle::Posix), ".txt");
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(DescriptorNameFor("a.b\\scene", PathStyle::Posix), "a.txt");

    EXPECT_EQ(DescriptorNameFor("C:\\images\\scene.raw", PathStyle::Windows), "C:\\images\\scene.txt");
    EXPECT_EQ(DescriptorNameFor("C:\\images\\scene.raw.raw", PathStyle::Windows),
              "C:\\images\\scene.raw.txt");
    EXPECT_EQ(DescriptorNameFor("C:\\my.images\\scene", PathStyle::Windows), "C:\\my.images\\scene.txt");
    EXPECT_EQ(DescriptorNameFor("D.E:scene", PathStyle::Windows), "D.E:scene.txt");
    EXPECT_EQ(DescriptorNameFor("C:/a.b/scene", PathStyle::Windows), "C:/a.b/scene.txt");
}

TEST(DirectoryPart, DropsTheLastSeparatorExceptAtTheRoot) {
    EXPECT_EQ(DirectoryPartOf("/images/scene.raw", PathStyle::Posix), "/images");
    EXPECT_EQ(DirectoryPartOf("/scene.raw", PathStyle::Posix), "/");
    EXPECT_EQ(DirectoryPartOf("scene.raw", PathStyle::Posix), "");
    EXPECT_EQ(DirectoryPartOf("a//scene.raw", PathStyle::Posix), "a//");

    EXPECT_EQ(DirectoryPartOf("C:\\images\\scene.raw", PathStyle::Windows), "C:\\images");
    EXPECT_EQ(DirectoryPartOf("C:\\scene.raw", PathStyle::Windows), "C:\\");
    EXPECT_EQ(DirectoryPartOf("C:scene.raw", PathStyle::Windows), "C:");
    EXPECT_EQ(DirectoryPartOf("\\\\server\\share\\x.raw", PathStyle::Windows), "\\\\server\\share");
}

TEST(DescriptorParse, ReadsTwoLeadingIntegers) {
    EXPECT_EQ(*ParseDescriptor("480 640"), (ImageSize{480, 640}));
    EXPECT_EQ(*ParseDescriptor("480\r\n640\r\n"), (ImageSize{480, 640}));
    EXPECT_EQ(*ParseDescriptor("480\n640\n"), (ImageSize{480, 640}));
    EXPECT_EQ(*ParseDescriptor("480\r\n640\r\n1\r\n0\r\n255\r\n"), (ImageSize{480, 640}));
    EXPECT_EQ(*ParseDescriptor("  \t+3\n\n+4 lines and columns"), (ImageSize{3, 4}));
    EXPECT_EQ(*ParseDescriptor("0 0"), (ImageSize{0, 0}));
}

TEST(DescriptorParse, RefusesWhatIsNotASize) {
    for (const char* text : {"", "abc", "480", "480 x", "- 3 4", "480,640", "12x 5"}) {
        auto size = ParseDescriptor(text);
        ASSERT_FALSE(size.ok()) << text;
        EXPECT_NE(size.error().message.find("two numbers"), std::string::npos) << text;
    }
    for (const char* text : {"-1 5", "5 -1", "-99999999999 5"}) {
        auto size = ParseDescriptor(text);
        ASSERT_FALSE(size.ok()) << text;
        EXPECT_NE(size.error().message.find("negative"), std::string::npos) << text;
    }
    for (const char* text : {"2147483648 1", "99999999999999999999 1", "100000 100000", "65537 65536"}) {
        auto size = ParseDescriptor(text);
        ASSERT_FALSE(size.ok()) << text;
        EXPECT_NE(size.error().message.find("too large"), std::string::npos) << text;
    }
    EXPECT_TRUE(ParseDescriptor("65536 65536").ok());
}

TEST(DescriptorFile, WrittenFormsReadBack) {
    EXPECT_EQ(FormatDescriptor({480, 640}, DescriptorForm::TwoLines), "480\r\n640\r\n");
    EXPECT_EQ(FormatDescriptor({480, 640}, DescriptorForm::FiveLines), "480\r\n640\r\n1\r\n0\r\n255\r\n");
    EXPECT_EQ(FormatDescriptor({0, 0}, DescriptorForm::FiveLines), "0\r\n0\r\n1\r\n0\r\n255\r\n");

    test::ScratchFolder folder;
    ASSERT_TRUE(WriteDescriptorFile(folder / "a.txt", {3, 7}, DescriptorForm::FiveLines).ok());
    EXPECT_EQ(test::ReadWholeFile(folder / "a.txt"), "3\r\n7\r\n1\r\n0\r\n255\r\n");
    EXPECT_EQ(*ReadDescriptorFile(folder / "a.txt"), (ImageSize{3, 7}));
    ASSERT_TRUE(WriteDescriptorFile(folder / "a.txt", {9, 8}, DescriptorForm::TwoLines).ok());
    EXPECT_EQ(test::ReadWholeFile(folder / "a.txt"), "9\r\n8\r\n");

    auto missing = ReadDescriptorFile(folder / "none.txt");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("cannot open"), std::string::npos);
}

TEST(RawPixels, ShortFileLeavesZerosAndExtraBytesAreIgnored) {
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "short.raw", "\x01\x02\x03\x04\x05");
    ByteMatrix rows = MatrixOf(3, 3);
    ASSERT_TRUE(ReadRawPixels(folder / "short.raw", rows).ok());
    EXPECT_EQ(test::LinesOf(rows), (std::vector<std::vector<int>>{{1, 2, 3}, {4, 5, 0}, {0, 0, 0}}));

    std::istringstream longer(std::string("abcdefghij"));
    ByteMatrix two = MatrixOf(2, 2);
    ASSERT_TRUE(ReadRawStream(longer, two).ok());
    EXPECT_EQ(test::LinesOf(two), (std::vector<std::vector<int>>{{'a', 'b'}, {'c', 'd'}}));
    EXPECT_EQ(longer.get(), 'e') << "bytes beyond the image stay unread";

    auto missing = ReadRawPixels(folder / "none.raw", rows);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("cannot open"), std::string::npos);
}

TEST(RawPixels, WriteThenReadAndFileSize) {
    test::ScratchFolder folder;
    ByteMatrix rows = MatrixOf(4, 3);
    for (std::size_t k = 0; k < rows.PixelCount(); ++k) {
        rows.Bytes()[k] = static_cast<std::uint8_t>(k * 21);
    }
    ASSERT_TRUE(WriteRawFile(folder / "r.raw", rows).ok());
    EXPECT_EQ(FileSizeOf(folder / "r.raw"), 12);
    ByteMatrix back = MatrixOf(4, 3);
    ASSERT_TRUE(ReadRawPixels(folder / "r.raw", back).ok());
    EXPECT_EQ(test::LinesOf(back), test::LinesOf(rows));

    ASSERT_TRUE(WriteRawFile(folder / "empty.raw", ByteMatrix{}).ok());
    EXPECT_EQ(FileSizeOf(folder / "empty.raw"), 0);
    EXPECT_EQ(FileSizeOf(folder / "none.raw"), -1);
    EXPECT_EQ(FileSizeOf(folder.Path()), -1);
}

}  // namespace
}  // namespace kavel
