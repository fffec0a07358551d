#include "pcl5/RasterDecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvik::pcl5;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(static_cast<uint8_t>(b));
    return out;
}

std::vector<uint8_t> Decode(int method, const std::vector<uint8_t>& data,
                            std::vector<uint8_t> seed) {
    EXPECT_TRUE(DecodeRow(method, data, seed));
    return seed;
}

} // namespace

TEST(RasterDecode, ReplacingMethodsZeroFillAndClip) {
    // Short rows are padded with white, long rows are clipped to the seed.
    EXPECT_EQ(Decode(0, Bytes({1, 2}), std::vector<uint8_t>(4, 0xee)), Bytes({1, 2, 0, 0}));
    EXPECT_EQ(Decode(0, Bytes({1, 2, 3, 4, 5, 6}), std::vector<uint8_t>(4)), Bytes({1, 2, 3, 4}));
    // The reference's example: (3)U(0)A(1)T gives UUUUATT.
    std::vector<uint8_t> rle = {3, 'U', 0, 'A', 1, 'T'};
    auto out = Decode(1, rle, std::vector<uint8_t>(9, 0xee));
    EXPECT_EQ(std::string(out.begin(), out.begin() + 7), "UUUUATT");
    EXPECT_EQ(out[7], 0);
    // A run longer than the row stops at its end; an odd trailing byte is ignored.
    EXPECT_EQ(Decode(1, Bytes({200, 0xaa, 7}), std::vector<uint8_t>(3)), Bytes({0xaa, 0xaa, 0xaa}));
}

TEST(RasterDecode, PackBits) {
    // Literal run of 3, repeat of 4 (1 - (-3)), no-op -128, literal of 1.
    auto data = Bytes({2, 1, 2, 3, 0xfd, 9, 0x80, 0, 7});
    EXPECT_EQ(Decode(2, data, std::vector<uint8_t>(10, 0xee)),
              Bytes({1, 2, 3, 9, 9, 9, 9, 7, 0, 0}));
    // A literal claiming more bytes than the data holds copies what there is.
    EXPECT_EQ(Decode(2, Bytes({5, 1, 2}), std::vector<uint8_t>(4, 0xee)), Bytes({1, 2, 0, 0}));
    // A repeat without its byte at the end is dropped.
    EXPECT_EQ(Decode(2, Bytes({0, 4, 0xfe}), std::vector<uint8_t>(3, 0xee)), Bytes({4, 0, 0}));
}

TEST(RasterDecode, DeltaRowPatchesTheSeed) {
    std::vector<uint8_t> seed = {1, 2, 3, 4, 5, 6, 7, 8};
    // Replace 2 bytes at offset 1, then 1 byte 2 bytes after that.
    auto data = Bytes({(1 << 5) | 1, 0xa0, 0xa1, (0 << 5) | 2, 0xb0});
    EXPECT_EQ(Decode(3, data, seed), Bytes({1, 0xa0, 0xa1, 4, 5, 0xb0, 7, 8}));
    // An empty transfer repeats the seed row.
    EXPECT_EQ(Decode(3, {}, seed), seed);
}

TEST(RasterDecode, DeltaRowLongOffsetsAndClipping) {
    std::vector<uint8_t> seed(600, 0);
    // Offset 31 + 255 + 128 = 414.
    auto out = Decode(3, Bytes({31, 255, 128, 0x55}), seed);
    EXPECT_EQ(out[414], 0x55);
    EXPECT_EQ(out[413], 0);
    // Replacement past the end of the row is clipped, never written.
    std::vector<uint8_t> small(4, 0);
    auto clipped = Decode(3, Bytes({(7 << 5) | 2, 1, 2, 3, 4, 5, 6, 7, 8}), small);
    EXPECT_EQ(clipped, Bytes({0, 0, 1, 2}));
    // A run of 255 extension bytes at the end of data stays in bounds.
    std::vector<uint8_t> ext = {31};
    ext.insert(ext.end(), 1000, 255);
    EXPECT_EQ(Decode(3, ext, small), small);
}

TEST(RasterDecode, ReplacementDeltaLiteralsAndRuns) {
    std::vector<uint8_t> seed(12, 0x11);
    // Literal: offset 2, count 2; run: offset 1, count 3 of 0xcc.
    auto data = Bytes({(2 << 3) | 1, 0xa0, 0xa1, 0x80 | (1 << 5) | 1, 0xcc});
    EXPECT_EQ(Decode(9, data, seed),
              Bytes({0x11, 0x11, 0xa0, 0xa1, 0x11, 0xcc, 0xcc, 0xcc, 0x11, 0x11, 0x11, 0x11}));
}

TEST(RasterDecode, ReplacementDeltaExtendedCounts) {
    std::vector<uint8_t> seed(400, 0);
    // Literal with offset 15 + 5 = 20 and count 8 + 2 = 10.
    std::vector<uint8_t> lit = {(15 << 3) | 7, 5, 2};
    for (int i = 0; i < 10; ++i) lit.push_back(static_cast<uint8_t>(0x40 + i));
    auto out = Decode(9, lit, seed);
    EXPECT_EQ(out[19], 0);
    EXPECT_EQ(out[20], 0x40);
    EXPECT_EQ(out[29], 0x49);
    EXPECT_EQ(out[30], 0);
    // Run with offset 3 + 255 + 0 = 258 (a 0 follows an exact 255) and count
    // 33 + 10 = 43.
    auto run = Decode(9, Bytes({0x80 | (3 << 5) | 31, 255, 0, 10, 0x77}), seed);
    EXPECT_EQ(run[257], 0);
    EXPECT_EQ(run[258], 0x77);
    EXPECT_EQ(run[300], 0x77);
    EXPECT_EQ(run[301], 0);
}

TEST(RasterDecode, AdaptiveBlockRowsEmptiesAndDuplicates) {
    std::vector<uint8_t> seed(3, 0x99);
    // Row in method 0, two duplicates, one empty row, a delta row, an unknown
    // command that ends the block.
    auto block =
        Bytes({0, 0, 3, 1, 2, 3, 5, 0, 2, 4, 0, 1, 3, 0, 2, (0 << 5) | 1, 7, 9, 0, 1, 0xff});
    std::vector<std::vector<uint8_t>> rows;
    size_t n = DecodeAdaptiveBlock(block, seed, [&](std::span<const uint8_t> r) {
        rows.emplace_back(r.begin(), r.end());
        return true;
    });
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(rows[0], Bytes({1, 2, 3}));
    EXPECT_EQ(rows[2], Bytes({1, 2, 3}));
    EXPECT_EQ(rows[3], Bytes({0, 0, 0}));
    EXPECT_EQ(rows[4], Bytes({0, 7, 0}));
}

TEST(RasterDecode, AdaptiveBlockStopsWhenTheConsumerIsFull) {
    // 65535 duplicate rows asked for; the consumer takes only 10.
    std::vector<uint8_t> seed(2, 0);
    size_t taken = 0;
    size_t n = DecodeAdaptiveBlock(Bytes({5, 0xff, 0xff}), seed,
                                   [&](std::span<const uint8_t>) { return ++taken < 10; });
    EXPECT_EQ(n, 10u);
    EXPECT_FALSE(DecodeRow(4, {}, seed));
}
