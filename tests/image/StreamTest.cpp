// The file and memory streams the codecs read and write through.
#include "ImageStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

TEST(FileStreamTest, NeverClosesTheCallersFile) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        FileStream s(f);
        EXPECT_FALSE(s.ownsHandle);
        EXPECT_EQ(s.Write("hello\nworld", 1, 11), 11u);
        EXPECT_TRUE(s.PutByte('!'));
        EXPECT_TRUE(s.Flush());
        EXPECT_EQ(s.Size(), 12);
        EXPECT_EQ(s.Tell(), 12); // Size() returns to where it was
        EXPECT_TRUE(s.Seek(0, 0));
        char line[32];
        EXPECT_STREQ(s.GetLine(line, sizeof line), "hello\n");
        EXPECT_EQ(s.GetByte(), 'w');
        EXPECT_TRUE(s.Seek(-1, 2));
        EXPECT_EQ(s.GetByte(), '!');
        EXPECT_EQ(s.GetByte(), -1);
        EXPECT_TRUE(s.AtEnd());
        EXPECT_EQ(s.HasError(), 0);
        EXPECT_FALSE(s.Seek(0, 7));
        EXPECT_TRUE(s.Close()); // does not close a file it was given
    }
    // Still open and usable by its opener.
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(f), 'h');
    std::fclose(f);
}

TEST(MemoryStreamTest, GrowsInSteps) {
    MemoryStream s;
    EXPECT_EQ(s.Write("x", 1, 1), 0u); // no buffer yet
    ASSERT_TRUE(s.OpenEmpty());
    EXPECT_FALSE(s.OpenEmpty());
    EXPECT_EQ(s.Write("abc", 1, 3), 3u);
    EXPECT_EQ(s.capacity, 65536);
    std::vector<uint8_t> big(65536, 7);
    EXPECT_EQ(s.Write(big.data(), 1, big.size()), big.size());
    EXPECT_EQ(s.capacity, 131072); // 65539 rounded to the next 64 KiB above
    EXPECT_EQ(s.Size(), 65539);
    EXPECT_EQ(s.Write("abc", 0, 3), 0u);
    // Sizes the 32-bit fields cannot hold are refused, not wrapped.
    EXPECT_EQ(s.Write(big.data(), 0x40000000, 4), 0u);
    EXPECT_EQ(s.Size(), 65539);
}

TEST(MemoryStreamTest, ReadSeekAndLines) {
    MemoryStream s;
    ASSERT_TRUE(s.OpenEmpty());
    s.Write("one\ntwo\nthree", 1, 13);
    EXPECT_TRUE(s.Seek(-100, 1)); // negative positions become 0
    EXPECT_EQ(s.Tell(), 0);
    char line[16];
    EXPECT_STREQ(s.GetLine(line, sizeof line), "one\n");
    EXPECT_STREQ(s.GetLine(line, 3), "tw");
    EXPECT_STREQ(s.GetLine(line, sizeof line), "o\n");
    EXPECT_EQ(s.GetLine(line, sizeof line), nullptr); // ran into the end
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.GetByte(), -1);

    EXPECT_TRUE(s.Seek(-5, 2));
    uint16_t pair[4] = {};
    EXPECT_EQ(s.Read(pair, 2, 4), 2u); // 5 bytes left: two whole elements
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.Read(pair, 2, 4), 0u);
    EXPECT_FALSE(s.Seek(0, 3));

    EXPECT_TRUE(s.Seek(20, 0));
    EXPECT_EQ(s.HasError(), 1);
    EXPECT_TRUE(s.PutByte('z')); // leaves a cleared gap behind
    EXPECT_EQ(s.Size(), 21);
    EXPECT_EQ(s.buffer[15], 0);
    EXPECT_EQ(s.buffer[20], 'z');
    EXPECT_EQ(s.HasError(), 0);
    int v;
    EXPECT_EQ(s.ScanFormat("%d", &v), 0);
}

TEST(MemoryStreamTest, CallersBufferIsNeverReallocated) {
    uint8_t mine[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    {
        MemoryStream s(mine, sizeof mine);
        EXPECT_FALSE(s.ownsBuffer);
        uint8_t two[2];
        EXPECT_EQ(s.Read(two, 1, 2), 2u);
        EXPECT_EQ(two[1], 2);
        s.Seek(0, 2);
        EXPECT_EQ(s.Write("more", 1, 4), 4u); // grows into a buffer of its own
        EXPECT_TRUE(s.ownsBuffer);
        EXPECT_NE(s.buffer, mine);
        EXPECT_EQ(s.buffer[0], 1);
        EXPECT_EQ(s.buffer[8], 'm');
    }
    EXPECT_EQ(mine[7], 8);
}

TEST(MemoryStreamTest, DetachAndClose) {
    MemoryStream s;
    ASSERT_TRUE(s.OpenEmpty());
    s.Write("data", 1, 4);
    uint8_t* taken = s.BufferAddress(true);
    EXPECT_FALSE(s.ownsBuffer);
    EXPECT_TRUE(s.Close()); // not ours any more: kept
    EXPECT_EQ(taken[3], 'a');
    std::free(taken);

    MemoryStream none;
    EXPECT_EQ(none.Tell(), -1);
    EXPECT_EQ(none.Size(), -1);
    EXPECT_FALSE(none.Flush());
    EXPECT_TRUE(none.AtEnd());
    EXPECT_EQ(none.HasError(), -1);
    EXPECT_FALSE(none.PutByte(1));
    EXPECT_FALSE(none.Seek(0, 0));
}
