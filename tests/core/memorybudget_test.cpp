#include "kavel/memorybudget.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kavel {
namespace {

TEST(MemoryBudget, OpenCostsThreeBytesPerPixelWhateverTheShape) {
    EXPECT_EQ(ImageOpenBytes(480, 640), 3U * 480U * 640U);
    // One column costs as much as one line: nothing is padded per line.
    EXPECT_EQ(ImageOpenBytes(2147483647, 1), ImageOpenBytes(1, 2147483647));
    EXPECT_EQ(ImageOpenBytes(2147483647, 1), 3ULL * 2147483647ULL);
    EXPECT_EQ(ImageOpenBytes(2147483647, 2147483647), 3ULL * 2147483647ULL * 2147483647ULL);
    EXPECT_EQ(ImageOpenBytes(0, 640), 0U);
    EXPECT_EQ(ImageOpenBytes(-5, 640), 0U);
}

TEST(MemoryBudget, ReadsTheKernelsFields) {
    const char* meminfo =
        "MemTotal:       16303420 kB\n"
        "MemFree:         1204400 kB\n"
        "MemAvailable:    8000000 kB\n"
        "Buffers:          400000 kB\n";
    EXPECT_EQ(MemAvailableFrom(meminfo), 8000000ULL * 1024);
    EXPECT_EQ(MemAvailableFrom("MemTotal: 5 kB\n"), std::nullopt);
    EXPECT_EQ(MemAvailableFrom("MemAvailable: lots\n"), std::nullopt);
    EXPECT_EQ(MemAvailableFrom(""), std::nullopt);

    const char* status =
        "Name:\tkavel\n"
        "VmPeak:\t  300000 kB\n"
        "VmSize:\t  250000 kB\n"
        "VmData:\t   90000 kB\n";
    EXPECT_EQ(StatusFieldBytes(status, "VmSize"), 250000ULL * 1024);
    EXPECT_EQ(StatusFieldBytes(status, "VmData"), 90000ULL * 1024);
    // A field is matched whole, not by its beginning.
    EXPECT_EQ(StatusFieldBytes(status, "Vm"), std::nullopt);
}

TEST(MemoryBudget, TheSmallestKnownBoundDecides) {
    EXPECT_EQ(Headroom(std::nullopt, 100), std::nullopt);
    EXPECT_EQ(Headroom(1000, 100), 900U);
    EXPECT_EQ(Headroom(1000, 5000), 0U);
    EXPECT_EQ(SmallestBound(std::nullopt, std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(SmallestBound(std::nullopt, 7, std::nullopt), 7U);
    EXPECT_EQ(SmallestBound(9, 7, 8), 7U);
    EXPECT_EQ(SmallestBound(0, 7, std::nullopt), 0U);
    // The running process always has some bound: /proc/meminfo at least.
    EXPECT_TRUE(AvailableMemoryBytes().has_value());
}

TEST(MemoryBudget, SizesReadAsAPersonWrites) {
    EXPECT_EQ(ByteSizeText(512), "512 bytes");
    EXPECT_EQ(ByteSizeText(1536), "1.5 KB");
    EXPECT_EQ(ByteSizeText(3ULL * 2147483647ULL), "6.0 GB");
    EXPECT_EQ(ByteSizeText(10800000000ULL), "10.1 GB");
}

}  // namespace
}  // namespace kavel
