// Font downloads, font selection and text.
#include "PxlFont.h"
#include "PxlInterp.h"

#include <algorithm>
#include <cmath>

namespace tarvik::pclxl {

namespace {

// Font names are 16-byte fields; trailing blanks and NULs do not count
// when a downloaded font is looked up.
std::string FontKey(const Value& v) {
    std::string s = v.Text();
    while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
    return s;
}

// The linear part of m with its scale taken out, for things that keep their
// own size but follow the page's rotation (bitmap glyphs, patterns).
Matrix Direction(const Matrix& m) {
    double lx = std::hypot(m.a, m.b), ly = std::hypot(m.c, m.d);
    if (!(lx > 0) || !(ly > 0)) return {};
    return {m.a / lx, m.b / lx, m.c / ly, m.d / ly, 0, 0};
}

} // namespace

void Interpreter::BeginFontHeader() {
    const Value* name;
    if (!Require(aFontName, name)) return;
    if (Num(aFontFormat, 0) != 0) {
        Warn("IllegalAttributeValue FontFormat");
        return;
    }
    m_fontHeaderName = FontKey(*name);
    if (m_fonts.count(m_fontHeaderName)) Warn("FontNameAlreadyExists (replaced)");
    m_fontHeader.clear();
    m_fontHeaderOpen = true;
}

void Interpreter::ReadFontHeader(Reader& r) {
    const uint8_t* d;
    uint32_t n;
    if (!Embedded(r, d, n)) return;
    if (!m_fontHeaderOpen) {
        Warn("IllegalOperatorSequence (no font header)");
        return;
    }
    if (m_fontHeader.size() + n > m_limits.maxRecordBytes) {
        Warn("InsufficientMemory (font header too large)");
        m_fontHeaderOpen = false;
        m_fontHeader.clear();
        return;
    }
    m_fontHeader.insert(m_fontHeader.end(), d, d + n);
}

void Interpreter::EndFontHeader() {
    if (!m_fontHeaderOpen) {
        Warn("IllegalOperatorSequence (no font header)");
        return;
    }
    m_fontHeaderOpen = false;
    auto font = std::make_shared<DownloadedFont>();
    std::string err;
    if (!ParseFontHeader(m_fontHeader.data(), m_fontHeader.size(), *font, err)) {
        Warn(err);
        m_fontHeader.clear();
        return;
    }
    m_fontHeader.clear();
    if (m_downloadBytes + font->bytes > m_limits.maxDownloadBytes) {
        Warn("InsufficientMemory (fonts)");
        return;
    }
    auto old = m_fonts.find(m_fontHeaderName);
    if (old != m_fonts.end()) m_downloadBytes -= std::min(m_downloadBytes, old->second->bytes);
    m_downloadBytes += font->bytes;
    m_fonts[m_fontHeaderName] = font;
}

void Interpreter::BeginChar() {
    const Value* name;
    if (!Require(aFontName, name)) return;
    auto it = m_fonts.find(FontKey(*name));
    if (it == m_fonts.end()) {
        Warn("FontUndefined");
        m_charFont.reset();
        return;
    }
    m_charFont = it->second;
}

void Interpreter::ReadChar(Reader& r) {
    const uint8_t* d;
    uint32_t n;
    if (!Embedded(r, d, n)) return;
    const Value* code;
    if (!Require(aCharCode, code)) return;
    if (!m_charFont) {
        Warn("IllegalOperatorSequence (no BeginChar)");
        return;
    }
    if (n > m_limits.maxRecordBytes || m_downloadBytes + n > m_limits.maxDownloadBytes ||
        m_charFont->glyphs.size() + m_charFont->bitmaps.size() > 65536) {
        Warn("InsufficientMemory (characters)");
        return;
    }
    size_t before = m_charFont->bytes;
    std::string err;
    if (!AddCharacter(*m_charFont, uint16_t(SafeInt(code->Num(0))), d, n, err)) Warn(err);
    m_downloadBytes += m_charFont->bytes - before;
}

void Interpreter::EndChar() {
    if (!m_charFont) Warn("IllegalOperatorSequence (no BeginChar)");
    m_charFont.reset();
}

void Interpreter::RemoveFont() {
    const Value* name;
    if (!Require(aFontName, name)) return;
    auto it = m_fonts.find(FontKey(*name));
    if (it == m_fonts.end()) {
        Warn("UndefinedFontNotRemoved");
        return;
    }
    m_downloadBytes -= std::min(m_downloadBytes, it->second->bytes);
    m_fonts.erase(it);
}

void Interpreter::SetFont() {
    const Value* name = Get(aFontName);
    const Value* select = Get(aWritingMode);
    if (!name && select && select->IsArray()) {
        // A PCL 5 font selection string: not read here; Courier stands in.
        Unsupported("PCL XL SetFont by PCL selection");
    } else if (!name) {
        Warn("MissingAttribute FontName");
        return;
    }
    double size = Num(aCharSize, 12);
    if (!(size > 0) || size > 32767) {
        Warn("IllegalAttributeValue CharSize");
        return;
    }
    GraphicsState& gs = m_gs;
    gs.charSize = size;
    gs.symbolSet = SafeInt(Num(aSymbolSet, 629));
    gs.font.reset();
    gs.residentFace.reset();
    gs.fontSet = false;
    std::string key = name ? FontKey(*name) : std::string("Courier");
    gs.fontName = key;
    auto it = m_fonts.find(key);
    if (it != m_fonts.end()) {
        gs.font = it->second;
        gs.fontSet = true;
        return;
    }
    FontLibrary::Resident res = m_job.Fonts().ByName(name ? name->Text() : std::string("Courier"));
    if (!res.face) {
        Warn("FontUndefinedNoSubstituteFound " + key);
        return;
    }
    if (!res.exact) Warn(res.face->FamilyName() + " substituted for " + key);
    gs.residentFace = res.face;
    gs.residentSymbolic = res.symbolic;
    gs.fontSet = true;
}

Matrix Interpreter::GlyphMatrix(Point origin) const {
    const GraphicsState& gs = m_gs;
    double s = gs.charSize;
    Matrix shear{1, gs.charShearY, gs.charShearX, 1, 0, 0};
    return shear.Then(Matrix::Scale(s * gs.charScaleX, -s * gs.charScaleY))
        .Then(Matrix::Rotate(-gs.charAngle))
        .Then(Matrix::Translate(origin.x, origin.y));
}

void Interpreter::Text(bool toPath) {
    const Value* text;
    if (!Require(aTextData, text)) return;
    const Value* xs = Get(aXSpacingData);
    const Value* ys = Get(aYSpacingData);
    if ((xs && xs->count != text->count) || (ys && ys->count != text->count))
        Warn("IllegalArraySize (spacing data)");
    GraphicsState& gs = m_gs;
    if (!gs.fontSet) {
        Warn("NoCurrentFont");
        return;
    }
    if (!gs.hasCursor) {
        Warn("CurrentCursorUndefined");
        return;
    }
    Device* dev = Dev();
    std::shared_ptr<FontFace> dlFace;
    if (gs.font && gs.font->tech == DownloadedFont::Tech::TrueType) {
        bool rebuild = !gs.font->faceTried;
        dlFace = gs.font->Face();
        // Rebuilding the font file costs in proportion to its size.
        if (rebuild) m_job.Tick(gs.font->bytes / 64);
        if (!dlFace) {
            Warn("BadFontData (TrueType font not usable)");
            return;
        }
    }
    const FontFace* face = dlFace ? dlFace.get() : gs.residentFace.get();
    bool bitmap = gs.font && gs.font->tech == DownloadedFont::Tech::Bitmap;
    Matrix toUser = gs.ctm.Inverse();
    int missing = 0;
    bool paint = !toPath && dev && !gs.brush.IsNull();
    Matrix dir = Direction(gs.ctm);
    double userPerPtX = std::hypot(toUser.a, toUser.b);
    for (uint32_t i = 0; i < text->count; ++i) {
        uint32_t code = uint32_t(std::max(0, SafeInt(text->Num(i))));
        Point origin = gs.cursor;
        double advance = 0;
        if (bitmap) {
            auto it = gs.font->bitmaps.find(uint16_t(code));
            if (it == gs.font->bitmaps.end()) {
                ++missing;
            } else {
                const BitmapGlyph& g = it->second;
                double px = 72.0 / gs.font->resX, py = 72.0 / gs.font->resY;
                Point at = gs.ctm.Apply(origin);
                Matrix m = Matrix::Translate(g.left, -g.top)
                               .Then(Matrix::Scale(px, py))
                               .Then(dir)
                               .Then(Matrix::Translate(at.x, at.y));
                if (paint && g.width > 0 && g.height > 0)
                    dev->FillMask(g.bits.data(), g.width, g.height, (size_t(g.width) + 7) / 8, m,
                                  gs.brush.paint, gs.rop);
                if (toPath) Unsupported("PCL XL TextPath with a bitmap font");
                advance = g.width * px * userPerPtX;
            }
        } else if (face) {
            uint32_t glyph = 0;
            bool found = false;
            if (dlFace) {
                auto it = gs.font->charToGlyph.find(uint16_t(code));
                found = it != gs.font->charToGlyph.end();
                if (found) glyph = it->second;
            } else {
                if (gs.residentSymbolic) {
                    glyph = face->GlyphForCode(code);
                } else {
                    glyph = face->GlyphForUnicode(SymbolSetToUnicode(gs.symbolSet, code));
                    if (!glyph) glyph = face->GlyphForCode(code);
                }
                found = glyph != 0;
            }
            // A character the font lacks draws nothing (not the font's
            // .notdef box) but still advances.
            if (!found && code != 0x20) ++missing;
            Matrix g2u = GlyphMatrix(origin);
            if (found) {
                if (toPath) {
                    Path outline;
                    if (face->Outline(glyph, outline)) {
                        gs.path.Append(outline, g2u);
                    }
                } else if (paint) {
                    Matrix g2p = g2u.Then(gs.ctm);
                    dev->FillGlyph(*face, glyph, g2p, gs.brush.paint, gs.rop);
                    if (gs.charBold > 0) {
                        Path outline;
                        if (face->Outline(glyph, outline)) {
                            StrokeStyle bold;
                            bold.width = gs.charBold * gs.charSize;
                            bold.join = LineJoin::Round;
                            Path user;
                            user.Append(outline, g2u);
                            dev->StrokePath(user, gs.ctm, bold, gs.brush.paint, gs.rop);
                        }
                    }
                }
            }
            advance = face->Advance(glyph) * gs.charSize * gs.charScaleX;
        }
        double dx, dy = ys ? ys->Num(i) : 0;
        if (xs) {
            dx = xs->Num(i);
        } else {
            double a = gs.charAngle * M_PI / 180.0;
            dx = advance * std::cos(a);
            dy += -advance * std::sin(a);
        }
        gs.cursor = {origin.x + dx, origin.y + dy};
    }
    if (missing > 0) Warn(std::to_string(missing) + " characters not in the font");
    m_job.Tick(text->count / 16);
    if (toPath) {
        // Keep the cursor where the text ended rather than at the last outline.
        gs.hasCursor = true;
    }
}

} // namespace tarvik::pclxl
