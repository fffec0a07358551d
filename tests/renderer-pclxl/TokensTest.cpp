// Stream header, data types, attribute ids and embedded data of both bindings.
#include "PxlWriter.h"
#include "pclxl/PxlTables.h"
#include "pclxl/PxlTokens.h"

#include <gtest/gtest.h>

using namespace tarvik::pclxl;

namespace {

StreamHeader Header(const std::string& s, HeaderResult expect) {
    StreamHeader h;
    std::string err;
    EXPECT_EQ(ParseStreamHeader(reinterpret_cast<const uint8_t*>(s.data()), s.size(), h, err),
              expect)
        << s << " " << err;
    return h;
}

// Reads one value whose tag is the first byte of `w`. Array values point
// into the bytes, so they are kept until the next call.
Value ReadOne(const pxltest::Writer& w, bool big) {
    static std::vector<uint8_t> kept;
    kept = w.bytes;
    Reader r(kept.data(), kept.size(), big);
    uint8_t tag = 0;
    EXPECT_TRUE(r.U8(tag));
    Value v;
    std::string err;
    EXPECT_TRUE(r.ReadValue(tag, v, err)) << err;
    EXPECT_TRUE(r.AtEnd());
    return v;
}

} // namespace

TEST(PxlStreamHeader, BindingsAndClasses) {
    StreamHeader h = Header(") HP-PCL XL;2;0;Comment Copyright\n", HeaderResult::Ok);
    EXPECT_EQ(h.binding, StreamHeader::Binding::LowByteFirst);
    EXPECT_EQ(h.protocolClass, 2);
    EXPECT_EQ(h.revision, 0);
    EXPECT_EQ(h.length, 34u);

    h = Header("( HP-PCL XL;3;0\r\n", HeaderResult::Ok);
    EXPECT_EQ(h.binding, StreamHeader::Binding::HighByteFirst);
    EXPECT_EQ(h.protocolClass, 3);
    EXPECT_EQ(h.length, 17u);

    h = Header(") HP-PCL XL;2;1;\n", HeaderResult::Ok);
    EXPECT_EQ(h.revision, 1);
    h = Header(") HP-PCL XL;1;1\n", HeaderResult::Ok);
    EXPECT_EQ(h.protocolClass, 1);
}

TEST(PxlStreamHeader, RefusedAndBroken) {
    // The ASCII binding is known but refused.
    StreamHeader h = Header("' HP-PCL XL;2;0\n", HeaderResult::Unsupported);
    EXPECT_EQ(h.binding, StreamHeader::Binding::Ascii);
    Header(") PCL-XY;2;0\n", HeaderResult::Unsupported);
    Header(") HP-PCL XL;x;0\n", HeaderResult::Unsupported);
    Header(") HP-PCL XL;2;0", HeaderResult::Truncated);
    Header("@PJL ENTER\n", HeaderResult::NotHeader);
    Header(")", HeaderResult::NotHeader);
    // A line without an end within the limit is no header.
    Header(") HP-PCL XL;2;0;" + std::string(8000, 'c'), HeaderResult::Unsupported);
}

TEST(PxlTokens, ScalarsInBothByteOrders) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "high byte first" : "low byte first");
        pxltest::Writer w(big);
        EXPECT_EQ(ReadOne(pxltest::Writer(big).UB(200), big).Num(0), 200);
        EXPECT_EQ(ReadOne(pxltest::Writer(big).U16(0xABCD), big).Num(0), 0xABCD);
        EXPECT_EQ(ReadOne(pxltest::Writer(big).U32(0x12345678), big).Num(0), 0x12345678);
        EXPECT_EQ(ReadOne(pxltest::Writer(big).S16(-1234), big).Num(0), -1234);
        EXPECT_EQ(ReadOne(pxltest::Writer(big).S32(-100000), big).Num(0), -100000);
        EXPECT_FLOAT_EQ(ReadOne(pxltest::Writer(big).Real(2.5f), big).Num(0), 2.5);

        Value xy = ReadOne(pxltest::Writer(big).S16Xy(-5, 7), big);
        EXPECT_EQ(xy.shape, Shape::Xy);
        EXPECT_EQ(xy.X(), -5);
        EXPECT_EQ(xy.Y(), 7);
        xy = ReadOne(pxltest::Writer(big).U32Xy(70000, 3), big);
        EXPECT_EQ(xy.X(), 70000);
        xy = ReadOne(pxltest::Writer(big).S32Xy(-70000, 3), big);
        EXPECT_EQ(xy.X(), -70000);
        xy = ReadOne(pxltest::Writer(big).RealXy(0.25f, -1.5f), big);
        EXPECT_FLOAT_EQ(xy.Y(), -1.5);

        Value box = ReadOne(pxltest::Writer(big).S16Box(-1, 2, 300, -400), big);
        EXPECT_EQ(box.shape, Shape::Box);
        EXPECT_EQ(box.Num(0), -1);
        EXPECT_EQ(box.Num(3), -400);
        box = ReadOne(pxltest::Writer(big).UBBox(10, 20, 30, 40), big);
        EXPECT_EQ(box.Num(2), 30);
        box = ReadOne(pxltest::Writer(big).RealBox(1, 2, 3, 4.5f), big);
        EXPECT_FLOAT_EQ(box.Num(3), 4.5);
    }
}

TEST(PxlTokens, WorkedExamplesOfTheBinaryEncoding) {
    // ubyte_box 0a 14 1e 28 and uint16_xy 69 00 a0 14, low byte first.
    const uint8_t box[] = {0xE0, 0x0A, 0x14, 0x1E, 0x28};
    Reader r(box, sizeof box, false);
    uint8_t tag;
    ASSERT_TRUE(r.U8(tag));
    Value v;
    std::string err;
    ASSERT_TRUE(r.ReadValue(tag, v, err));
    EXPECT_EQ(v.Num(0), 10);
    EXPECT_EQ(v.Num(3), 40);
    const uint8_t xy[] = {0xD1, 0x69, 0x00, 0xA0, 0x14};
    Reader r2(xy, sizeof xy, false);
    ASSERT_TRUE(r2.U8(tag));
    ASSERT_TRUE(r2.ReadValue(tag, v, err));
    EXPECT_EQ(v.X(), 105);
    EXPECT_EQ(v.Y(), 5280);
}

TEST(PxlTokens, ArraysWithByteAndWordLengths) {
    for (bool big : {false, true}) {
        Value a = ReadOne(pxltest::Writer(big).UBArray("Courier"), big);
        EXPECT_TRUE(a.IsArray());
        EXPECT_EQ(a.Text(), "Courier");
        std::vector<uint16_t> words(300);
        for (size_t i = 0; i < words.size(); ++i) words[i] = uint16_t(i * 7);
        a = ReadOne(pxltest::Writer(big).U16Array(words), big);
        ASSERT_EQ(a.count, 300u);
        EXPECT_EQ(a.Num(299), 299 * 7);
        EXPECT_EQ(a.Num(300), 0); // past the end reads as zero
        a = ReadOne(pxltest::Writer(big).S16Array({-3, 4}), big);
        EXPECT_EQ(a.Num(0), -3);
        a = ReadOne(pxltest::Writer(big).RealArray({0.5f, 1.0f}), big);
        EXPECT_FLOAT_EQ(a.Num(0), 0.5);
        a = ReadOne(pxltest::Writer(big).UBArray(std::vector<uint8_t>{}), big);
        EXPECT_EQ(a.count, 0u);
    }
}

TEST(PxlTokens, MalformedValuesAreRefused) {
    std::string err;
    Value v;
    // Array length with a type other than ubyte or uint16.
    const uint8_t badLen[] = {0xC2, 1, 0, 0, 0, 5};
    Reader r(badLen, sizeof badLen, false);
    EXPECT_FALSE(r.ReadValue(0xC8, v, err));
    EXPECT_EQ(err, "IllegalArraySize");
    // Array longer than the data.
    const uint8_t shortArr[] = {0xC0, 10, 1, 2};
    Reader r2(shortArr, sizeof shortArr, false);
    EXPECT_FALSE(r2.ReadValue(0xC8, v, err));
    EXPECT_TRUE(r2.AtEnd());
    // Reserved data type tags.
    for (uint8_t tag : {0xC6, 0xC7, 0xCE, 0xD6, 0xE6, 0xEF}) {
        Reader r3(shortArr, sizeof shortArr, false);
        EXPECT_FALSE(r3.ReadValue(tag, v, err)) << int(tag);
    }
    // Truncated scalar.
    const uint8_t one[] = {0x12};
    Reader r4(one, 1, false);
    EXPECT_FALSE(r4.ReadValue(0xC2, v, err));
    // Non-finite reals read as zero rather than poisoning transforms.
    const uint8_t nan[] = {0x00, 0x00, 0xC0, 0x7F};
    Reader r5(nan, 4, false);
    ASSERT_TRUE(r5.ReadValue(0xC5, v, err));
    EXPECT_EQ(v.Num(0), 0.0);
}

TEST(PxlTokens, EmbeddedDataBothLengthForms) {
    for (bool big : {false, true}) {
        pxltest::Writer w(big);
        std::vector<uint8_t> small(10, 0x55), large(1000, 0xAA);
        w.Raw({0x20, 0x0A}).Data(small).Data(large);
        Reader r(w.bytes.data(), w.bytes.size(), big);
        const uint8_t* d;
        uint32_t n;
        std::string err;
        ASSERT_TRUE(r.ReadEmbedded(d, n, err));
        EXPECT_EQ(n, 10u);
        EXPECT_EQ(d[9], 0x55);
        ASSERT_TRUE(r.ReadEmbedded(d, n, err));
        EXPECT_EQ(n, 1000u);
        EXPECT_EQ(d[999], 0xAA);
        EXPECT_TRUE(r.AtEnd());
        EXPECT_FALSE(r.ReadEmbedded(d, n, err));
    }
    // A length past the end of the stream.
    const uint8_t cut[] = {0xFA, 0x00, 0x01, 0x00, 0x00, 1, 2, 3};
    Reader r(cut, sizeof cut, false);
    const uint8_t* d;
    uint32_t n;
    std::string err;
    EXPECT_FALSE(r.ReadEmbedded(d, n, err));
}

TEST(PxlTables, OperatorsAndAttributes) {
    EXPECT_STREQ(OperatorTable(0x41).name, "BeginSession");
    EXPECT_STREQ(OperatorTable(0x86).name, "PaintPath");
    EXPECT_STREQ(OperatorTable(0xBF).name, "PassThrough");
    EXPECT_EQ(OperatorTable(0x45).name, nullptr);
    EXPECT_EQ(OperatorTable(0xBA).name, nullptr);
    EXPECT_TRUE(OperatorTable(kBeginImage).Accepts(aSourceWidth));
    EXPECT_FALSE(OperatorTable(kBeginImage).Accepts(aPatternDefineID));
    EXPECT_TRUE(OperatorTable(kBeginRastPattern).Accepts(aPatternDefineID));
    EXPECT_TRUE(OperatorTable(kSetBrushSource).Accepts(aNullBrush));
    EXPECT_FALSE(OperatorTable(kSetBrushSource).Accepts(aNullPen));
    EXPECT_STREQ(AttributeName(137), "UnitsPerMeasure");
    EXPECT_EQ(AttributeName(7), nullptr);
    EXPECT_EQ(AttributeName(400), nullptr);
    // Every named operator lists only defined attributes.
    for (unsigned c = 0x41; c <= 0xBF; ++c) {
        const OperatorInfo& o = OperatorTable(uint8_t(c));
        for (unsigned i = 0; i < o.attrCount; ++i)
            EXPECT_NE(AttributeName(o.attrs[i]), nullptr) << o.name << " " << int(o.attrs[i]);
    }
}
