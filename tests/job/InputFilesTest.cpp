#include "InputFiles.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>

using namespace varnel;
using namespace testing_support;

namespace {

TEST(InputFilesTest, AcceptsReadablePrintFilesByExtensionInAnyCase) {
    TempDir tmp;
    for (const char* name :
         {"a.pcl", "b.PXL", "c.Px3", "d.txt", "e.pcl.bak", "pcl", "f.plt", "g.HPGL", "h.hp2"})
        WriteText(tmp / name, "x");
    ::mkdir((tmp / "folder.pcl").c_str(), 0700);
    EXPECT_TRUE(IsAcceptedInput(tmp / "a.pcl"));
    EXPECT_TRUE(IsAcceptedInput(tmp / "b.PXL"));
    EXPECT_TRUE(IsAcceptedInput(tmp / "c.Px3"));
    // Plot files too, as the command line takes them.
    for (const char* plot : {"f.plt", "g.HPGL", "h.hp2"}) EXPECT_TRUE(IsAcceptedInput(tmp / plot));
    EXPECT_FALSE(IsAcceptedInput(tmp / "d.txt"));
    EXPECT_FALSE(IsAcceptedInput(tmp / "e.pcl.bak"));
    EXPECT_FALSE(IsAcceptedInput(tmp / "pcl"));
    EXPECT_FALSE(IsAcceptedInput(tmp / "folder.pcl"));
    EXPECT_FALSE(IsAcceptedInput(tmp / "missing.pcl"));
    EXPECT_FALSE(HasInputExtension(tmp / "x.pcl/readme"));
    EXPECT_FALSE(FileReadable(""));
}

TEST(InputFilesTest, SizeInKilobytesDropsOnlyATenth) {
    TempDir tmp;
    const std::pair<int, std::int64_t> cases[] = {{0, 0},    {102, 0},  {103, 1},
                                                  {1126, 1}, {1127, 2}, {1048576, 1024}};
    for (auto [bytes, kb] : cases) {
        WriteText(tmp / "f", std::string(static_cast<std::size_t>(bytes), 'x'));
        EXPECT_EQ(FileSizeKB(tmp / "f"), kb) << bytes;
    }
    EXPECT_EQ(FileSizeKB(tmp / "missing"), 0);
}

TEST(InputFilesTest, SizeUsesAllBitsOfLargeFiles) {
    TempDir tmp;
    std::string path = tmp / "big.pcl";
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    // Sparse: no disk space is used.
    ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);
    ::close(fd);
    EXPECT_EQ(FileSizeKB(path), 5LL << 20);
}

TEST(InputFilesTest, FolderGivesItsFilesButNotItsSubfolders) {
    TempDir tmp;
    WriteText(tmp / "report.PCL", "x");
    WriteText(tmp / "notes.txt", "x");
    ::mkdir((tmp / "sub").c_str(), 0700);
    WriteText(tmp / "sub/inner.pcl", "x");
    std::vector<std::string> files = FolderFiles(tmp.path());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{tmp / "notes.txt", tmp / "report.PCL"}));
    // The same without the trailing "/".
    std::string bare = tmp.path().substr(0, tmp.path().size() - 1);
    EXPECT_EQ(FolderFiles(bare).size(), 2u);
    EXPECT_TRUE(FolderFiles(tmp / "missing").empty());
}

} // namespace
