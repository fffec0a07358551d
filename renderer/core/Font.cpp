#include "core/Font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <atomic>
#include <cctype>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace tarvik {

namespace {

// One FreeType library for the process, made on first use; faces are only
// ever used by one thread at a time (one interpreter instance at a time).
// It is released when the renderer is unloaded (or the program ends). Should
// a face still be alive then, the last face releases it, and the state stays
// so that the face still finds its mutex.
struct LibraryState {
    std::mutex mutex;
    FT_Library library = nullptr;
    bool tried = false;
    bool closing = false;
    long faces = 0;
};

LibraryState* g_state = new LibraryState;

LibraryState& State() {
    return *g_state;
}

// Called with the mutex held.
void ReleaseLibraryIfDone(LibraryState& s) {
    if (s.closing && s.faces == 0 && s.library) {
        FT_Done_FreeType(s.library);
        s.library = nullptr;
    }
}

// Runs when the library's static objects are destroyed: at unload.
struct LibraryReleaser {
    ~LibraryReleaser() {
        bool unused;
        {
            std::lock_guard<std::mutex> lock(g_state->mutex);
            g_state->closing = true;
            ReleaseLibraryIfDone(*g_state);
            unused = g_state->faces == 0;
        }
        if (unused) {
            delete g_state;
            g_state = nullptr;
        }
    }
} g_releaser;

// The library, made on first use; nullptr when FreeType cannot start.
// Called with the mutex held.
FT_Library Library(LibraryState& s) {
    if (!s.tried && !s.closing) {
        s.tried = true;
        if (FT_Init_FreeType(&s.library) != 0) s.library = nullptr;
    }
    return s.library;
}

std::atomic<uint64_t> g_nextFaceId{1};

} // namespace

struct FontFace::Impl {
    FT_Face face = nullptr;
    std::unordered_map<uint32_t, double> advances; // text asks for the same glyphs again and again
    std::vector<uint8_t> bytes;
    double unitsPerEm = 1000;
};

std::shared_ptr<FontFace> FontFace::FromFile(const std::string& path, int faceIndex) {
    // Made before the lock is taken, so that a face given up below is
    // destroyed only after the lock is let go.
    std::shared_ptr<FontFace> f(new FontFace);
    f->m_impl = std::make_unique<Impl>();
    LibraryState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    FT_Library lib = Library(s);
    if (!lib) return nullptr;
    if (FT_New_Face(lib, path.c_str(), faceIndex, &f->m_impl->face) != 0) return nullptr;
    ++s.faces;
    if (!FT_IS_SCALABLE(f->m_impl->face)) return nullptr;
    f->m_impl->unitsPerEm = f->m_impl->face->units_per_EM ? f->m_impl->face->units_per_EM : 1000;
    f->m_id = g_nextFaceId++;
    return f;
}

std::shared_ptr<FontFace> FontFace::FromMemory(std::vector<uint8_t> bytes, int faceIndex) {
    if (bytes.empty()) return nullptr;
    std::shared_ptr<FontFace> f(new FontFace); // before the lock, as above
    f->m_impl = std::make_unique<Impl>();
    f->m_impl->bytes = std::move(bytes);
    LibraryState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    FT_Library lib = Library(s);
    if (!lib) return nullptr;
    if (FT_New_Memory_Face(lib, f->m_impl->bytes.data(), FT_Long(f->m_impl->bytes.size()),
                           faceIndex, &f->m_impl->face) != 0)
        return nullptr;
    ++s.faces;
    if (!FT_IS_SCALABLE(f->m_impl->face)) return nullptr;
    f->m_impl->unitsPerEm = f->m_impl->face->units_per_EM ? f->m_impl->face->units_per_EM : 1000;
    f->m_id = g_nextFaceId++;
    return f;
}

FontFace::~FontFace() {
    if (m_impl && m_impl->face) {
        LibraryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        FT_Done_Face(m_impl->face);
        --s.faces;
        ReleaseLibraryIfDone(s);
    }
}

uint32_t FontFace::GlyphForUnicode(uint32_t cp) const {
    FT_Face f = m_impl->face;
    if (FT_Select_Charmap(f, FT_ENCODING_UNICODE) != 0) return 0;
    return FT_Get_Char_Index(f, cp);
}

uint32_t FontFace::GlyphForCode(uint32_t code) const {
    FT_Face f = m_impl->face;
    if (f->num_charmaps <= 0) return 0;
    FT_Set_Charmap(f, f->charmaps[0]);
    uint32_t g = FT_Get_Char_Index(f, code);
    if (!g && f->charmaps[0]->encoding == FT_ENCODING_MS_SYMBOL && code < 0x100)
        g = FT_Get_Char_Index(f, 0xF000 + code);
    return g;
}

uint32_t FontFace::GlyphCount() const {
    return uint32_t(m_impl->face->num_glyphs);
}

double FontFace::Advance(uint32_t glyph) const {
    auto it = m_impl->advances.find(glyph);
    if (it != m_impl->advances.end()) return it->second;
    FT_Face f = m_impl->face;
    double adv = 0;
    if (FT_Load_Glyph(f, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0)
        adv = double(f->glyph->metrics.horiAdvance) / m_impl->unitsPerEm;
    if (m_impl->advances.size() < 65536) m_impl->advances[glyph] = adv;
    return adv;
}

namespace {

struct Decomposer {
    Path* path;
    double scale;
    bool open = false;
};

int MoveFn(const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    if (d->open) d->path->Close();
    d->path->MoveTo(to->x * d->scale, to->y * d->scale);
    d->open = true;
    return 0;
}
int LineFn(const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    d->path->LineTo(to->x * d->scale, to->y * d->scale);
    return 0;
}
int ConicFn(const FT_Vector* c, const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    d->path->QuadTo(c->x * d->scale, c->y * d->scale, to->x * d->scale, to->y * d->scale);
    return 0;
}
int CubicFn(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    d->path->CurveTo(c1->x * d->scale, c1->y * d->scale, c2->x * d->scale, c2->y * d->scale,
                     to->x * d->scale, to->y * d->scale);
    return 0;
}

} // namespace

bool FontFace::Outline(uint32_t glyph, Path& out) const {
    FT_Face f = m_impl->face;
    if (FT_Load_Glyph(f, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
        return false;
    if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE || f->glyph->outline.n_points == 0)
        return false;
    FT_Outline_Funcs funcs{};
    funcs.move_to = MoveFn;
    funcs.line_to = LineFn;
    funcs.conic_to = ConicFn;
    funcs.cubic_to = CubicFn;
    Decomposer d{&out, 1.0 / m_impl->unitsPerEm};
    if (FT_Outline_Decompose(&f->glyph->outline, &funcs, &d) != 0) return false;
    if (d.open) out.Close();
    return true;
}

std::string FontFace::FamilyName() const {
    const char* n = m_impl->face->family_name;
    return n ? n : "";
}
std::string FontFace::StyleName() const {
    const char* n = m_impl->face->style_name;
    return n ? n : "";
}
bool FontFace::FixedPitch() const {
    return FT_IS_FIXED_WIDTH(m_impl->face);
}
int FontFace::UnitsPerEm() const {
    return int(m_impl->unitsPerEm);
}
bool FontFace::Underline(double& centre, double& thickness) const {
    const FT_Face f = m_impl->face;
    if (!FT_IS_SCALABLE(f) || f->underline_thickness <= 0) return false;
    centre = f->underline_position / m_impl->unitsPerEm;
    thickness = f->underline_thickness / m_impl->unitsPerEm;
    return true;
}

// --- resident typefaces ---

namespace {

// URW base 35 first, then Liberation, then DejaVu (for the faces nothing
// closer stands in for).
const char* const kFontDirs[] = {
    "/usr/share/fonts/opentype/urw-base35/",  //
    "/usr/share/fonts/truetype/liberation2/", //
    "/usr/share/fonts/truetype/liberation/",  //
    "/usr/share/fonts/type1/urw-base35/",     //
    "/usr/share/fonts/truetype/dejavu/",
};

// Four files per family: regular, bold, italic, bold italic.
struct Family {
    const char* files[4];
    bool symbolic;
};

const Family kCourier{{"NimbusMonoPS-Regular.otf", "NimbusMonoPS-Bold.otf",
                       "NimbusMonoPS-Italic.otf", "NimbusMonoPS-BoldItalic.otf"},
                      false};
const Family kTimes{{"NimbusRoman-Regular.otf", "NimbusRoman-Bold.otf", "NimbusRoman-Italic.otf",
                     "NimbusRoman-BoldItalic.otf"},
                    false};
const Family kSans{{"NimbusSans-Regular.otf", "NimbusSans-Bold.otf", "NimbusSans-Italic.otf",
                    "NimbusSans-BoldItalic.otf"},
                   false};
const Family kSansNarrow{{"NimbusSansNarrow-Regular.otf", "NimbusSansNarrow-Bold.otf",
                          "NimbusSansNarrow-Oblique.otf", "NimbusSansNarrow-BoldOblique.otf"},
                         false};
const Family kArial{{"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf",
                     "LiberationSans-Italic.ttf", "LiberationSans-BoldItalic.ttf"},
                    false};
const Family kTimesNew{{"LiberationSerif-Regular.ttf", "LiberationSerif-Bold.ttf",
                        "LiberationSerif-Italic.ttf", "LiberationSerif-BoldItalic.ttf"},
                       false};
const Family kCourierNew{{"LiberationMono-Regular.ttf", "LiberationMono-Bold.ttf",
                          "LiberationMono-Italic.ttf", "LiberationMono-BoldItalic.ttf"},
                         false};
const Family kPalatino{
    {"P052-Roman.otf", "P052-Bold.otf", "P052-Italic.otf", "P052-BoldItalic.otf"}, false};
const Family kSchoolbook{{"C059-Roman.otf", "C059-Bold.otf", "C059-Italic.otf", "C059-BdIta.otf"},
                         false};
const Family kBookman{{"URWBookman-Light.otf", "URWBookman-Demi.otf", "URWBookman-LightItalic.otf",
                       "URWBookman-DemiItalic.otf"},
                      false};
const Family kAvantGarde{{"URWGothic-Book.otf", "URWGothic-Demi.otf", "URWGothic-BookOblique.otf",
                          "URWGothic-DemiOblique.otf"},
                         false};
const Family kChancery{{"Z003-MediumItalic.otf", "Z003-MediumItalic.otf", "Z003-MediumItalic.otf",
                        "Z003-MediumItalic.otf"},
                       false};
const Family kSymbol{{"StandardSymbolsPS.otf", "StandardSymbolsPS.otf", "StandardSymbolsPS.otf",
                      "StandardSymbolsPS.otf"},
                     true};
const Family kDingbats{{"D050000L.otf", "D050000L.otf", "D050000L.otf", "D050000L.otf"}, true};

// PCL XL base names (lower case, spaces removed) and the family each maps
// to. Exact twins first; the rest are the nearest installed design.
struct NameEntry {
    const char* name;
    const Family* family;
    bool exact;
    bool condensed;
};
const NameEntry kNames[] = {
    {"courier", &kCourier, true, false},
    {"cgtimes", &kTimes, true, false},
    {"times", &kTimes, true, false},
    {"timesroman", &kTimes, true, false},
    {"timesnewrmn", &kTimesNew, true, false},
    {"timenewrmn", &kTimesNew, true, false},
    {"timesnewroman", &kTimesNew, true, false},
    {"arial", &kArial, true, false},
    {"helvetica", &kSans, true, false},
    {"helveticanarrow", &kSansNarrow, true, false},
    {"helveticanr", &kSansNarrow, true, false},
    {"univers", &kSans, false, false},
    {"universcd", &kSansNarrow, false, true},
    {"cgomega", &kSans, false, false},
    {"antiqolive", &kSans, false, false},
    {"albertus", &kSans, false, false},
    {"clarendon", &kSchoolbook, false, false},
    {"garamond", &kPalatino, false, false},
    {"garamondantiqua", &kPalatino, false, false},
    {"coronet", &kChancery, false, false},
    {"marigold", &kChancery, false, false},
    {"lettergothic", &kCourier, false, false},
    {"lineprinter", &kCourier, false, false},
    {"couriernew", &kCourierNew, true, false},
    {"palatino", &kPalatino, true, false},
    {"newcenturyschlbk", &kSchoolbook, true, false},
    {"newcenturyschoolbook", &kSchoolbook, true, false},
    {"centuryschoolbook", &kSchoolbook, true, false},
    {"itcbookman", &kBookman, true, false},
    {"bookman", &kBookman, true, false},
    {"itcavantgarde", &kAvantGarde, true, false},
    {"avantgarde", &kAvantGarde, true, false},
    {"itczapfchancery", &kChancery, true, false},
    {"zapfchancery", &kChancery, true, false},
    {"symbol", &kSymbol, true, false},
    {"symbolps", &kSymbol, true, false},
    {"itczapfdingbats", &kDingbats, true, false},
    {"zapfdingbats", &kDingbats, true, false},
    {"wingdings", &kDingbats, false, false},
};

struct StyleFlags {
    bool bold = false, italic = false, condensed = false;
};

// Reads the style suffix tokens PCL XL names carry ("Bd", "It", "BdIt",
// "MdIt", "CdBd", "Xb", "Ob", "Dm", "Krsv", "Hlb", ...).
bool ParseStyle(const std::string& token, StyleFlags& flags) {
    static const char* const kTokens[] = {"Bd",  "It",   "Md", "Cd", "Xb", "Ob", "Dm",
                                          "Hlb", "Krsv", "Rg", "Lt", "Bk", "Nr"};
    size_t i = 0;
    StyleFlags f;
    while (i < token.size()) {
        bool matched = false;
        for (const char* t : kTokens) {
            size_t n = std::char_traits<char>::length(t);
            if (token.compare(i, n, t) == 0) {
                std::string s(t);
                if (s == "Bd" || s == "Xb" || s == "Dm" || s == "Hlb") f.bold = true;
                if (s == "It" || s == "Ob" || s == "Krsv") f.italic = true;
                if (s == "Cd" || s == "Nr") f.condensed = true;
                i += n;
                matched = true;
                break;
            }
        }
        if (!matched) return false;
    }
    flags = f;
    return true;
}

std::string Squash(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Resolved {
    const Family* family;
    int variant;
    bool exact;
};

Resolved ResolveName(std::string_view pclName) {
    std::string name(pclName);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    StyleFlags flags;
    // The style sits in the last space-separated token, when there is one.
    size_t sp = name.find_last_of(' ');
    std::string base = name;
    if (sp != std::string::npos && ParseStyle(name.substr(sp + 1), flags)) {
        base = name.substr(0, sp);
    }
    std::string key = Squash(base);
    // Also accept names glued to their style ("CourierBd", "Arial-BoldItalic").
    auto lower = [](std::string s) {
        for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::string lname = lower(name);
    if (lname.find("bold") != std::string::npos) flags.bold = true;
    if (lname.find("italic") != std::string::npos || lname.find("oblique") != std::string::npos)
        flags.italic = true;
    const NameEntry* best = nullptr;
    size_t bestLen = 0;
    for (const NameEntry& e : kNames) {
        size_t n = std::char_traits<char>::length(e.name);
        if (key.compare(0, n, e.name) == 0 && n > bestLen) {
            best = &e;
            bestLen = n;
        }
    }
    if (!best) return {&kCourier, (flags.bold ? 1 : 0) + (flags.italic ? 2 : 0), false};
    const Family* fam = best->family;
    if (flags.condensed && (fam == &kSans)) fam = &kSansNarrow;
    bool exact = best->exact && bestLen == key.size();
    return {fam, (flags.bold ? 1 : 0) + (flags.italic ? 2 : 0), exact};
}

std::string FindFile(std::string_view fileName) {
    for (const char* dir : kFontDirs) {
        std::string p = std::string(dir) + std::string(fileName);
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return p;
    }
    return {};
}

} // namespace

std::string FontLibrary::FileForName(std::string_view pclName) {
    Resolved r = ResolveName(pclName);
    return r.family->files[r.variant];
}

FontLibrary::Resident FontLibrary::ByFile(std::string_view fileName) {
    Resident res;
    res.file = std::string(fileName);
    auto it = m_loaded.find(fileName);
    if (it != m_loaded.end()) {
        res.face = it->second;
        return res;
    }
    std::string path = FindFile(fileName);
    std::shared_ptr<FontFace> face;
    if (!path.empty()) face = FontFace::FromFile(path);
    // A missing t1/otf variant: try the other packaging of the same face.
    if (!face) {
        std::string alt(fileName);
        size_t dot = alt.rfind('.');
        if (dot != std::string::npos && alt.substr(dot) == ".otf") {
            alt = alt.substr(0, dot) + ".t1";
            std::string p2 = FindFile(alt);
            if (!p2.empty()) face = FontFace::FromFile(p2);
        }
    }
    m_loaded.emplace(std::string(fileName), face);
    res.face = face;
    return res;
}

FontLibrary::Resident FontLibrary::ByName(std::string_view pclName) {
    Resolved r = ResolveName(pclName);
    Resident res = ByFile(r.family->files[r.variant]);
    res.exact = r.exact;
    res.symbolic = r.family->symbolic;
    if (!res.face) {
        // Whatever is installed beats drawing nothing.
        for (const char* fallback :
             {"LiberationSans-Regular.ttf", "NimbusSans-Regular.otf", "NimbusMonoPS-Regular.otf"}) {
            res = ByFile(fallback);
            if (res.face) break;
        }
        res.exact = false;
    }
    return res;
}

FontLibrary::Resident FontLibrary::ByTypeface(int typeface, bool bold, bool italic) {
    struct T {
        int value;
        const char* name;
    };
    // Family values first, then base values (the low 9 bits) of the same faces.
    static const T kTypefaces[] = {
        {4099, "Courier"},
        {4101, "CG Times"},
        {4148, "Univers"},
        {16602, "Arial"},
        {16901, "TimesNewRmn"},
        {4102, "LetterGothic"},
        {4113, "CG Omega"},
        {4116, "Coronet"},
        {4140, "Clarendon"},
        {4197, "Garamond"},
        {4297, "Marigold"},
        {4362, "Albertus"},
        {4168, "AntiqOlive"},
        {16686, "Symbol"},
        {31402, "Wingdings"},
        {4111, "Palatino"},
        {4119, "NewCenturySchlbk"},
        {4127, "ITCAvantGarde"},
        {0, "Line Printer"},
        {3, "Courier"},
        {4, "Helvetica"},
        {5, "CG Times"},
        {6, "LetterGothic"},
        {52, "Univers"},
        {218, "Arial"},
    };
    const char* name = nullptr;
    for (const T& t : kTypefaces)
        if (t.value == typeface) name = t.name;
    if (!name) {
        int base = typeface & 0x1FF;
        for (const T& t : kTypefaces)
            if ((t.value & 0x1FF) == base && t.value >= 4096) {
                name = t.name;
                break;
            }
    }
    std::string full = name ? name : "Courier";
    std::string style = std::string(bold ? "Bd" : "") + (italic ? "It" : "");
    if (!style.empty()) full += " " + style;
    Resident r = ByName(full);
    if (!name) r.exact = false;
    return r;
}

} // namespace tarvik
