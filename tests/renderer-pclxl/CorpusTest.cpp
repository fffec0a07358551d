// The real driver jobs of the shared corpus: every page, no broken stream,
// and the fonts and images they download actually drawn.
#include "TestJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::vector<uint8_t> ReadCorpus(const std::string& name) {
    std::ifstream in(std::string(VARNEL_CORPUS_DIR) + "/pclxl/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The PCL XL stream of a PJL-wrapped job: from its stream header line on.
std::vector<uint8_t> XlStream(const std::vector<uint8_t>& job) {
    static const std::string marker = ") HP-PCL XL";
    auto it = std::search(job.begin(), job.end(), marker.begin(), marker.end());
    return std::vector<uint8_t>(it, job.end());
}

pxltest::Result TraceCorpus(const std::string& name) {
    std::vector<uint8_t> job = ReadCorpus(name);
    if (job.empty()) return {};
    pxltest::Result r = pxltest::Trace(XlStream(job));
    if (const char* dir = std::getenv("PXL_TRACE_DIR"))
        std::ofstream(std::string(dir) + "/" + name + ".trace") << r.trace;
    return r;
}

#define SKIP_WITHOUT_CORPUS(name)                                                                  \
    if (ReadCorpus(name).empty()) GTEST_SKIP() << "corpus file " << name << " not found"

} // namespace

TEST(PxlCorpus, DownloadedTrueTypeFontsAndDeltaRowImage) {
    const std::string name = "doctestlib__invoice_diff_format.pcl";
    SKIP_WITHOUT_CORPUS(name);
    pxltest::Result r = TraceCorpus(name);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages, 1);
    EXPECT_GT(r.Count("FillGlyph face="), 100u);
    EXPECT_TRUE(r.Has("BeginImage rgb8")) << r.trace.substr(0, 2000);
    EXPECT_FALSE(r.Has("EndImage rows=0"));
    EXPECT_EQ(r.unsupported, 0);
}

TEST(PxlCorpus, ResidentFontText) {
    const std::string name = "datahosting__sample.pcl";
    SKIP_WITHOUT_CORPUS(name);
    pxltest::Result r = TraceCorpus(name);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages, 1);
    EXPECT_GT(r.Count("FillGlyph face="), 2000u);
    EXPECT_EQ(r.unsupported, 0);
}

TEST(PxlCorpus, VectorTestPage) {
    const std::string name = "joblex__bhc452.pclxl";
    SKIP_WITHOUT_CORPUS(name);
    pxltest::Result r = TraceCorpus(name);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages, 1);
    EXPECT_GT(r.Count("FillPath"), 100u);
    EXPECT_GT(r.Count("FillGlyph face="), 500u);
    EXPECT_EQ(r.unsupported, 0);
}
