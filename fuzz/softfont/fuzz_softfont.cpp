// The downloaded-font decoders alone: font headers, characters with their
// continuation blocks and symbol sets go into a font store, TrueType fonts
// are built and every glyph is loaded. Inputs are PCL 5 streams, so soft
// font files serve as seeds.
#include "core/Path.h"
#include "fonts/SoftFont.h"
#include "pcl5/Pcl5Parser.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvik;
    pcl5::Parser parser(data, size);
    SoftFontStore store;
    SoftGlyphAssembler assembler;
    int fontId = 0, code = 0, tokens = 0;
    std::string warning;
    for (pcl5::Token t = parser.Next(); t.kind != pcl5::TokenKind::End && tokens < 100000;
         t = parser.Next(), ++tokens) {
        if (t.kind == pcl5::TokenKind::Uel) break;
        if (t.kind != pcl5::TokenKind::Command) continue;
        if (t.x == '*' && t.group == 'c' && t.letter == 'D') fontId = t.value.Clamped(0, 32767);
        if (t.x == '*' && t.group == 'c' && t.letter == 'E') code = t.value.Clamped(0, 65535);
        if (t.x == '*' && t.group == 'c' && t.letter == 'F' && t.value.Int() == 2)
            store.Remove(fontId);
        if (t.x == ')' && t.group == 's' && t.letter == 'W') {
            SoftFontHeader h;
            assembler.Reset();
            if (ParseSoftFontHeader(t.data, h, warning))
                store.AddFont(fontId, std::move(h), warning);
        }
        if (t.x == '(' && t.group == 's' && t.letter == 'W' &&
            assembler.Add(t.data, warning) == SoftGlyphAssembler::Result::Complete)
            store.SetGlyph(fontId, uint32_t(code), assembler.Glyph(), warning);
        if (t.x == '(' && t.group == 'f' && t.letter == 'W') {
            UserSymbolSet set;
            if (ParseUserSymbolSet(t.data, set, warning)) store.AddSymbolSet(std::move(set));
        }
    }
    for (const auto& [id, font] : store.Fonts()) {
        // Every character as text would look it up, upright and vertical.
        for (uint32_t c = 0; c < 300; ++c) {
            fonts::Glyph g;
            if (font->Lookup(c, c, g)) font->Vertical(c, g);
        }
        auto face = font->Face();
        if (!face) continue;
        for (uint32_t g = 0; g < face->GlyphCount() && g < 512; ++g) {
            Path p;
            face->Outline(g, p);
            face->Advance(g);
        }
    }
    return 0;
}
