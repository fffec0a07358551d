// Hostile options, broken pages and unwritable targets: every run returns
// cleanly and leaves nothing half-written behind.
#include "EngineTestSupport.h"

#include <climits>
#include <random>

using namespace enginetest;

namespace {

class EngineBadInput : public EngineTest {};

const int kAllFormats[] = {FMT_BMP,  FMT_EMF, FMT_WMF, FMT_JPEG, FMT_PNG, FMT_GIF,
                           FMT_TIFF, FMT_PCX, FMT_TGA, FMT_JP2,  FMT_RAS, FMT_JPC};

TEST_F(EngineBadInput, AnyOptionValues) {
    fs::path page = Page(24, 16);
    const int values[] = {INT_MIN, -300, -90, -1, 0,  1,   2,   3,   4,    7,
                          8,       13,   24,  45, 90, 180, 270, 300, 1000, INT_MAX};
    // Sizes stay modest unless both are huge, so a run never has to fill a
    // quarter-gigabyte bitmap; the pair of huge sizes must be refused.
    const int sizes[] = {-1, 0, 1, 3, 97, 100000};
    std::mt19937 random(20261209);
    auto pick = [&](auto& table) { return table[random() % std::size(table)]; };
    for (int format : kAllFormats) {
        for (int round = 0; round < 6; ++round) {
            fs::path out = Dir() / ("out" + std::to_string(format) + "_" + std::to_string(round));
            fs::path merged =
                Dir() / ("merged" + std::to_string(format) + "_" + std::to_string(round));
            int h = ImgConvCreate();
            ASSERT_GT(h, 0);
            ImgConvAddFile(h, page.c_str(), round == 5 ? pick(values) : 1);
            ImgConvSetOption(h, OPT_OUTPUT_PATH, out.c_str(), 0, nullptr);
            ImgConvSetOption(h, OPT_MULTIPAGE_PATH, merged.c_str(), 0, nullptr);
            for (int code = 0; code <= 31; ++code) {
                if (code == OPT_OUTPUT_PATH || code == OPT_MULTIPAGE_PATH) continue;
                int value = code == OPT_FORMAT ? format : pick(values);
                if (code == OPT_WIDTH || code == OPT_HEIGHT) value = pick(sizes);
                EXPECT_EQ(ImgConvSetOption(h, code, nullptr, value, nullptr), 1);
            }
            int run = ImgConvRun(h);
            EXPECT_TRUE(run == 0 || run == 1);
            ImgConvDestroy(h);
            if (run == 1) {
                bool written = fs::exists(out) || fs::exists(merged);
                EXPECT_TRUE(written) << "format " << format << " round " << round;
            }
        }
        // Whatever happened, no temporary file is left over.
        for (const std::string& name : ListFolder(Dir()))
            EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
    // Both sides huge: the bitmap would exceed the toolkit's limit.
    for (int format : {FMT_BMP, FMT_PNG, FMT_TIFF}) {
        fs::path out = Dir() / "huge";
        RunResult result = Convert(
            {page}, out,
            {{OPT_FORMAT, format}, {OPT_BPP, 1}, {OPT_WIDTH, INT_MAX}, {OPT_HEIGHT, INT_MAX}});
        EXPECT_EQ(result.run, 0);
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(EngineBadInput, PagesThatAreNotGoodBitmaps) {
    std::vector<uint8_t> good = MakePageBmp(24, 16);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> pages = {
        {"empty.bmp", {}},
        {"text.bmp", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}},
        {"header.bmp", std::vector<uint8_t>(good.begin(), good.begin() + 54)},
        {"half.bmp", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))},
        {"short.bmp", std::vector<uint8_t>(good.begin(), good.begin() + 20)},
    };
    // Dimensions far beyond what the file holds.
    std::vector<uint8_t> giant = good;
    giant[18] = giant[19] = giant[20] = 0xFF, giant[21] = 0x3F;
    giant[22] = giant[23] = giant[24] = 0xFF, giant[25] = 0x3F;
    pages.push_back({"giant.bmp", giant});
    std::vector<uint8_t> negative = good;
    negative[18] = negative[19] = negative[20] = negative[21] = 0xFF;
    pages.push_back({"negative.bmp", negative});
    std::vector<uint8_t> depth = good;
    depth[28] = 7;
    pages.push_back({"depth.bmp", depth});

    for (const auto& [name, bytes] : pages) {
        fs::path path = Dir() / name;
        WriteAll(path, bytes);
        // A file that is no bitmap at all must fail; a short one may be read
        // as far as it goes. Either way the result matches what is on disk.
        bool mustFail = bytes.size() < 54;
        for (int format : kAllFormats) {
            fs::path out = Dir() / "out";
            RunResult result =
                Convert({path}, out, {{OPT_FORMAT, format}, {OPT_WIDTH, 10}, {OPT_HEIGHT, 10}});
            if (mustFail) {
                EXPECT_EQ(result.run, 0) << name << " format " << format;
            }
            EXPECT_EQ(fs::exists(out), result.run == 1) << name << " format " << format;
            fs::remove(out);
        }
        fs::path mergedPath = Dir() / "merged.tif";
        RunResult merged = Convert({Page(24, 16), path}, {},
                                   {{OPT_FORMAT, FMT_TIFF}, {OPT_MULTIPAGE, 1}}, mergedPath);
        if (mustFail) {
            EXPECT_EQ(merged.run, 0) << name;
        }
        EXPECT_EQ(fs::exists(mergedPath), merged.run == 1 && merged.destroy == 1) << name;
        fs::remove(mergedPath);
        // The page itself is never touched.
        EXPECT_EQ(ReadAll(path), bytes) << name;
    }
    EXPECT_EQ(ListFolder(Dir()).size(), pages.size() + 1);
}

TEST_F(EngineBadInput, TargetsThatCannotBeWritten) {
    fs::path page = Page(24, 16);
    fs::path regular = Dir() / "regular.txt";
    WriteAll(regular, {'x'});
    fs::create_directories(Dir() / "folder");
    const fs::path targets[] = {
        Dir() / "missing" / "out.img",
        regular / "out.img",    // a folder that is a file
        "/proc/varnel-out.img", // a file system that takes no new files
        Dir() / "folder",       // an existing folder as the file name
        Dir() / std::string(300, 'n'),
    };
    for (const fs::path& target : targets) {
        for (int format : kAllFormats) {
            RunResult result = Convert({page}, target, {{OPT_FORMAT, format}});
            EXPECT_EQ(result.run, 0) << target << " format " << format;
        }
        RunResult merged =
            Convert({page}, {}, {{OPT_FORMAT, FMT_TIFF}, {OPT_MULTIPAGE, 1}}, target);
        EXPECT_EQ(merged.run, 0) << target;
    }
    EXPECT_TRUE(fs::is_directory(Dir() / "folder"));
    EXPECT_TRUE(fs::is_empty(Dir() / "folder"));
    EXPECT_EQ(ReadAll(regular), std::vector<uint8_t>{'x'});
    EXPECT_EQ(ListFolder(Dir()), (std::vector<std::string>{"folder", "page.bmp", "regular.txt"}));
}

} // namespace
