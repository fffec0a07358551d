// Downloaded fonts: what a job's font downloads leave in the font store, how
// they survive resets and redefinition, and what bad downloads cost.
#include "SoftFontWriter.h"

#include "core/Job.h"
#include "core/Raster.h"
#include "fonts/SoftFont.h"
#include "pcl5/Pcl5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace tarvik;

namespace {

const std::string E = "\x1b";
const std::string kSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

struct JobRun {
    JobOptions options;
    std::unique_ptr<JobContext> job;
    int pages = 0;
    JobRun() {
        options.xdpi = options.ydpi = 75;
        options.widthPx = int(75 * 8.27);
        options.heightPx = int(75 * 11.69);
        options.onPage = [this](int, const PageRaster&) { ++pages; };
        job = std::make_unique<JobContext>(options);
    }
    JobRun& Feed(const std::string& data) {
        bool ok = true;
        pcl5::Interpret(reinterpret_cast<const uint8_t*>(data.data()), data.size(), *job, ok);
        return *this;
    }
    SoftFontStore& Store() { return job->SoftFonts(); }
};

bool HaveSans() {
    return std::filesystem::exists(kSans);
}

Path Outline(const FontFace& face, uint32_t glyph) {
    Path p;
    face.Outline(glyph, p);
    return p;
}

} // namespace

// A TrueType face downloaded as characters keeps every glyph outline, whether
// the characters come whole or in continuation blocks; a character whose
// checksum fails is refused and the rest of the job goes on.
TEST(SoftFont, TrueTypeDownloadRebuildsTheFacesOutlines) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    auto original = FontFace::FromFile(kSans);
    ASSERT_TRUE(original);
    for (size_t block : {size_t(32767), size_t(40)}) {
        JobRun run;
        run.Feed(softfontwriter::TrueTypeFont(kSans, 3, block));
        SoftFont* font = run.Store().Find(3);
        ASSERT_TRUE(font) << block;
        EXPECT_EQ(font->Header().format, 15);
        // 191 codes and the composite parts under code 65535.
        EXPECT_EQ(font->GlyphCount(), 192u) << block;
        auto face = font->Face(run.Store());
        ASSERT_TRUE(face);
        for (char32_t c : std::u32string_view(U"Ag&\u00e9\u00df")) {
            const SoftGlyph* g = font->Glyph(c);
            ASSERT_TRUE(g) << uint32_t(c);
            uint32_t want = original->GlyphForUnicode(c);
            ASSERT_EQ(g->glyphId, want);
            Path a = Outline(*face, g->glyphId);
            Path b = Outline(*original, want);
            ASSERT_FALSE(a.Empty());
            EXPECT_EQ(a.Bounds().x0, b.Bounds().x0);
            EXPECT_EQ(a.Bounds().y1, b.Bounds().y1);
            EXPECT_DOUBLE_EQ(face->Advance(g->glyphId), original->Advance(want));
        }
        EXPECT_EQ(run.job->WarningCount(), 0);
    }
    // One flipped byte in the glyph data of 'B' (code 66).
    std::string job = softfontwriter::TrueTypeFont(kSans, 3);
    size_t at = job.find(E + "*c66E");
    ASSERT_NE(at, std::string::npos);
    size_t data = job.find('W', at) + 1;
    job[data + 12] ^= 0x10;
    JobRun run;
    run.Feed(job);
    ASSERT_TRUE(run.Store().Find(3));
    EXPECT_FALSE(run.Store().Find(3)->Glyph('B'));
    EXPECT_TRUE(run.Store().Find(3)->Glyph('C'));
    EXPECT_EQ(run.job->WarningCount(), 1);
}
