// Operator dispatch, read through the trace device.
#include "PxlWriter.h"
#include "TestJob.h"
#include "pclxl/PxlTables.h"

#include <gtest/gtest.h>

using namespace tarvik::pclxl;
using pxltest::Writer;

namespace {

// A one-page job at 72 units per inch, so user units are points.
Writer Page(bool big = false, unsigned mediaSize = 2, unsigned orientation = 0) {
    Writer w(big);
    w.Header().BeginSession(72).OpenData().BeginPage(mediaSize, orientation);
    w.UB(0).A(aNullPen).Op(kSetPenSource);
    return w;
}

std::vector<uint8_t> Finish(Writer& w) {
    w.EndPage().CloseData().EndSession();
    return w.bytes;
}

} // namespace

TEST(PxlPages, MediaSizesAndOrientations) {
    struct Case {
        unsigned size, orientation;
        const char* expect;
    } cases[] = {
        {2, 0, "BeginPage 1 595.276x841.89 orientation=0"},
        {0, 1, "BeginPage 1 792x612 orientation=1"},
        {1, 2, "BeginPage 1 612x1008 orientation=2"},
        {16, 3, "BeginPage 1 595.276x419.528 orientation=3"},
    };
    for (bool big : {false, true})
        for (const Case& c : cases) {
            Writer w = Page(big, c.size, c.orientation);
            pxltest::Result r = pxltest::Trace(Finish(w));
            EXPECT_TRUE(r.ok);
            EXPECT_TRUE(r.Has(c.expect)) << r.trace;
            EXPECT_EQ(r.pages, 1);
        }
}

TEST(PxlPages, NamedCustomAndMultiplePages) {
    Writer w;
    w.Header().BeginSession(300).OpenData();
    w.UB(0).A(aOrientation).UBArray("LEGAL").A(aMediaSize).Op(kBeginPage).EndPage();
    // 100 x 150 mm custom paper.
    w.UB(0).A(aOrientation).U16Xy(100, 150).A(aCustomMediaSize).UB(1).A(aCustomMediaSizeUnits);
    w.Op(kBeginPage).EndPage();
    // An unknown size falls back without losing the page.
    w.UB(1).A(aOrientation).UB(77).A(aMediaSize).Op(kBeginPage).EndPage();
    w.CloseData().EndSession();
    pxltest::Result r = pxltest::Trace(w.bytes);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages, 3);
    EXPECT_TRUE(r.Has("BeginPage 1 612x1008")) << r.trace;
    EXPECT_TRUE(r.Has("BeginPage 2 283.465x425.197")) << r.trace;
    EXPECT_TRUE(r.Has("BeginPage 3")) << r.trace;
    EXPECT_GT(r.warnings, 0);
}

TEST(PxlPaths, RectangleFillAndStrokeThroughSessionUnits) {
    Writer w;
    w.Header().BeginSession(300).OpenData().BeginPage();
    w.UBArray(std::vector<uint8_t>{255, 0, 0}).A(aRGBColor).Op(kSetBrushSource);
    w.U16(6).A(aPenWidth).Op(kSetPenWidth);
    w.U16Box(0, 0, 300, 150).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    // 300 units per inch: 300 units = 72 points.
    EXPECT_TRUE(r.Has("FillPath nonzero solid(255,0,0) rop=252 M 0 0 L 0 36 L 72 36 L 72 0 Z"))
        << r.trace;
    EXPECT_TRUE(
        r.Has("StrokePath w=6 cap=butt join=miter miter=10 [0.24 0 0 0.24 0 0] solid(0,0,0)"))
        << r.trace;
}

TEST(PxlPaths, LinesFromPointDataInBothDataOrders) {
    for (bool big : {false, true}) {
        Writer w = Page(big);
        w.S16Xy(10, 20).A(aPoint).Op(kSetCursor);
        std::vector<uint8_t> pts;
        for (int v : {30, 20, 30, -40}) w.Put16To(pts, uint16_t(int16_t(v)));
        w.UB(2).A(aNumberOfPoints).UB(3).A(aPointType).Op(kLineRelPath).Data(pts);
        w.Op(kCloseSubPath).Op(kPaintPath);
        pxltest::Result r = pxltest::Trace(Finish(w));
        EXPECT_TRUE(r.Has("FillPath nonzero solid(0,0,0) rop=252 M 10 20 L 40 40 L 70 0 Z"))
            << r.trace;
    }
}

TEST(PxlPaths, CurvesArcsAndShapes) {
    Writer w = Page();
    w.S16Xy(0, 0).A(aPoint).Op(kSetCursor);
    w.S16Xy(10, 0).A(aControlPoint1).S16Xy(20, 10).A(aControlPoint2).S16Xy(20, 20).A(aEndPoint);
    w.Op(kBezierRelPath);
    w.Op(kPaintPath).Op(kNewPath);
    // A quarter arc from the right (3 o'clock) to the top, counter-clockwise.
    w.S16Box(0, 0, 100, 100)
        .A(aBoundingBox)
        .S16Xy(100, 50)
        .A(aStartPoint)
        .S16Xy(50, 0)
        .A(aEndPoint);
    w.Op(kArcPath).Op(kPaintPath).Op(kNewPath);
    w.S16Box(0, 0, 100, 50).A(aBoundingBox).Op(kEllipse);
    w.S16Box(0, 0, 100, 50).A(aBoundingBox).UBXy(20, 10).A(aEllipseDimension).Op(kRoundRectangle);
    w.S16Box(0, 0, 100, 100)
        .A(aBoundingBox)
        .S16Xy(100, 50)
        .A(aStartPoint)
        .S16Xy(50, 100)
        .A(aEndPoint);
    w.UB(0).A(aArcDirection).Op(kPie);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.Has("M 0 0 C 10 0 20 10 20 20")) << r.trace;
    // Counter-clockwise on the page: from (100,50) up to (50,0) in one curve.
    EXPECT_TRUE(r.Has("M 100 50 C 100 22.39 77.61 0 50 0\n")) << r.trace;
    EXPECT_TRUE(r.Has("FillPath nonzero solid(0,0,0) rop=252 M 100 25 C")) << r.trace;
    // The pie, clockwise: centre, then the quarter down to (50,100), closed.
    EXPECT_TRUE(r.Has("M 50 50 L 100 50 C 100 77.61 77.61 100 50 100 Z")) << r.trace;
    EXPECT_EQ(r.Count("FillPath"), 5u);
    EXPECT_TRUE(r.ok);
}

TEST(PxlPaths, CursorIsNeededAndNewPathDropsIt) {
    Writer w = Page();
    w.Op(kNewPath).S16Xy(5, 5).A(aPoint).Op(kSetCursorRel);
    w.S16Xy(50, 50).A(aEndPoint).Op(kLinePath).Op(kPaintPath);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_FALSE(r.Has("FillPath")) << r.trace;
    EXPECT_GE(r.warnings, 2);
    EXPECT_TRUE(r.ok);
}

TEST(PxlState, ColoursPalettesAndRops) {
    Writer w = Page();
    w.UB(1).A(aColorSpace).Op(kSetColorSpace);
    w.UB(128).A(aGrayLevel).Op(kSetBrushSource);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.UB(2).A(aColorSpace).UB(2).A(aPaletteDepth);
    w.UBArray(std::vector<uint8_t>{0, 0, 0, 0, 0, 255}).A(aPaletteData).Op(kSetColorSpace);
    // The palette is for indexed images: the brush colour stays direct.
    w.UBArray(std::vector<uint8_t>{0, 0, 255}).A(aRGBColor).Op(kSetBrushSource);
    w.UB(102).A(aROP3).Op(kSetROP).UB(1).A(aTxMode).Op(kSetSourceTxMode);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.UB(2).A(aColorSpace).Op(kSetColorSpace);
    w.RealArray({0.0f, 1.0f, 0.5f}).A(aRGBColor).Op(kSetBrushSource);
    w.UB(1).A(aTxMode).Op(kSetPaintTxMode);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.UB(0).A(aNullBrush).Op(kSetBrushSource);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.Has("FillPath nonzero solid(128,128,128) rop=252 M")) << r.trace;
    EXPECT_TRUE(r.Has("FillPath nonzero solid(0,0,255) rop=102 st M")) << r.trace;
    EXPECT_TRUE(r.Has("FillPath nonzero solid(0,255,128) rop=102 st pt M")) << r.trace;
    EXPECT_EQ(r.Count("FillPath"), 3u);
}

TEST(PxlState, LineStyleAndGraphicsStateStack) {
    Writer w = Page();
    w.UB(0).A(aSolidLine).Op(kSetLineDash);
    w.UBArray(std::vector<uint8_t>{0, 0, 0}).A(aRGBColor).Op(kSetPenSource);
    w.UB(2).A(aLineCapStyle).Op(kSetLineCap).UB(1).A(aLineJoinStyle).Op(kSetLineJoin);
    w.Op(kPushGS);
    w.UBArray(std::vector<uint8_t>{4, 2, 1})
        .A(aLineDashStyle)
        .UB(1)
        .A(aDashOffset)
        .Op(kSetLineDash);
    w.UB(3).A(aPenWidth).Op(kSetPenWidth).UB(1).A(aFillMode).Op(kSetFillMode);
    w.UB(0).A(aNullBrush).Op(kSetBrushSource);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.Op(kPopGS).Op(kPopGS); // the second pop is ignored
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.Has("PushClip")) << r.trace;
    EXPECT_EQ(r.Count("PopClip"), 1u);
    EXPECT_TRUE(r.Has("StrokePath w=3 cap=square join=round dash=4,2,1,4,2,1@1")) << r.trace;
    // After PopGS: width 1, solid, nonzero fill again.
    EXPECT_TRUE(r.Has("StrokePath w=1 cap=square join=round [")) << r.trace;
    EXPECT_EQ(r.Count("FillPath nonzero"), 1u);
}

TEST(PxlState, PageTransforms) {
    Writer w = Page();
    w.S16Xy(100, 200).A(aPageOrigin).Op(kSetPageOrigin);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.S16(90).A(aPageAngle).Op(kSetPageRotation);
    w.U16Box(0, 0, 10, 20).A(aBoundingBox).Op(kRectangle);
    w.RealXy(2, 2).A(aPageScale).Op(kSetPageScale);
    w.U16Box(0, 0, 10, 20).A(aBoundingBox).Op(kRectangle);
    w.Op(kSetPageDefaultCTM);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.Has("M 100 200 L 100 210 L 110 210 L 110 200 Z")) << r.trace;
    // Turned a quarter counter-clockwise on the page: +x now points up.
    EXPECT_TRUE(r.Has("M 100 200 L 120 200 L 120 190 L 100 190 Z")) << r.trace;
    EXPECT_TRUE(r.Has("M 100 200 L 140 200 L 140 180 L 100 180 Z")) << r.trace;
    EXPECT_TRUE(r.Has("M 0 0 L 0 10 L 10 10 L 10 0 Z")) << r.trace;
}

TEST(PxlClip, RectanglePathsAndPage) {
    Writer w = Page();
    w.UB(0).A(aClipRegion).U16Box(10, 10, 50, 50).A(aBoundingBox).Op(kSetClipRectangle);
    w.U16Box(0, 0, 20, 20).A(aBoundingBox).Op(kRectanglePath);
    w.UB(1).A(aClipMode).Op(kSetClipMode);
    w.UB(1).A(aClipRegion).Op(kSetClipIntersect);
    w.U16Box(0, 0, 20, 20).A(aBoundingBox).Op(kEllipsePath);
    w.UB(0).A(aClipRegion).Op(kSetClipReplace);
    w.Op(kPaintPath); // the clip used the path up: nothing to paint
    w.Op(kSetClipToPage);
    w.UB(0).A(aClipRegion).Op(kSetClipIntersect); // no path: nothing stays visible
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.Has("ClipPath nonzero intersect interior M 10 10 L 50 10 L 50 50 L 10 50 Z"))
        << r.trace;
    EXPECT_TRUE(r.Has("ClipPath evenodd intersect exterior M 0 0 L 0 20")) << r.trace;
    EXPECT_TRUE(r.Has("ClipPath evenodd replace interior M 20 10 C")) << r.trace;
    EXPECT_TRUE(r.Has("ResetClip")) << r.trace;
    EXPECT_TRUE(r.Has("ClipPath nonzero intersect interior M -100 -100")) << r.trace;
    EXPECT_FALSE(r.Has("FillPath")) << r.trace;
}

TEST(PxlStream, UnknownOperatorsAndAttributesAreSkipped) {
    Writer w = Page();
    w.UB(1).A(aGrayLevel).Op(0x45);            // reserved operator
    w.UB(9).A16(300).Op(kNewPath);             // 16-bit id no one defines
    w.UB(0).A(7).Op(kNewPath);                 // undefined 8-bit id
    w.Op(kVendorUnique).Data({1, 2, 3, 4, 5}); // vendor data nobody reads
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.Has("FillPath")) << r.trace;
    EXPECT_GE(r.unsupported, 2);
}

TEST(PxlStream, StopsAtUelAndReportsBrokenStreams) {
    Writer w = Page();
    std::vector<uint8_t> good = Finish(w);
    std::vector<uint8_t> withUel = good;
    const std::string uel = "\x1b%-12345X@PJL EOJ\r\n";
    withUel.insert(withUel.end(), uel.begin(), uel.end());
    pxltest::Result r = pxltest::Trace(withUel);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.consumed, good.size());

    // Cut inside the page: the page so far is kept, the job is broken.
    Writer t = Page();
    t.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    t.U16Box(0, 0, 10, 10).A(aBoundingBox);
    std::vector<uint8_t> cut = t.bytes;
    cut.resize(cut.size() - 3);
    r = pxltest::Trace(cut);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.pages, 1);
    EXPECT_TRUE(r.Has("FillPath")) << r.trace;

    // An illegal tag breaks the stream; later pages are not made up.
    Writer b = Page();
    b.Raw({0x03}).EndPage().BeginPage().EndPage();
    r = pxltest::Trace(b.bytes);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.pages, 1);

    // Every prefix of a job is handled without a crash.
    Writer full = Page();
    full.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    std::vector<uint8_t> all = Finish(full);
    for (size_t n = 0; n < all.size(); ++n) {
        std::vector<uint8_t> prefix(all.begin(), all.begin() + long(n));
        pxltest::Result p = pxltest::Trace(prefix);
        EXPECT_FALSE(p.ok) << n;
    }
}

TEST(PxlStream, AsciiBindingIsRefused) {
    std::string job = "' HP-PCL XL;2;0\nBeginSession\n";
    pxltest::Result r = pxltest::Trace(std::vector<uint8_t>(job.begin(), job.end()));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.pages, 0);
    EXPECT_GE(r.unsupported, 1);
}

TEST(PxlStream, UserStreamsWithNestingLimit) {
    // Stream "inner" draws a rectangle; "outer" runs it twice.
    Writer inner;
    inner.Header().U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    Writer outer;
    outer.Header().UBArray("inner").A(aStreamName).Op(kExecStream);
    outer.UBArray("inner").A(aStreamName).Op(kExecStream);
    Writer self;
    self.Header().U16Box(0, 0, 5, 5).A(aBoundingBox).Op(kRectangle);
    self.UBArray("self").A(aStreamName).Op(kExecStream);

    Writer w = Page();
    for (auto& [name, s] :
         {std::pair<std::string, Writer*>{"inner", &inner}, {"outer", &outer}, {"self", &self}}) {
        w.UBArray(name).A(aStreamName).Op(kBeginStream);
        // Split into two blocks to check they are joined.
        size_t half = s->bytes.size() / 2;
        std::vector<uint8_t> a(s->bytes.begin(), s->bytes.begin() + long(half));
        std::vector<uint8_t> b(s->bytes.begin() + long(half), s->bytes.end());
        w.U32(uint32_t(a.size())).A(aStreamDataLength).Op(kReadStream).Data(a);
        w.U32(uint32_t(b.size())).A(aStreamDataLength).Op(kReadStream).Data(b);
        w.Op(kEndStream);
    }
    w.UBArray("outer").A(aStreamName).Op(kExecStream);
    w.UBArray("self").A(aStreamName).Op(kExecStream);
    w.UBArray("missing").A(aStreamName).Op(kExecStream);
    w.UBArray("inner").A(aStreamName).Op(kRemoveStream);
    w.UBArray("outer").A(aStreamName).Op(kExecStream);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Count("FillPath nonzero solid(0,0,0) rop=252 M 0 0 L 0 10"), 2u) << r.trace;
    // A stream that calls itself runs once.
    EXPECT_EQ(r.Count("M 0 0 L 0 5"), 1u) << r.trace;
    EXPECT_GE(r.warnings, 3);
}

TEST(PxlStream, DeepStreamNestingStopsAtTheLimit) {
    // s0 calls s1 calls ... s39, each drawing once: only 32 levels run.
    Writer w = Page();
    for (int i = 0; i < 40; ++i) {
        Writer s;
        s.Header().U16Box(0, 0, 1, 1).A(aBoundingBox).Op(kRectangle);
        s.UBArray("s" + std::to_string(i + 1)).A(aStreamName).Op(kExecStream);
        w.UBArray("s" + std::to_string(i)).A(aStreamName).Op(kBeginStream);
        w.U32(uint32_t(s.bytes.size())).A(aStreamDataLength).Op(kReadStream).Data(s.bytes);
        w.Op(kEndStream);
    }
    w.UBArray("s0").A(aStreamName).Op(kExecStream);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Count("FillPath"), 32u);
}

TEST(PxlScan, ScanLinesPaintSpans) {
    for (bool big : {false, true}) {
        Writer w = Page(big);
        std::vector<uint8_t> d;
        d.push_back(3); // sint16 start points
        w.Put16To(d, 10);
        w.Put16To(d, 20);
        w.Put16To(d, 2); // two pairs
        d.push_back(0);  // of ubytes
        for (uint8_t v : {0, 5, 3, 7}) d.push_back(v);
        w.Op(kBeginScan).UB(1).A(aNumberOfScanLines).Op(kScanLineRel).Data(d).Op(kEndScan);
        pxltest::Result r = pxltest::Trace(Finish(w));
        EXPECT_TRUE(r.Has("M 10 20 L 15 20 L 15 21 L 10 21 Z M 18 20 L 22 20 L 22 21 L 18 21 Z"))
            << r.trace;
    }
}

TEST(PxlStream, PassThroughAndDitherDataStayInSync) {
    Writer w = Page();
    w.Op(kPassThrough).Data({0x1B, 'E', 'x'});
    w.UB(0).A(aDitherMatrixDataType).UBXy(2, 2).A(aDitherMatrixSize).UB(2).A(aDitherMatrixDepth);
    w.Op(kSetHalftoneMethod).Data({1, 2, 3, 4, 0, 0, 0, 0});
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.Has("FillPath")) << r.trace;
}

TEST(PxlStream, PassThroughDrawsPcl5AtTheCursorOnTheSamePage) {
    // 300 units per inch: the PCL unit follows, and the PCL cursor starts at
    // XL's cursor (100, 200) = (24, 48) points.
    Writer w;
    w.Header().BeginSession(300).OpenData().BeginPage();
    w.U16Xy(100, 200).A(aPoint).Op(kSetCursor);
    // A 60 x 30 unit black rectangle, split over two chunks mid-command, then
    // page commands and a form feed that must not start a page.
    std::string a = "\x1b*c60a3", b = "0b0P\x1b&l1O\x0c\x1b*c10a10b0P";
    w.Op(kPassThrough).Data(std::vector<uint8_t>(a.begin(), a.end()));
    w.Op(kPassThrough).Data(std::vector<uint8_t>(b.begin(), b.end()));
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok) << r.trace;
    EXPECT_EQ(r.pages, 1);
    EXPECT_EQ(r.Count("BeginPage"), 1u) << r.trace;
    // PCL rectangles snap to whole device pixels (72 dpi on the trace device),
    // one printer dot (0.24 pt) wider and longer by grid intersection.
    EXPECT_TRUE(r.Has("M 24 48 L 39 48 L 39 55 L 24 55 Z")) << r.trace;
    // After the form feed the cursor is at PCL's origin: the logical page's
    // left edge (71 dots of 300 dpi on A4) and the 1/6 in top margin.
    EXPECT_TRUE(r.Has("M 17 12 L 20 12 L 20 15 L 17 15 Z")) << r.trace;
    // XL's own drawing goes on after the PCL block, in XL's state.
    EXPECT_TRUE(r.Has("M 0 0 L 0 2.4 L 2.4 2.4 L 2.4 0 Z")) << r.trace;
    // PCL runs inside a clip of its own that is given back afterwards.
    EXPECT_LT(r.trace.find("PushClip"), r.trace.find("M 24 48")) << r.trace;
    EXPECT_LT(r.trace.find("PopClip"), r.trace.find("M 0 0 L")) << r.trace;
}

TEST(PxlState, ColorSpaceChangeKeepsANullPenAndAStencilBrush) {
    // Brush colours turn black in the new space; a null pen stays null, as
    // drivers that set it once expect.
    Writer w = Page();
    w.UBArray(std::vector<uint8_t>{0, 0, 255}).A(aRGBColor).Op(kSetBrushSource);
    w.UB(1).A(aColorSpace).Op(kSetColorSpace);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    w.UB(0).A(aNullBrush).Op(kSetBrushSource);
    w.UB(2).A(aColorSpace).Op(kSetColorSpace);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    // A colour stencil as drivers send it: the brush colour, then a gray
    // space that only brings the mask's two-entry palette. The mask keeps
    // the brush and paints it where its bits are black.
    w.UB(2).A(aColorSpace).Op(kSetColorSpace);
    w.UBArray(std::vector<uint8_t>{255, 0, 0}).A(aRGBColor).Op(kSetBrushSource);
    w.UB(1).A(aTxMode).Op(kSetSourceTxMode);
    w.UB(1).A(aColorSpace).UB(2).A(aPaletteDepth);
    w.UBArray(std::vector<uint8_t>{255, 0}).A(aPaletteData).Op(kSetColorSpace);
    w.S16Xy(0, 0).A(aPoint).Op(kSetCursor);
    w.UB(1).A(aColorMapping).UB(0).A(aColorDepth).U16(8).A(aSourceWidth).U16(1).A(aSourceHeight);
    w.U16Xy(80, 10).A(aDestinationSize).Op(kBeginImage);
    w.U16(0).A(aStartLine).U16(1).A(aBlockHeight).UB(0).A(aCompressMode);
    w.Op(kReadImage).Data({0x0F, 0, 0, 0}).Op(kEndImage);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_EQ(r.Count("FillPath nonzero solid(0,0,0)"), 1u) << r.trace;
    EXPECT_FALSE(r.Has("StrokePath")) << r.trace;
    EXPECT_TRUE(r.Has("BeginImage indexed1 8x1 palette=2")) << r.trace;
    EXPECT_TRUE(r.Has("solid(255,0,0) rop=252 st")) << r.trace;
}

TEST(PxlStream, VendorDataAndHostileCounts) {
    Writer w = Page();
    // Raw vendor data sized by VUDataLength, as FastRaster drivers send it.
    w.U32(0x68702006).A(aVUExtension).U32(5).A(aVUDataLength).Op(kVendorUnique);
    w.Raw({0x00, 0x01, 0xFA, 0xFF, 0x41});
    // More PushGS than any stack keeps, and pops for each of them.
    for (int i = 0; i < 300; ++i) w.Op(kPushGS);
    for (int i = 0; i < 300; ++i) w.Op(kPopGS);
    // A dash array longer than allowed and a pen width of zero.
    std::vector<uint8_t> dash(40, 3);
    w.UBArray(dash).A(aLineDashStyle).Op(kSetLineDash);
    w.UB(0).A(aPenWidth).Op(kSetPenWidth);
    w.UBArray(std::vector<uint8_t>{0, 0, 0}).A(aRGBColor).Op(kSetPenSource);
    w.U16Box(0, 0, 10, 10).A(aBoundingBox).Op(kRectangle);
    pxltest::Result r = pxltest::Trace(Finish(w));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Count("PushClip"), r.Count("PopClip"));
    EXPECT_LE(r.Count("PushClip"), 256u);
    EXPECT_TRUE(r.Has("StrokePath w=0 cap=butt join=miter miter=10 dash=3,3,3,3,3,3,3,3,3,3,3,3"))
        << r.trace;
    // Vendor data longer than the stream breaks it.
    Writer v = Page();
    v.U32(1000).A(aVUDataLength).Op(kVendorUnique).Raw({1, 2, 3});
    EXPECT_FALSE(pxltest::Trace(v.bytes).ok);
}
