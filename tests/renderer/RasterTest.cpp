// Scan conversion, strokes and clipping, checked pixel by pixel.
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tarvik;
using tarvik::test::Canvas;

namespace {

const Paint kInk = Paint::SolidColor(kBlack);

TEST(Rasterizer, PaintsPixelsWhoseCentreIsInside) {
    Canvas c;
    c.device.FillPath(test::Rect(1.5, 1.5, 4.5, 3.5), {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(c.Picture(0, 0, 6, 5), "......\n"
                                     ".###..\n"
                                     ".###..\n"
                                     "......\n"
                                     "......\n");
}

TEST(Rasterizer, AbuttingShapesNeitherOverlapNorLeaveGaps) {
    // XOR with white paint: a pixel painted twice turns white again.
    Canvas c;
    RasterOp xorOp{90};
    Paint white = Paint::SolidColor(kWhite);
    // A rectangle cut along its diagonal, corners off the pixel grid.
    Path tri1, tri2;
    tri1.MoveTo(2.3, 2.7);
    tri1.LineTo(29.6, 2.7);
    tri1.LineTo(29.6, 28.4);
    tri1.Close();
    tri2.MoveTo(2.3, 2.7);
    tri2.LineTo(29.6, 28.4);
    tri2.LineTo(2.3, 28.4);
    tri2.Close();
    c.device.FillPath(tri1, {}, FillRule::NonZero, white, xorOp);
    c.device.FillPath(tri2, {}, FillRule::EvenOdd, white, xorOp);
    Canvas whole;
    whole.device.FillPath(test::Rect(2.3, 2.7, 29.6, 28.4), {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(c.Picture(0, 0, 32, 32), whole.Picture(0, 0, 32, 32));
}

TEST(Rasterizer, FillRulesDifferOnlyInSameDirectionHoles) {
    Path p;
    p.Rectangle(2, 2, 20, 20);
    p.Rectangle(6, 6, 16, 16); // same direction
    Canvas nz, eo;
    nz.device.FillPath(p, {}, FillRule::NonZero, kInk, {});
    eo.device.FillPath(p, {}, FillRule::EvenOdd, kInk, {});
    EXPECT_TRUE(nz.Ink(10, 10));
    EXPECT_FALSE(eo.Ink(10, 10));
    EXPECT_EQ(nz.InkCount(), 18 * 18);
    EXPECT_EQ(eo.InkCount(), 18 * 18 - 10 * 10);

    // Opposite direction: a hole under both rules.
    Path q;
    q.Rectangle(2, 2, 20, 20);
    q.MoveTo(6, 6);
    q.LineTo(6, 16);
    q.LineTo(16, 16);
    q.LineTo(16, 6);
    q.Close();
    Canvas nz2;
    nz2.device.FillPath(q, {}, FillRule::NonZero, kInk, {});
    EXPECT_FALSE(nz2.Ink(10, 10));
}

TEST(Rasterizer, TransformsAndCurves) {
    Canvas c(64, 64);
    Path circle;
    circle.Ellipse(0, 0, 10, 10);
    // Scaled by 2 and moved to the middle: a circle of radius 20.
    c.device.FillPath(circle, Matrix::Scale(2, 2).Then(Matrix::Translate(32, 32)),
                      FillRule::NonZero, kInk, {});
    double area = M_PI * 20 * 20;
    EXPECT_NEAR(c.InkCount(), area, area * 0.02);
    EXPECT_TRUE(c.Ink(32, 13));
    EXPECT_FALSE(c.Ink(32, 11));
    EXPECT_FALSE(c.Ink(17, 17)); // outside the circle, inside its box
}

TEST(Rasterizer, ShapesThinnerThanAPixelStayVisible) {
    Canvas c;
    // Between two row centres and narrower than a pixel in x.
    c.device.FillPath(test::Rect(3, 5.6, 20, 5.9), {}, FillRule::NonZero, kInk, {});
    c.device.FillPath(test::Rect(25.1, 2, 25.3, 20), {}, FillRule::NonZero, kInk, {});
    EXPECT_TRUE(c.Ink(10, 5));
    EXPECT_TRUE(c.Ink(25, 10));
    EXPECT_FALSE(c.Ink(10, 6));
    EXPECT_FALSE(c.Ink(24, 10));
}

TEST(Rasterizer, HostileGeometryIsHarmless) {
    Canvas c;
    Path p;
    p.MoveTo(-1e300, 5);
    p.LineTo(1e300, 5);
    p.LineTo(0, 1e300);
    p.Close();
    c.device.FillPath(p, {}, FillRule::NonZero, kInk, {});
    Path n;
    n.MoveTo(NAN, 1);
    n.LineTo(4, NAN);
    n.LineTo(8, 8);
    c.device.FillPath(n, {}, FillRule::EvenOdd, kInk, {});
    c.device.StrokePath(n, Matrix::Scale(1e200, 1e200), {}, kInk, {});
    c.device.FillPath(test::Rect(0, 0, 10, 10), Matrix::Scale(0, 0), FillRule::NonZero, kInk, {});
    SUCCEED();
}

TEST(PathLimits, RefusesPointsBeyondTheCap) {
    Path p;
    p.MoveTo(0, 0);
    for (size_t i = 0; i < Path::kMaxPoints + 10; ++i) p.LineTo(double(i % 7), double(i % 5));
    EXPECT_TRUE(p.Overflowed());
    EXPECT_LE(p.PointCount(), Path::kMaxPoints);
}

// --- strokes ---

TEST(Stroke, WidthAndCaps) {
    Path line;
    line.MoveTo(4, 10);
    line.LineTo(20, 10);
    StrokeStyle s;
    s.width = 4;
    Canvas butt, square, round;
    butt.device.StrokePath(line, {}, s, kInk, {});
    s.cap = LineCap::Square;
    square.device.StrokePath(line, {}, s, kInk, {});
    s.cap = LineCap::Round;
    round.device.StrokePath(line, {}, s, kInk, {});
    EXPECT_EQ(butt.InkCount(), 16 * 4);
    EXPECT_TRUE(butt.Ink(4, 8) && butt.Ink(19, 11));
    EXPECT_FALSE(butt.Ink(3, 10) || butt.Ink(20, 10) || butt.Ink(10, 12) || butt.Ink(10, 7));
    EXPECT_EQ(square.InkCount(), 20 * 4);
    EXPECT_TRUE(square.Ink(2, 10) && square.Ink(21, 10));
    EXPECT_TRUE(round.Ink(2, 10) && round.Ink(21, 10));
    EXPECT_FALSE(round.Ink(2, 8)); // the corner a square cap would fill
    EXPECT_GT(round.InkCount(), butt.InkCount());
    EXPECT_LT(round.InkCount(), square.InkCount());
}

TEST(Stroke, JoinsAtARightAngle) {
    Path corner;
    corner.MoveTo(5, 5);
    corner.LineTo(20, 5);
    corner.LineTo(20, 20);
    StrokeStyle s;
    s.width = 6;
    Canvas miter, bevel, round;
    s.join = LineJoin::Miter;
    miter.device.StrokePath(corner, {}, s, kInk, {});
    s.join = LineJoin::Bevel;
    bevel.device.StrokePath(corner, {}, s, kInk, {});
    s.join = LineJoin::Round;
    round.device.StrokePath(corner, {}, s, kInk, {});
    EXPECT_TRUE(miter.Ink(22, 2));
    EXPECT_FALSE(bevel.Ink(22, 2));
    EXPECT_FALSE(round.Ink(22, 2));
    EXPECT_TRUE(round.Ink(21, 2));
    EXPECT_FALSE(bevel.Ink(21, 2));
    // A miter limit below the corner's miter ratio (1.41) bevels it.
    s.join = LineJoin::Miter;
    s.miterLimit = 1.2;
    Canvas limited;
    limited.device.StrokePath(corner, {}, s, kInk, {});
    EXPECT_EQ(limited.Picture(0, 0, 32, 32), bevel.Picture(0, 0, 32, 32));
}

TEST(Stroke, ClosedPathsJoinTheirEnds) {
    Path sq;
    sq.Rectangle(6, 6, 20, 20);
    StrokeStyle s;
    s.width = 4;
    Canvas c;
    c.device.StrokePath(sq, {}, s, kInk, {});
    EXPECT_TRUE(c.Ink(4, 4)); // mitred corner at the start point
    EXPECT_FALSE(c.Ink(12, 12));
    EXPECT_EQ(c.InkCount(), 18 * 18 - 10 * 10);
}

TEST(Stroke, Dashes) {
    Path line;
    line.MoveTo(0, 5);
    line.LineTo(30, 5);
    StrokeStyle s;
    s.width = 2;
    s.dash = {4, 2};
    Canvas c;
    c.device.StrokePath(line, {}, s, kInk, {});
    EXPECT_EQ(c.Picture(0, 4, 30, 5), "####..####..####..####..####..\n");
    s.dashOffset = 1;
    Canvas off;
    off.device.StrokePath(line, {}, s, kInk, {});
    EXPECT_EQ(off.Picture(0, 4, 30, 5), "###..####..####..####..####..#\n");
    // Zero-length dashes with round caps make dots.
    s.dash = {0, 6};
    s.dashOffset = 0;
    s.cap = LineCap::Round;
    Canvas dots;
    dots.device.StrokePath(line, {}, s, kInk, {});
    EXPECT_TRUE(dots.Ink(6, 5) || dots.Ink(5, 5));
    EXPECT_FALSE(dots.Ink(9, 5));
}

TEST(Stroke, HairlinesAreOnePixelAndConnected) {
    Path diag;
    diag.MoveTo(1, 2);
    diag.LineTo(30, 17);
    StrokeStyle s;
    s.width = 0;
    Canvas c;
    c.device.StrokePath(diag, {}, s, kInk, {});
    for (int x = 2; x < 29; ++x) {
        int n = 0;
        for (int y = 0; y < 32; ++y) n += c.Ink(x, y);
        EXPECT_GE(n, 1) << "gap at column " << x;
        EXPECT_LE(n, 2) << "column " << x;
    }
    // A width that maps below one pixel behaves the same.
    Canvas thin;
    s.width = 0.1;
    thin.device.StrokePath(diag, {}, s, kInk, {});
    EXPECT_EQ(thin.Picture(0, 0, 32, 32), c.Picture(0, 0, 32, 32));
}

// --- clipping ---

TEST(Clip, IntersectReplaceExteriorAndStack) {
    Canvas c;
    Path all = test::Rect(0, 0, 32, 32);
    c.device.ClipPath(test::Rect(10, 10, 20, 20), {}, FillRule::NonZero, ClipOp::Intersect,
                      ClipRegion::Interior);
    c.device.PushClip();
    c.device.ClipPath(test::Rect(15, 0, 32, 32), {}, FillRule::NonZero, ClipOp::Intersect,
                      ClipRegion::Interior);
    c.device.FillPath(all, {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(c.InkCount(), 5 * 10);
    c.device.PopClip();
    c.device.FillPath(all, {}, FillRule::NonZero, Paint::SolidColor({255, 0, 0}), {});
    EXPECT_EQ(c.InkCount(), 10 * 10);

    Canvas ex;
    ex.device.ClipPath(test::Rect(10, 10, 20, 20), {}, FillRule::NonZero, ClipOp::Replace,
                       ClipRegion::Exterior);
    ex.device.FillPath(all, {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(ex.InkCount(), 32 * 32 - 100);
    ex.device.ResetClip();
    ex.device.FillPath(all, {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(ex.InkCount(), 32 * 32);
}

TEST(Clip, ByCurvedPathWithRule) {
    Canvas c(64, 64);
    Path ring;
    ring.Ellipse(32, 32, 30, 30);
    ring.Ellipse(32, 32, 15, 15);
    c.device.ClipPath(ring, {}, FillRule::EvenOdd, ClipOp::Intersect, ClipRegion::Interior);
    c.device.FillPath(test::Rect(0, 0, 64, 64), {}, FillRule::NonZero, kInk, {});
    EXPECT_FALSE(c.Ink(32, 32));
    EXPECT_TRUE(c.Ink(32, 10));
    EXPECT_FALSE(c.Ink(1, 1));
    double area = M_PI * (30 * 30 - 15 * 15);
    EXPECT_NEAR(c.InkCount(), area, area * 0.03);
}

TEST(Clip, UnbalancedPopsAndDeepPushesAreSafe) {
    Canvas c;
    c.device.PopClip();
    for (int i = 0; i < Device::kMaxClipDepth + 50; ++i) c.device.PushClip();
    c.device.ClipPath(test::Rect(0, 0, 4, 4), {}, FillRule::NonZero, ClipOp::Intersect,
                      ClipRegion::Interior);
    for (int i = 0; i < Device::kMaxClipDepth + 60; ++i) c.device.PopClip();
    c.device.FillPath(test::Rect(0, 0, 32, 32), {}, FillRule::NonZero, kInk, {});
    EXPECT_EQ(c.InkCount(), 32 * 32);
}

TEST(Clip, TooIntricateToStoreFallsBackToItsBox) {
    // 2000 one-pixel stripes over 2100 rows: more spans than a clip keeps.
    Canvas c(4002, 2102);
    Path stripes;
    for (int i = 0; i < 2000; ++i) stripes.Rectangle(1 + 2 * i, 1, 2 + 2 * i, 2101);
    c.device.ClipPath(stripes, {}, FillRule::NonZero, ClipOp::Intersect, ClipRegion::Interior);
    c.device.FillPath(test::Rect(0, 0, 4002, 2102), {}, FillRule::NonZero, kInk, {});
    EXPECT_TRUE(c.Ink(2, 50));  // between stripes, inside the box
    EXPECT_FALSE(c.Ink(0, 50)); // outside the box
    EXPECT_FALSE(c.Ink(50, 2101));
    ASSERT_FALSE(c.device.Notes().empty());
}

} // namespace
