#include "Metafile.h"

#include "ImageConverter.h"
#include "OutputFile.h"

#include "Raster.h"

#include <uemf.h>
#include <uwmf.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// The record builders lay records out in host order, which is the files'
// order only on a little-endian host.
static_assert(std::endian::native == std::endian::little,
              "metafile records need a little-endian host");

namespace {

// Writes records one after another and keeps the counts the header needs,
// so a large bitmap is never held twice in a growing file buffer.
class RecordSink {
public:
    bool Open(const std::string& path) { return m_ok = m_out.Open(path); }

    // Takes ownership of a record made by a builder.
    void Put(char* record, size_t bytes) {
        if (!record) {
            m_ok = false;
            return;
        }
        if (m_ok) m_ok = std::fwrite(record, 1, bytes, m_out.File()) == bytes;
        std::free(record);
        m_bytes += bytes;
        m_largest = std::max<uint64_t>(m_largest, bytes);
        ++m_records;
    }
    // The header goes first as a placeholder; Finish writes its final form.
    void PutHeader(const std::vector<char>& header) {
        if (m_ok)
            m_ok = std::fwrite(header.data(), 1, header.size(), m_out.File()) == header.size();
        m_bytes += header.size();
        ++m_records;
    }
    void PutEmf(char* record) { Put(record, record ? reinterpret_cast<U_EMR*>(record)->nSize : 0); }
    void PutWmf(char* record) {
        Put(record, record ? U_wmr_size(reinterpret_cast<U_METARECORD*>(record)) : 0);
    }

    // Writes the finished header over the first bytes and moves the file into place.
    bool Finish(const void* header, size_t bytes) {
        if (!m_ok) return false;
        if (std::fseek(m_out.File(), 0, SEEK_SET) != 0) return false;
        if (std::fwrite(header, 1, bytes, m_out.File()) != bytes) return false;
        return m_out.Commit();
    }

    uint64_t Bytes() const { return m_bytes; }
    uint64_t Largest() const { return m_largest; }
    uint32_t Records() const { return m_records; }

private:
    OutputFile m_out;
    bool m_ok = false;
    uint64_t m_bytes = 0;
    uint64_t m_largest = 0;
    uint32_t m_records = 0;
};

// Loads and turns the page; its box is the resize size, or its own size when
// no resize size was given (an empty box would show nothing).
bool PreparePage(CImageConverter& c, CRaster& image, int32_t& boxWidth, int32_t& boxHeight) {
    if (!image.LoadPageFile(c.inputs.front(), uint32_t(c.inputFormat))) return false;
    // Metafiles always rotate by angle, even by right angles.
    if (c.angle != 0 && !image.RotateBy(float(c.angle))) return false;
    if (c.width > 0 && c.height > 0) {
        boxWidth = c.width;
        boxHeight = c.height;
    } else {
        boxWidth = int32_t(image.Width());
        boxHeight = int32_t(image.Height());
    }
    return image.HasPixels();
}

// The bitmap description of the stretch record: the header and palette.
std::vector<uint8_t> BitmapInfo(const CRaster& image) {
    std::vector<uint8_t> info(sizeof(BitmapInfoHeader) + image.PaletteBytes());
    std::memcpy(info.data(), &image.header, sizeof(BitmapInfoHeader));
    if (image.PaletteBytes() && image.Palette())
        std::memcpy(info.data() + sizeof(BitmapInfoHeader), image.Palette(), image.PaletteBytes());
    return info;
}

const U_COLORREF kWhite = {255, 255, 255, 0};

} // namespace

int32_t EmfFrameExtent(int32_t screenMm, int32_t box, int32_t screenPx) {
    if (screenPx <= 0) return 0;
    // Widened before multiplying: a huge box must not wrap around.
    double extent = double(int64_t(screenMm) * int64_t(box)) * 100.0 / double(screenPx);
    extent = std::trunc(extent);
    return int32_t(std::clamp(extent, double(std::numeric_limits<int32_t>::min()),
                              double(std::numeric_limits<int32_t>::max())));
}

bool WriteEmfPage(CImageConverter& c) {
    CRaster image(kFormatNone);
    int32_t boxWidth = 0, boxHeight = 0;
    if (!PreparePage(c, image, boxWidth, boxHeight)) return false;

    const ReferenceScreen screen;
    const U_RECTL bounds = {0, 0, boxWidth - 1, boxHeight - 1};
    const U_RECTL frame = {0, 0, EmfFrameExtent(screen.widthMm, boxWidth, screen.widthPx),
                           EmfFrameExtent(screen.heightMm, boxHeight, screen.heightPx)};
    // Application name "www", empty picture name, as two NUL-ended texts.
    uint16_t description[6] = {'w', 'w', 'w', 0, 0, 0};
    std::vector<char> header;
    if (char* record = U_EMRHEADER_set(bounds, frame, nullptr, 5, description,
                                       U_SIZEL{screen.widthPx, screen.heightPx},
                                       U_SIZEL{screen.widthMm, screen.heightMm}, 0)) {
        header.assign(record, record + reinterpret_cast<U_EMR*>(record)->nSize);
        std::free(record);
    } else {
        return false;
    }

    RecordSink sink;
    if (!sink.Open(c.outputPath)) return false;
    sink.PutHeader(header);

    // Object 0 is reserved in the EMF handle table; the pen is 1, the brush 2.
    const uint32_t pen = 1, brush = 2;
    sink.PutEmf(U_EMRCREATEPEN_set(pen, logpen_set(U_PS_SOLID, U_POINT{1, 0}, kWhite)));
    sink.PutEmf(U_EMRSELECTOBJECT_set(pen));
    sink.PutEmf(U_EMRCREATEBRUSHINDIRECT_set(brush, logbrush_set(U_BS_SOLID, kWhite, 0)));
    sink.PutEmf(U_EMRSELECTOBJECT_set(brush));
    sink.PutEmf(U_EMRRECTANGLE_set(U_RECTL{0, 0, boxWidth, boxHeight}));
    // A fresh device holds the stock black pen and white brush.
    sink.PutEmf(U_EMRSELECTOBJECT_set(U_BLACK_PEN));
    sink.PutEmf(U_EMRSELECTOBJECT_set(U_WHITE_BRUSH));
    sink.PutEmf(U_EMRDELETEOBJECT_set(pen));
    sink.PutEmf(U_EMRDELETEOBJECT_set(brush));
    sink.PutEmf(U_EMRSETSTRETCHBLTMODE_set(U_COLORONCOLOR));
    std::vector<uint8_t> info = BitmapInfo(image);
    sink.PutEmf(U_EMRSTRETCHDIBITS_set(
        bounds, U_POINTL{0, 0}, U_POINTL{boxWidth, boxHeight}, U_POINTL{0, 0},
        U_POINTL{int32_t(image.Width()), int32_t(image.Height())}, U_DIB_RGB_COLORS, U_SRCCOPY,
        reinterpret_cast<PU_BITMAPINFO>(info.data()), image.header.sizeImage,
        reinterpret_cast<char*>(image.settings.pixels)));
    EMFTRACK track{}; // the end record reads its palette count from here
    sink.PutEmf(U_EMREOF_set(0, nullptr, &track));

    if (sink.Bytes() > std::numeric_limits<uint32_t>::max()) return false;
    auto* fields = reinterpret_cast<U_EMRHEADER*>(header.data());
    fields->nBytes = uint32_t(sink.Bytes());
    fields->nRecords = sink.Records();
    fields->nHandles = 3;
    return sink.Finish(header.data(), header.size());
}

bool WriteWmfPage(CImageConverter& c) {
    CRaster image(kFormatNone);
    int32_t boxWidth = 0, boxHeight = 0;
    if (!PreparePage(c, image, boxWidth, boxHeight)) return false;
    // WMF coordinates are 16-bit: a page that does not fit cannot be drawn.
    constexpr int32_t kMax16 = std::numeric_limits<int16_t>::max();
    if (image.Width() > uint32_t(kMax16) || image.Height() > uint32_t(kMax16)) return false;
    boxWidth = std::min(boxWidth, kMax16);
    boxHeight = std::min(boxHeight, kMax16);

    // A plain header, no placeable prefix: the WMF has no frame.
    std::vector<char> header;
    if (char* record = U_WMRHEADER_set(nullptr, 0)) {
        header.assign(record, record + U_SIZE_WMRHEADER);
        std::free(record);
    } else {
        return false;
    }
    RecordSink sink;
    if (!sink.Open(c.outputPath)) return false;
    sink.PutHeader(header);

    // WMF objects take the lowest free slot: pen 0, brush 1; the restored
    // defaults are created as objects 2 and 3, since WMF has no stock objects.
    U_PEN whitePen = {U_PS_SOLID, {1, 0}, kWhite};
    U_WLOGBRUSH whiteBrush = {U_BS_SOLID, kWhite, 0};
    U_PEN blackPen = {U_PS_SOLID, {0, 0}, U_COLORREF{0, 0, 0, 0}};
    sink.PutWmf(U_WMRCREATEPENINDIRECT_set(whitePen));
    sink.PutWmf(U_WMRSELECTOBJECT_set(0));
    sink.PutWmf(U_WMRCREATEBRUSHINDIRECT_set(whiteBrush));
    sink.PutWmf(U_WMRSELECTOBJECT_set(1));
    sink.PutWmf(U_WMRRECTANGLE_set(U_RECT16{0, 0, int16_t(boxWidth), int16_t(boxHeight)}));
    sink.PutWmf(U_WMRCREATEPENINDIRECT_set(blackPen));
    sink.PutWmf(U_WMRSELECTOBJECT_set(2));
    sink.PutWmf(U_WMRCREATEBRUSHINDIRECT_set(whiteBrush));
    sink.PutWmf(U_WMRSELECTOBJECT_set(3));
    sink.PutWmf(U_WMRDELETEOBJECT_set(0));
    sink.PutWmf(U_WMRDELETEOBJECT_set(1));
    sink.PutWmf(U_WMRSETSTRETCHBLTMODE_set(U_COLORONCOLOR));
    // The bitmap carries the resolution the user chose.
    image.SetDpiX(c.xdpi);
    image.SetDpiY(c.ydpi);
    std::vector<uint8_t> info = BitmapInfo(image);
    sink.PutWmf(U_WMRSTRETCHDIB_set(
        U_POINT16{0, 0}, U_POINT16{int16_t(boxWidth), int16_t(boxHeight)}, U_POINT16{0, 0},
        U_POINT16{int16_t(image.Width()), int16_t(image.Height())}, U_DIB_RGB_COLORS, U_SRCCOPY,
        reinterpret_cast<const U_BITMAPINFO*>(info.data()), image.header.sizeImage,
        reinterpret_cast<const char*>(image.settings.pixels)));
    sink.PutWmf(U_WMREOF_set());

    uint64_t words = sink.Bytes() / 2;
    uint64_t largest = sink.Largest() / 2;
    if (words > std::numeric_limits<uint32_t>::max()) return false;
    // Header fields: file size in words at 6, object count at 10, largest
    // record in words at 12, all little-endian.
    uint32_t size32 = uint32_t(words), largest32 = uint32_t(largest);
    uint16_t objects = 4;
    std::memcpy(header.data() + 6, &size32, 4);
    std::memcpy(header.data() + 10, &objects, 2);
    std::memcpy(header.data() + 12, &largest32, 4);
    return sink.Finish(header.data(), header.size());
}
