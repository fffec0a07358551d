// EMF and WMF output, parsed back record by record.
#include "EngineTestSupport.h"
#include "Metafile.h"

#include "Raster.h"

#include <uemf.h>
#include <uwmf.h>

#include <cstring>

using namespace enginetest;

namespace {

struct EmfRecord {
    uint32_t type;
    const uint8_t* data;
    uint32_t size;
};

// Records point into `file`, which must outlive them.
std::vector<EmfRecord> WalkEmf(const std::vector<uint8_t>& file) {
    std::vector<EmfRecord> records;
    size_t at = 0;
    while (at + 8 <= file.size()) {
        const auto* emr = reinterpret_cast<const U_EMR*>(file.data() + at);
        if (emr->nSize < 8 || at + emr->nSize > file.size()) return {};
        records.push_back({emr->iType, file.data() + at, emr->nSize});
        at += emr->nSize;
    }
    return at == file.size() ? records : std::vector<EmfRecord>{};
}

template <class T> T As(const EmfRecord& r) {
    T value;
    std::memset(&value, 0, sizeof value);
    std::memcpy(&value, r.data, std::min<size_t>(sizeof value, r.size));
    return value;
}

struct WmfRecord {
    uint16_t function;
    const uint8_t* data;
    uint32_t size;
};

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

std::vector<WmfRecord> WalkWmf(const std::vector<uint8_t>& file) {
    std::vector<WmfRecord> records;
    if (file.size() < 18) return records;
    size_t at = 18;
    while (at + 6 <= file.size()) {
        uint32_t words = Le32(&file[at]);
        if (words < 3 || at + 2 * size_t(words) > file.size()) return {};
        records.push_back({Le16(&file[at + 4]), &file[at], 2 * words});
        at += 2 * size_t(words);
    }
    return at == file.size() ? records : std::vector<WmfRecord>{};
}

std::vector<EmfRecord> WalkEmf(std::vector<uint8_t>&&) = delete;
std::vector<WmfRecord> WalkWmf(std::vector<uint8_t>&&) = delete;

class EngineMetafile : public EngineTest {};

TEST_F(EngineMetafile, FrameIsTheBoxAtTheScreenPixelPitch) {
    EXPECT_EQ(EmfFrameExtent(320, 800, 1280), 20000);
    EXPECT_EQ(EmfFrameExtent(240, 600, 1024), 14062);
    ReferenceScreen screen;
    EXPECT_EQ(EmfFrameExtent(screen.widthMm, 1920, screen.widthPx), 50800);
    EXPECT_EQ(EmfFrameExtent(screen.heightMm, 1080, screen.heightPx), 28600);
    // A box far beyond 32-bit products does not wrap to a negative frame.
    EXPECT_GT(EmfFrameExtent(508, 2147483647, 1920), 0);
}

TEST_F(EngineMetafile, EmfRecordsFrameAndBitmap) {
    fs::path out = Dir() / "page.emf";
    RunResult result = Convert({Page(60, 40, 300)}, out,
                               {{OPT_FORMAT, FMT_EMF},
                                {OPT_WIDTH, 800},
                                {OPT_HEIGHT, 600},
                                {OPT_XDPI, 100},
                                {OPT_YDPI, 100},
                                {OPT_BPP, 1},
                                {OPT_GRAY, 1}});
    EXPECT_EQ(result.run, 1);
    std::vector<uint8_t> file = ReadAll(out);
    std::vector<EmfRecord> records = WalkEmf(file);
    std::vector<uint32_t> types;
    for (const EmfRecord& r : records) types.push_back(r.type);
    EXPECT_EQ(types,
              (std::vector<uint32_t>{U_EMR_HEADER, U_EMR_CREATEPEN, U_EMR_SELECTOBJECT,
                                     U_EMR_CREATEBRUSHINDIRECT, U_EMR_SELECTOBJECT, U_EMR_RECTANGLE,
                                     U_EMR_SELECTOBJECT, U_EMR_SELECTOBJECT, U_EMR_DELETEOBJECT,
                                     U_EMR_DELETEOBJECT, U_EMR_SETSTRETCHBLTMODE,
                                     U_EMR_STRETCHDIBITS, U_EMR_EOF}));
    ASSERT_EQ(records.size(), 13u);

    auto header = As<U_EMRHEADER>(records[0]);
    EXPECT_EQ(header.dSignature, uint32_t(U_ENHMETA_SIGNATURE));
    EXPECT_EQ(header.rclFrame.left, 0);
    EXPECT_EQ(header.rclFrame.top, 0);
    EXPECT_EQ(header.rclFrame.right, 21166);  // 508 x 800 x 100 / 1920
    EXPECT_EQ(header.rclFrame.bottom, 15888); // 286 x 600 x 100 / 1080
    EXPECT_EQ(header.szlDevice.cx, 1920);
    EXPECT_EQ(header.szlDevice.cy, 1080);
    EXPECT_EQ(header.szlMillimeters.cx, 508);
    EXPECT_EQ(header.szlMillimeters.cy, 286);
    EXPECT_EQ(header.nBytes, file.size());
    EXPECT_EQ(header.nRecords, 13u);
    ASSERT_EQ(header.nDescription, 5u);
    const uint8_t* description = records[0].data + header.offDescription;
    const uint8_t expected[10] = {'w', 0, 'w', 0, 'w', 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(description, expected, 10), 0);

    auto pen = As<U_EMRCREATEPEN>(records[1]);
    EXPECT_EQ(pen.lopn.lopnStyle, uint32_t(U_PS_SOLID));
    EXPECT_EQ(pen.lopn.lopnWidth.x, 1);
    EXPECT_EQ(pen.lopn.lopnColor.Red + pen.lopn.lopnColor.Green + pen.lopn.lopnColor.Blue, 765);
    EXPECT_EQ(As<U_EMRSELECTOBJECT>(records[2]).ihObject, pen.ihPen);
    auto brush = As<U_EMRCREATEBRUSHINDIRECT>(records[3]);
    EXPECT_EQ(brush.lb.lbStyle, uint32_t(U_BS_SOLID));
    EXPECT_EQ(brush.lb.lbColor.Red + brush.lb.lbColor.Green + brush.lb.lbColor.Blue, 765);
    EXPECT_EQ(As<U_EMRSELECTOBJECT>(records[4]).ihObject, brush.ihBrush);
    auto box = As<U_EMRRECTANGLE>(records[5]).rclBox;
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, 800);
    EXPECT_EQ(box.bottom, 600);
    EXPECT_EQ(As<U_EMRSELECTOBJECT>(records[6]).ihObject, uint32_t(U_BLACK_PEN));
    EXPECT_EQ(As<U_EMRSELECTOBJECT>(records[7]).ihObject, uint32_t(U_WHITE_BRUSH));
    EXPECT_EQ(As<U_EMRDELETEOBJECT>(records[8]).ihObject, pen.ihPen);
    EXPECT_EQ(As<U_EMRDELETEOBJECT>(records[9]).ihObject, brush.ihBrush);
    EXPECT_EQ(As<U_EMRSETSTRETCHBLTMODE>(records[10]).iMode, uint32_t(U_COLORONCOLOR));

    auto stretch = As<U_EMRSTRETCHDIBITS>(records[11]);
    EXPECT_EQ(stretch.cDest.x, 800);
    EXPECT_EQ(stretch.cDest.y, 600);
    EXPECT_EQ(stretch.cSrc.x, 60);
    EXPECT_EQ(stretch.cSrc.y, 40);
    EXPECT_EQ(stretch.dwRop, uint32_t(U_SRCCOPY));
    EXPECT_EQ(stretch.iUsageSrc, uint32_t(U_DIB_RGB_COLORS));
    ASSERT_LE(stretch.offBitsSrc + stretch.cbBitsSrc, records[11].size);
    BmpInfo dib = ReadDib(records[11].data + stretch.offBmiSrc, stretch.cbBmiSrc,
                          records[11].data + stretch.offBitsSrc, stretch.cbBitsSrc);
    ASSERT_TRUE(dib.ok);
    // No colour step: the page keeps its 24 bits and its own 300 dpi.
    EXPECT_EQ(dib.bits, 24);
    EXPECT_EQ(dib.width, 60);
    EXPECT_EQ(dib.height, 40);
    EXPECT_EQ(dib.xPelsPerMeter, 11811);
    EXPECT_EQ(dib.Pixel(2, 2), (Rgb{0, 0, 0}));
    EXPECT_EQ(dib.Pixel(58, 38), (Rgb{255, 255, 255}));
}

TEST_F(EngineMetafile, WithoutAResizeSizeTheBoxIsThePage) {
    fs::path out = Dir() / "page.emf";
    EXPECT_EQ(Convert({Page(60, 40)}, out, {{OPT_FORMAT, FMT_EMF}, {OPT_WIDTH, 500}}).run, 1);
    std::vector<uint8_t> file = ReadAll(out);
    std::vector<EmfRecord> records = WalkEmf(file);
    ASSERT_EQ(records.size(), 13u);
    auto header = As<U_EMRHEADER>(records[0]);
    EXPECT_EQ(header.rclFrame.right, EmfFrameExtent(508, 60, 1920));
    EXPECT_EQ(header.rclFrame.bottom, EmfFrameExtent(286, 40, 1080));
    EXPECT_EQ(As<U_EMRRECTANGLE>(records[5]).rclBox.right, 60);
    EXPECT_EQ(As<U_EMRSTRETCHDIBITS>(records[11]).cDest.y, 40);

    fs::path wmf = Dir() / "page.wmf";
    EXPECT_EQ(Convert({Dir() / "page.bmp"}, wmf, {{OPT_FORMAT, FMT_WMF}}).run, 1);
    std::vector<uint8_t> wmfFile = ReadAll(wmf);
    std::vector<WmfRecord> wmfRecords = WalkWmf(wmfFile);
    ASSERT_EQ(wmfRecords.size(), 14u);
    const uint8_t* rect = wmfRecords[4].data; // bottom, right, top, left
    EXPECT_EQ(Le16(rect + 6), 40);
    EXPECT_EQ(Le16(rect + 8), 60);
}

TEST_F(EngineMetafile, EmfRotationUsesRotateByEvenForRightAngles) {
    fs::path page = Page(60, 40);
    fs::path out = Dir() / "turn.emf";
    EXPECT_EQ(Convert({page}, out, {{OPT_FORMAT, FMT_EMF}, {OPT_ROTATE, 90}}).run, 1);
    std::vector<uint8_t> file = ReadAll(out);
    std::vector<EmfRecord> records = WalkEmf(file);
    ASSERT_EQ(records.size(), 13u);
    auto stretch = As<U_EMRSTRETCHDIBITS>(records[11]);
    const uint8_t* bits = records[11].data + stretch.offBitsSrc;

    CRaster rotated, turned;
    ASSERT_TRUE(rotated.LoadFile(page.string(), 1));
    ASSERT_TRUE(turned.LoadFile(page.string(), 1));
    ASSERT_TRUE(rotated.RotateBy(90.0f));
    ASSERT_TRUE(turned.Turn90Right());
    EXPECT_EQ(stretch.cSrc.x, int32_t(rotated.Width()));
    EXPECT_EQ(stretch.cSrc.y, int32_t(rotated.Height()));
    ASSERT_EQ(stretch.cbBitsSrc, rotated.header.sizeImage);
    EXPECT_EQ(std::memcmp(bits, rotated.settings.pixels, stretch.cbBitsSrc), 0);
    EXPECT_NE(std::memcmp(bits, turned.settings.pixels, stretch.cbBitsSrc), 0);
}

TEST_F(EngineMetafile, WmfRecordsAndResolution) {
    fs::path out = Dir() / "page.wmf";
    RunResult result = Convert({Page(60, 40, 96)}, out,
                               {{OPT_FORMAT, FMT_WMF},
                                {OPT_WIDTH, 120},
                                {OPT_HEIGHT, 80},
                                {OPT_XDPI, 300},
                                {OPT_YDPI, 200}});
    EXPECT_EQ(result.run, 1);
    std::vector<uint8_t> file = ReadAll(out);
    ASSERT_GE(file.size(), 18u);
    EXPECT_EQ(Le16(&file[2]), 9);      // header size in words
    EXPECT_EQ(Le16(&file[4]), 0x0300); // version
    EXPECT_EQ(Le32(&file[6]) * 2, file.size());
    EXPECT_EQ(Le16(&file[10]), 4); // pen, brush and the two restored objects

    std::vector<WmfRecord> records = WalkWmf(file);
    std::vector<uint16_t> functions;
    for (const WmfRecord& r : records) functions.push_back(r.function);
    EXPECT_EQ(functions,
              (std::vector<uint16_t>{0x02FA, 0x012D, 0x02FC, 0x012D, 0x041B, 0x02FA, 0x012D, 0x02FC,
                                     0x012D, 0x01F0, 0x01F0, 0x0107, 0x0F43, 0x0000}));
    ASSERT_EQ(records.size(), 14u);
    uint32_t largest = 0;
    for (const WmfRecord& r : records) largest = std::max(largest, r.size / 2);
    EXPECT_EQ(Le32(&file[12]), largest);

    // Pen and brush are white; the stretch mode is COLORONCOLOR.
    EXPECT_EQ(Le16(records[0].data + 6), U_PS_SOLID);
    EXPECT_EQ(std::memcmp(records[0].data + 12, "\xff\xff\xff", 3), 0);
    EXPECT_EQ(std::memcmp(records[2].data + 8, "\xff\xff\xff", 3), 0);
    EXPECT_EQ(Le16(records[11].data + 6), U_COLORONCOLOR);

    // STRETCHDIB: raster operation, usage, source and destination sizes, DIB.
    const uint8_t* s = records[12].data;
    EXPECT_EQ(Le32(s + 6), uint32_t(U_SRCCOPY));
    EXPECT_EQ(Le16(s + 12), 40); // source height
    EXPECT_EQ(Le16(s + 14), 60); // source width
    EXPECT_EQ(Le16(s + 20), 80); // destination height
    EXPECT_EQ(Le16(s + 22), 120);
    const uint8_t* dib = s + 28;
    EXPECT_EQ(Le32(dib), 40u);
    EXPECT_EQ(int32_t(Le32(dib + 4)), 60);
    EXPECT_EQ(int32_t(Le32(dib + 8)), 40);
    EXPECT_EQ(Le16(dib + 14), 24);
    // The bitmap carries the chosen resolution, not the page's 96 dpi.
    EXPECT_EQ(Le32(dib + 24), 11811u);
    EXPECT_EQ(Le32(dib + 28), 7874u);

    // An independent reader plays the file back.
    fs::path svg = Dir() / "page.svg";
    std::string command =
        "/usr/bin/wmf2svg -o '" + svg.string() + "' '" + out.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<uint8_t> text = ReadAll(svg);
    EXPECT_NE(std::string(text.begin(), text.end()).find("<image"), std::string::npos);
}

TEST_F(EngineMetafile, MissingPageOrFolderGivesNoFile) {
    fs::path page = Page(60, 40);
    for (int format : {FMT_EMF, FMT_WMF}) {
        fs::path out = Dir() / "out.meta";
        EXPECT_EQ(Convert({Dir() / "missing.bmp"}, out, {{OPT_FORMAT, format}}).run, 0);
        EXPECT_EQ(Convert({page}, Dir() / "nofolder" / "x.meta", {{OPT_FORMAT, format}}).run, 0);
        EXPECT_EQ(ListFolder(Dir()), std::vector<std::string>{"page.bmp"});
    }
}

} // namespace
