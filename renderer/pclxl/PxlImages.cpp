// Raster images, raster patterns and scan lines.
#include "PxlInterp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarvik::pclxl {

namespace {

int DepthBits(int e) {
    return e == 0 ? 1 : e == 1 ? 4 : e == 2 ? 8 : 0;
}

unsigned Sample(const uint8_t* row, size_t index, int bits) {
    if (bits == 8) return row[index];
    if (bits == 4) return (row[index / 2] >> (index % 2 ? 0 : 4)) & 0x0F;
    return (row[index / 8] >> (7 - index % 8)) & 1;
}

uint8_t Scale(unsigned v, int bits) {
    return bits == 8 ? uint8_t(v) : bits == 4 ? uint8_t(v * 17) : uint8_t(v ? 255 : 0);
}

// One decoded row to colours, for patterns (images go to the device as
// they are).
void RowToColors(const ImageInfo& info, const uint8_t* row, Color* out) {
    int bits = info.bitsPerComponent;
    for (int x = 0; x < info.width; ++x) {
        switch (info.format) {
        case ImageInfo::Format::Gray:
            out[x] = Color::Gray(Scale(Sample(row, x, bits), bits));
            break;
        case ImageInfo::Format::Rgb:
            out[x] = {Scale(Sample(row, size_t(x) * 3, bits), bits),
                      Scale(Sample(row, size_t(x) * 3 + 1, bits), bits),
                      Scale(Sample(row, size_t(x) * 3 + 2, bits), bits)};
            break;
        case ImageInfo::Format::Indexed: {
            unsigned i = Sample(row, x, bits);
            out[x] = i < info.palette.size() ? info.palette[i] : kBlack;
            break;
        }
        }
    }
}

} // namespace

bool Interpreter::ImageFormat(int mapping, int depth, ImageInfo& info) {
    int bits = DepthBits(depth);
    if (!bits) {
        Warn("IllegalAttributeValue ColorDepth");
        return false;
    }
    info.bitsPerComponent = bits;
    info.palette.clear();
    if (mapping == 1) {
        info.format = ImageInfo::Format::Indexed;
        size_t entries = size_t(1) << bits;
        size_t comps = m_gs.colorSpace == 1 ? 1 : 3;
        if (m_gs.palette.empty()) {
            Warn("MissingPalette");
            for (size_t i = 0; i < entries; ++i)
                info.palette.push_back(Color::Gray(uint8_t(i * 255 / (entries - 1))));
        } else {
            if (m_gs.palette.size() / comps < entries) Warn("ImagePaletteMismatch");
            for (size_t i = 0; i < entries; ++i) info.palette.push_back(PaletteColor(i));
        }
    } else if (mapping == 0) {
        info.format = m_gs.colorSpace == 1 ? ImageInfo::Format::Gray : ImageInfo::Format::Rgb;
    } else {
        Unsupported("PCL XL colour mapping " + std::to_string(mapping));
        return false;
    }
    return true;
}

void Interpreter::BeginImage() {
    m_image.open = false;
    const Value *w, *h;
    if (!Require(aSourceWidth, w) || !Require(aSourceHeight, h)) return;
    int width = SafeInt(w->Num(0)), height = SafeInt(h->Num(0));
    if (width <= 0 || height <= 0 || width > m_limits.maxImageDimension ||
        height > m_limits.maxImageDimension ||
        uint64_t(width) * uint64_t(height) > m_limits.maxImagePixels) {
        Warn("IllegalAttributeValue (image size)");
        return;
    }
    ImageInfo info;
    if (!ImageFormat(SafeInt(Num(aColorMapping, 0)), SafeInt(Num(aColorDepth, 2)), info)) return;
    info.width = width;
    info.height = height;
    double dw = width, dh = height, dx = 0, dy = 0;
    bool boxed = false;
    if (const Value* ds = Get(aDestinationSize)) {
        dw = ds->X();
        dh = ds->Y();
    } else if (const Value* db = Get(aDestinationBox)) {
        dx = db->Num(0);
        dy = db->Num(1);
        dw = db->Num(2) - db->Num(0);
        dh = db->Num(3) - db->Num(1);
        boxed = true;
    } else {
        Warn("MissingAttribute DestinationSize");
    }
    if (!boxed) {
        if (!m_gs.hasCursor) {
            Warn("CurrentCursorUndefined");
        } else {
            dx = m_gs.cursor.x;
            dy = m_gs.cursor.y;
        }
    }
    if (dw == 0 || dh == 0) {
        Warn("IllegalAttributeValue DestinationSize");
        return;
    }
    m_image = {};
    m_image.open = true;
    m_image.info = info;
    m_image.components = info.format == ImageInfo::Format::Rgb ? 3 : 1;
    m_image.decoder.Begin(info.PackedRowBytes(), width, m_image.components, height);
    Matrix m =
        Matrix::Scale(dw / width, dh / height).Then(Matrix::Translate(dx, dy)).Then(m_gs.ctm);
    if (Device* dev = Dev()) {
        dev->BeginImage(info, m, m_gs.brush.paint, m_gs.rop);
        m_image.deviceOpen = true;
    }
}

void Interpreter::ReadImage(Reader& r) {
    const uint8_t* d;
    uint32_t n;
    bool have = Embedded(r, d, n);
    if (!m_image.open || m_image.pattern != (m_op == kReadRastPattern)) {
        Warn("IllegalOperatorSequence (no image)");
        return;
    }
    if (!have) return;
    int start = SafeInt(Num(aStartLine, m_image.nextLine));
    int rows = SafeInt(Num(aBlockHeight, 0));
    int mode = SafeInt(Num(aCompressMode, 0));
    int pad = SafeInt(Num(aPadBytesMultiple, 4));
    if (start != m_image.nextLine) Warn("IllegalAttributeValue StartLine");
    if (mode < 0 || mode > 3) {
        Warn("IllegalAttributeValue CompressMode");
        return;
    }
    if (mode == 2 && m_image.info.bitsPerComponent != 8) {
        Warn("IllegalAttributeCombination (JPEG needs 8 bits)");
        return;
    }
    if (mode == 2 && m_image.info.format == ImageInfo::Format::Indexed) {
        Warn("IllegalAttributeCombination (JPEG with a palette)");
        return;
    }
    std::string err;
    Device* dev = Dev();
    ImageJob& img = m_image;
    auto sink = [&](const uint8_t* row) {
        if (img.pattern) {
            size_t y = size_t(img.decoder.RowsDone());
            RowToColors(img.info, row, img.rgb.data() + y * size_t(img.info.width));
        } else if (dev && img.deviceOpen) {
            dev->ImageRows(row, 1);
        }
    };
    const int before = img.decoder.RowsDone();
    if (!img.decoder.Block(static_cast<Compression>(mode), d, n, rows, pad, m_dataBigEndian, sink,
                           err))
        Warn("IllegalDataValue (image data: " + err + ")");
    // Both come from the input and may be near the int limits.
    m_image.nextLine = int(std::clamp<int64_t>(int64_t(start) + rows, INT_MIN, INT_MAX));
    // The rows decoded are the work, whatever the block claimed.
    m_job.ChargePixels(uint64_t(std::max(0, img.decoder.RowsDone() - before)) *
                       uint64_t(img.info.width));
}

void Interpreter::EndImage() {
    if (!m_image.open) {
        Warn("IllegalOperatorSequence (no image)");
        return;
    }
    if (m_image.pattern) {
        EndRastPattern();
        return;
    }
    if (m_image.deviceOpen) {
        if (Device* dev = Dev()) dev->EndImage();
    }
    m_image.open = false;
    m_image.deviceOpen = false;
}

void Interpreter::BeginRastPattern() {
    m_image.open = false;
    const Value *w, *h, *id;
    if (!Require(aSourceWidth, w) || !Require(aSourceHeight, h) || !Require(aPatternDefineID, id))
        return;
    int width = SafeInt(w->Num(0)), height = SafeInt(h->Num(0));
    int maxDim = m_limits.maxPatternDimension;
    if (width <= 0 || height <= 0 || width > maxDim || height > maxDim) {
        Warn("IllegalAttributeValue (pattern size)");
        return;
    }
    size_t bytes = size_t(width) * size_t(height) * sizeof(Color);
    if (m_downloadBytes + bytes > m_limits.maxDownloadBytes) {
        Warn("InsufficientMemory (patterns)");
        return;
    }
    ImageInfo info;
    if (!ImageFormat(SafeInt(Num(aColorMapping, 0)), SafeInt(Num(aColorDepth, 2)), info)) return;
    info.width = width;
    info.height = height;
    m_image = {};
    m_image.open = true;
    m_image.pattern = true;
    m_image.info = info;
    m_image.components = info.format == ImageInfo::Format::Rgb ? 3 : 1;
    m_image.patternId = SafeInt(id->Num(0));
    m_image.persistence = std::clamp(SafeInt(Num(aPatternPersistence, 0)), 0, 2);
    if (const Value* ds = Get(aDestinationSize)) {
        m_image.destW = ds->X();
        m_image.destH = ds->Y();
    } else {
        m_image.destW = width;
        m_image.destH = height;
    }
    m_image.rgb.assign(size_t(width) * size_t(height), kWhite);
    m_image.decoder.Begin(info.PackedRowBytes(), width, m_image.components, height);
}

void Interpreter::ReadRastPattern(Reader& r) {
    ReadImage(r);
}

void Interpreter::EndRastPattern() {
    if (!m_image.open || !m_image.pattern) {
        Warn("IllegalOperatorSequence (no pattern)");
        return;
    }
    m_image.open = false;
    auto pat = std::make_shared<Pattern>();
    pat->width = m_image.info.width;
    pat->height = m_image.info.height;
    pat->pixels = std::move(m_image.rgb);
    StoredPattern sp;
    sp.pattern = pat;
    // Destination size is fixed in the user units in force now.
    Point ex = m_gs.ctm.ApplyVector({m_image.destW, 0});
    Point ey = m_gs.ctm.ApplyVector({0, m_image.destH});
    sp.destWidth = std::hypot(ex.x, ex.y);
    sp.destHeight = std::hypot(ey.x, ey.y);
    sp.persistence = m_image.persistence;
    auto key = std::make_pair(sp.persistence, m_image.patternId);
    auto it = m_patterns.find(key);
    if (it != m_patterns.end())
        m_downloadBytes -=
            std::min(m_downloadBytes, it->second.pattern->pixels.size() * sizeof(Color));
    m_downloadBytes += pat->pixels.size() * sizeof(Color);
    m_patterns[key] = std::move(sp);
}

std::shared_ptr<const Pattern> Interpreter::SelectPattern(int id, Point origin, bool haveOrigin,
                                                          double newW, double newH) {
    StoredPattern* sp = nullptr;
    for (int persistence = 0; persistence <= 2 && !sp; ++persistence) {
        auto it = m_patterns.find({persistence, id});
        if (it != m_patterns.end()) sp = &it->second;
    }
    if (!sp) return nullptr;
    const Pattern& src = *sp->pattern;
    // The tile's size is in page units; its direction follows the page
    // transform in force now.
    double w = sp->destWidth, h = sp->destHeight;
    Point ux = m_gs.ctm.ApplyVector({1, 0});
    Point uy = m_gs.ctm.ApplyVector({0, 1});
    double lx = std::hypot(ux.x, ux.y), ly = std::hypot(uy.x, uy.y);
    if (newW > 0 && newH > 0) {
        w = newW * lx;
        h = newH * ly;
    }
    if (!(lx > 0) || !(ly > 0) || !(w > 0) || !(h > 0)) return nullptr;
    Matrix dir{ux.x / lx, ux.y / lx, uy.x / ly, uy.y / ly, 0, 0};
    Point anchor = m_gs.ctm.Apply(haveOrigin ? origin : Point{0, 0});
    Matrix toPage = Matrix::Scale(w / src.width, h / src.height)
                        .Then(dir)
                        .Then(Matrix::Translate(anchor.x, anchor.y));
    // Selecting the same pattern the same way again shares the tile.
    const Pattern* last = sp->lastSelected.get();
    if (last && std::memcmp(&last->patternToPage, &toPage, sizeof toPage) == 0)
        return sp->lastSelected;
    auto pat = std::make_shared<Pattern>();
    pat->width = src.width;
    pat->height = src.height;
    pat->pixels = src.pixels;
    pat->patternToPage = toPage;
    // A copy is work: charge it so endless reselection ends.
    m_job.ChargePixels(pat->pixels.size());
    sp->lastSelected = pat;
    return pat;
}

void Interpreter::DropPatterns(int persistence) {
    for (auto it = m_patterns.begin(); it != m_patterns.end();) {
        if (it->first.first == persistence) {
            m_downloadBytes -=
                std::min(m_downloadBytes, it->second.pattern->pixels.size() * sizeof(Color));
            it = m_patterns.erase(it);
        } else {
            ++it;
        }
    }
}

void Interpreter::ScanLineRel(Reader& r) {
    const uint8_t* d;
    uint32_t n;
    if (!Embedded(r, d, n)) return;
    if (!m_inScan) Warn("IllegalOperatorSequence (no BeginScan)");
    Device* dev = Dev();
    size_t lines = size_t(std::clamp(SafeInt(Num(aNumberOfScanLines, 1)), 0, 1 << 30));
    bool big = m_dataBigEndian;
    size_t pos = 0;
    auto need = [&](size_t k) { return n - pos >= k; };
    if (!need(1)) return;
    uint8_t xyType = d[pos++];
    size_t xySize = xyType < 2 ? 1 : 2;
    auto readNum = [&](int type) -> double {
        size_t sz = type < 2 ? 1 : 2;
        const uint8_t* q = d + pos;
        pos += sz;
        switch (type) {
        case 0:
            return q[0];
        case 1:
            return int8_t(q[0]);
        case 2:
            return Get16(q, big);
        default:
            return int16_t(Get16(q, big));
        }
    };
    Path spans;
    for (size_t line = 0; line < lines; ++line) {
        if (!need(2 * xySize + 3)) {
            Warn("MissingData (scan lines)");
            break;
        }
        double x = readNum(xyType), y = readNum(xyType);
        size_t pairs = Get16(d + pos, big);
        pos += 2;
        int pairType = d[pos++];
        size_t psize = pairType < 2 ? 1 : 2;
        if (!need(pairs * 2 * psize)) {
            Warn("MissingData (scan line pairs)");
            break;
        }
        double base = x;
        for (size_t i = 0; i < pairs; ++i) {
            double x0 = readNum(pairType), x1 = readNum(pairType);
            double s = base + x0, e = base + x1;
            if (e > s) spans.Rectangle(s, y, e, y + 1);
            base = e;
        }
    }
    if (dev && !spans.Empty() && !m_gs.brush.IsNull())
        dev->FillPath(spans, m_gs.ctm, FillRule::NonZero, m_gs.brush.paint, m_gs.rop);
}

} // namespace tarvik::pclxl
