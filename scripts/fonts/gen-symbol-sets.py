#!/usr/bin/python3
"""Generates renderer/fonts/SymbolSetTables.inc: every symbol set's 256 codes
mapped to Unicode.

Sources, all public mapping data:
  - Python's codecs (hp_roman8, cp437, cp850, cp852, cp775, cp857, cp865,
    cp125x, iso8859_*, mac_roman) and glibc iconv (ISO 646 national
    variants, IBM1004);
  - the groff LaserJet 4 font descriptions, whose comments name the code of
    each glyph in one of the printer's sets, e.g. "(7J 217)": these place the
    printer's own characters and check the codec-based sets;
  - groff's PostScript Symbol font description (the Symbol encoding), the
    Adobe Standard encoding and the Zapf Dingbats code layout;
  - IBM's code page 1058 (PC-8 D/N), the published conversion table between
    Ventura International and its PCL form, and Unicode's Wingdings source
    mapping (scripts/fonts/wingdings-unicode.txt).
Sets with no complete public table are built from their nearest relative and
listed as approximations in APPROXIMATE below.

Usage: scripts/fonts/gen-symbol-sets.py > renderer/fonts/SymbolSetTables.inc
"""
import codecs
import glob
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import glyphnames  # noqa: E402

NO = 0xFFFF
LJ4 = "/usr/share/groff/current/font/devlj4"
PS = "/usr/share/groff/current/font/devps"


def value(sid):
    m = re.fullmatch(r"(\d+)([A-Z])", sid)
    return int(m.group(1)) * 32 + ord(m.group(2)) - 64


def from_codec(name, low=32):
    t = [NO] * 256
    for b in range(low, 256):
        try:
            s = bytes([b]).decode(name)
        except UnicodeDecodeError:
            continue
        if len(s) == 1 and (ord(s) >= 0xA0 or 0x20 <= ord(s) < 0x7F):
            t[b] = ord(s)
    return t


def from_iconv(name):
    t = [NO] * 256
    for b in range(32, 256):
        r = subprocess.run(["iconv", "-f", name, "-t", "UTF-32LE"], input=bytes([b]),
                           capture_output=True)
        if r.returncode == 0 and len(r.stdout) == 4:
            cp = int.from_bytes(r.stdout, "little")
            if cp >= 0xA0 or 0x20 <= cp < 0x7F:
                t[b] = cp
    return t


def ascii_table():
    return [b if 0x20 <= b < 0x7F else NO for b in range(256)]


# The IBM PC's pictures for the control codes and DEL, which the PC-8 family
# prints (with transparent print) where other sets print nothing.
PC_LOW = [NO, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
          0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6,
          0x00A7, 0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2,
          0x25BC]


def pc8(name):
    t = from_codec(name)
    t[0:32] = PC_LOW
    t[0x7F] = 0x2302
    return t


# Adobe StandardEncoding above ASCII (PostScript glyph names by code).
STANDARD_HIGH = {
    0xA1: "exclamdown", 0xA2: "cent", 0xA3: "sterling", 0xA4: "fraction", 0xA5: "yen",
    0xA6: "florin", 0xA7: "section", 0xA8: "currency", 0xA9: "quotesingle",
    0xAA: "quotedblleft", 0xAB: "guillemotleft", 0xAC: "guilsinglleft",
    0xAD: "guilsinglright", 0xAE: "fi", 0xAF: "fl", 0xB1: "endash", 0xB2: "dagger",
    0xB3: "daggerdbl", 0xB4: "periodcentered", 0xB6: "paragraph", 0xB7: "bullet",
    0xB8: "quotesinglbase", 0xB9: "quotedblbase", 0xBA: "quotedblright",
    0xBB: "guillemotright", 0xBC: "ellipsis", 0xBD: "perthousand", 0xBF: "questiondown",
    0xC1: "grave", 0xC2: "acute", 0xC3: "circumflex", 0xC4: "tilde", 0xC5: "macron",
    0xC6: "breve", 0xC7: "dotaccent", 0xC8: "dieresis", 0xCA: "ring", 0xCB: "cedilla",
    0xCD: "hungarumlaut", 0xCE: "ogonek", 0xCF: "caron", 0xD0: "emdash", 0xE1: "AE",
    0xE3: "ordfeminine", 0xE8: "Lslash", 0xE9: "Oslash", 0xEA: "OE", 0xEB: "ordmasculine",
    0xF1: "ae", 0xF5: "dotlessi", 0xF8: "lslash", 0xF9: "oslash", 0xFA: "oe",
    0xFB: "germandbls",
}


def ps_standard():
    t = ascii_table()
    t[0x27] = 0x2019
    t[0x60] = 0x2018
    for code, name in STANDARD_HIGH.items():
        t[code] = glyphnames.ps_to_unicode(name)
    return t


def ps_font_encoding(path):
    """Code -> Unicode from a groff PostScript font description that keeps
    the font's built-in encoding (Symbol)."""
    t = [NO] * 256
    in_charset = False
    for line in open(path, encoding="latin-1"):
        line = line.rstrip("\n")
        if line == "charset":
            in_charset = True
            continue
        if not in_charset:
            continue
        cols = line.split("\t")
        if len(cols) < 5 or cols[1] == '"':
            continue
        code = int(cols[3])
        cp = glyphnames.ps_to_unicode(cols[4])
        if 32 < code < 256 and cp is not None and t[code] == NO:
            t[code] = cp
    t[0x20] = 0x20
    return t


def zapf_dingbats():
    # The Unicode Dingbats block follows this face's layout, except where a
    # character already had a code point elsewhere.
    t = [NO] * 256
    t[0x20] = 0x20
    for c in range(0x21, 0x7F):
        t[c] = 0x2700 + c - 0x20
    for c, u in {0x25: 0x260E, 0x2A: 0x261B, 0x2B: 0x261E, 0x48: 0x2605, 0x6C: 0x25CF,
                 0x6E: 0x25A0, 0x73: 0x25B2, 0x74: 0x25BC, 0x75: 0x25C6, 0x77: 0x25D7}.items():
        t[c] = u
    for c in range(0x80, 0x8E):
        t[c] = 0x2768 + c - 0x80
    for c in range(0xA1, 0xFF):
        t[c] = 0x2761 + c - 0xA1 if c < 0xA8 else 0x2776 + c - 0xB6 if c >= 0xB6 else NO
    for c, u in {0xA8: 0x2663, 0xA9: 0x2666, 0xAA: 0x2665, 0xAB: 0x2660}.items():
        t[c] = u
    for c in range(0xAC, 0xB6):
        t[c] = 0x2460 + c - 0xAC
    t[0xD5], t[0xD6], t[0xD7] = 0x2192, 0x2194, 0x2195
    t[0xF0] = NO
    return t


def lj4_annotations():
    """{set id: {code: unicode}} from the groff LaserJet 4 descriptions."""
    facts = {}
    for path in sorted(glob.glob(LJ4 + "/*")):
        if os.path.isdir(path):
            continue
        for line in open(path, encoding="latin-1"):
            m = re.search(r"\(\s*(\d+[A-Z])\s+(\d+)\)\s*$", line)
            if not m:
                continue
            name = line.split("\t")[0]
            cp = glyphnames.groff_to_unicode(name)
            if cp is None:
                hp = re.search(r"U\+([0-9A-F]{4})", line)
                if not hp or "PUA" in line:
                    continue
                cp = int(hp.group(1), 16)
            facts.setdefault(m.group(1), {}).setdefault(int(m.group(2)), cp)
    return facts


def lj4_font_set(fontfile):
    """A symbolic LaserJet 4 font's own set: code -> Unicode where groff names
    the glyph."""
    t = [NO] * 256
    t[0x20] = 0x20
    for line in open(os.path.join(LJ4, fontfile), encoding="latin-1"):
        m = re.search(r"\(\s*\d+[A-Z]\s+(\d+)\)\s*$", line)
        if not m:
            continue
        cp = glyphnames.groff_to_unicode(line.split("\t")[0])
        if cp is not None:
            t[int(m.group(1))] = cp
    return t


def wingdings():
    """The printer's Wingdings set: groff's named glyphs (drawn by the stand-in
    face), the codes groff leaves unnamed from Unicode's own Wingdings source
    mapping."""
    t = lj4_font_set("WINGDINGS")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wingdings-unicode.txt")
    for line in open(path):
        if line.startswith("#") or not line.strip():
            continue
        code, cp = (int(x, 16) for x in line.split())
        if t[code] == NO:
            t[code] = cp
    return t


# IBM's code page 1058 is its table of the printer's PC-8 Danish/Norwegian set:
# code page 437 with these characters changed. (Where IBM only names another
# glyph identity for the same shape, e.g. beta for sharp s at 0xE1, the PC-8
# reading is kept.) DEL prints the house, as in PC-8.
PC8_DN = {0x9B: 0xF8, 0x9D: 0xD8, 0x9E: 0x13F, 0x9F: 0x140, 0xA6: 0xF5, 0xA7: 0xD5, 0xA9: 0xE3,
          0xAA: 0xC3, 0xAB: 0x2113, 0xAC: 0x149, 0xAE: 0xB3, 0xAF: 0xA4}


def ventura_international(roman8):
    """Ventura International (13J) is Roman-8's layout; the published
    conversion from Ventura's own encoding places its extra characters over
    Roman-8's Thorn/thorn/middle dot/micro and leaves six Roman-8 codes
    empty. Codes whose Ventura character no public table names keep
    Roman-8's (listed in APPROXIMATE)."""
    t = with_changes(roman8, {0xF0: 0x152, 0xF1: 0x153, 0xF2: 0xAE, 0xF3: 0xA9})
    for code in (0xAF, 0xE3, 0xE4, 0xF7, 0xF8, 0xFE):
        t[code] = NO
    return t


def overlay(t, facts):
    t = list(t)
    for code, cp in facts.items():
        if 0 <= code < 256:
            t[code] = cp
    return t


def with_changes(t, changes):
    t = list(t)
    for code, cp in changes.items():
        t[code] = cp
    return t


APPROXIMATE = {
    "1U": "HP Legal: ISO 6 ASCII (the legal symbols' positions have no public table at hand)",
    "9T": "PC-8 Turkish: CP857",
    "7J": "Desktop: ASCII only (no public table of its upper half found)",
    "6J": "Microsoft Publishing: ASCII only (no public table of its upper half found)",
    "8M": "Math-8: ASCII only (no public table of its upper half found)",
    "15U": "Pi Font: the codes groff lists for it (incomplete)",
    "13J": "Ventura International: codes 0xA0, 0xA8-0xAC, 0xB0-0xB2, 0xF5, 0xF6, 0xFC, 0xFF keep "
           "Roman-8's characters (no public table names Ventura's there)",
    "14J": "Ventura US: Adobe Standard",
    "6M": "Ventura Math: the Symbol encoding (PS Math)",
}


def build():
    a = lj4_annotations()
    roman8 = from_codec("hp_roman8")
    latin1 = from_codec("latin-1")
    win31 = from_codec("cp1252")
    symbol = lj4_font_set("SYMBOL")
    ps_math = overlay(ps_font_encoding(PS + "/S"), a.get("5M", {}))
    # The glyph list reads some Symbol names as their mathematical twins
    # (Delta as increment, Omega as ohm, mu as micro) and the brace pieces as
    # private codes; the printer's own Symbol set names the same glyphs at the
    # same codes as Greek letters and real characters. Agree with it, so the
    # two sets reach the same glyphs.
    for code in range(256):
        u, v = ps_math[code], symbol[code]
        if v != NO and u != NO and u != v and (0xE000 <= u <= 0xF8FF or u in (0x2206, 0x2126, 0xB5)):
            ps_math[code] = v
    sets = [
        # (id, name, kind, table or None)
        ("0D", "ISO 60: Norwegian 1", "Text", from_iconv("ISO646-NO")),
        ("1D", "ISO 61: Norwegian 2", "Text", from_iconv("ISO646-NO2")),
        ("1E", "ISO 4: United Kingdom", "Text", from_iconv("ISO646-GB")),
        ("0F", "ISO 25: French", "Text", from_iconv("NF_Z_62-010_1973")),
        ("1F", "ISO 69: French", "Text", from_iconv("ISO646-FR")),
        ("1G", "ISO 21: German", "Text", from_iconv("ISO646-DE")),
        ("0I", "ISO 15: Italian", "Text", from_iconv("ISO646-IT")),
        ("0K", "ISO 14: JIS ASCII", "Text", from_iconv("ISO646-JP")),
        ("2K", "ISO 57: Chinese", "Text", from_iconv("ISO646-CN")),
        ("0N", "ISO 8859-1 Latin 1", "Text", latin1),
        ("2N", "ISO 8859-2 Latin 2", "Text", from_codec("iso8859_2")),
        ("5N", "ISO 8859-9 Latin 5", "Text", from_codec("iso8859_9")),
        ("6N", "ISO 8859-10 Latin 6", "Text", from_codec("iso8859_10")),
        ("9N", "ISO 8859-15 Latin 9", "Text", from_codec("iso8859_15")),
        ("10N", "ISO 8859-5 Latin/Cyrillic", "Text", from_codec("iso8859_5")),
        ("12N", "ISO 8859-7 Latin/Greek", "Text", from_codec("iso8859_7")),
        ("0S", "ISO 11: Swedish", "Text", from_iconv("SEN_850200_C")),
        ("2S", "ISO 17: Spanish", "Text", from_iconv("ISO646-ES")),
        ("3S", "ISO 10: Swedish", "Text", from_iconv("SEN_850200_B")),
        ("4S", "ISO 16: Portuguese", "Text", from_iconv("ISO646-PT")),
        ("5S", "ISO 84: Portuguese", "Text", from_iconv("ISO646-PT2")),
        ("6S", "ISO 85: Spanish", "Text", from_iconv("ISO646-ES2")),
        ("0U", "ISO 6: ASCII", "Text", ascii_table()),
        ("1U", "Legal", "Text", ascii_table()),
        # The 1973 reference version: currency sign and overline where ASCII
        # has the dollar and the tilde.
        ("2U", "ISO 2: IRV", "Text", with_changes(ascii_table(), {0x24: 0xA4, 0x7E: 0x203E})),
        ("4U", "Roman-9", "Text", with_changes(roman8, {0xBA: 0x20AC})),
        ("8U", "Roman-8", "Text", roman8),
        # Windows 3.0's code page 1252 was ISO 8859-1 plus the single quotes;
        # the rest of 0x80-0x9F came with Windows 3.1.
        ("9U", "Windows 3.0 Latin 1", "Text", with_changes(latin1, {0x91: 0x2018, 0x92: 0x2019})),
        ("10U", "PC-8", "Text", overlay(pc8("cp437"), a.get("10U", {}))),
        ("11U", "PC-8 D/N", "Text", with_changes(pc8("cp437"), PC8_DN)),
        ("12U", "PC-850", "Text", pc8("cp850")),
        ("17U", "PC-852", "Text", pc8("cp852")),
        ("26U", "PC-775", "Text", pc8("cp775")),
        ("9T", "PC-8 Turkish", "Text", pc8("cp857")),
        ("9J", "PC-1004", "Text", from_iconv("IBM1004")),
        ("19U", "Windows 3.1 Latin 1", "Text", win31),
        ("9E", "Windows 3.1 Latin 2", "Text", from_codec("cp1250")),
        ("5T", "Windows 3.1 Latin 5", "Text", from_codec("cp1254")),
        ("19L", "Windows 3.1 Baltic", "Text", from_codec("cp1257")),
        ("9R", "Windows 3.1 Cyrillic", "Text", from_codec("cp1251")),
        ("9G", "Windows 3.1 Greek", "Text", from_codec("cp1253")),
        ("7J", "Desktop", "Text", overlay(ascii_table(), a.get("7J", {}))),
        ("6J", "Microsoft Publishing", "Text", overlay(ascii_table(), a.get("6J", {}))),
        ("10J", "PS Text", "Text", ps_standard()),
        ("12J", "MC Text", "Text", overlay(from_codec("mac_roman"), a.get("12J", {}))),
        ("13J", "Ventura International", "Text",
         overlay(ventura_international(roman8), a.get("13J", {}))),
        ("14J", "Ventura US", "Text", ps_standard()),
        ("5M", "PS Math", "Symbol", ps_math),
        ("6M", "Ventura Math", "Symbol", ps_math),
        ("8M", "Math-8", "Symbol", overlay(ascii_table(), a.get("8M", {}))),
        ("15U", "Pi Font", "Symbol", overlay([NO] * 32 + [0x20] + [NO] * 223, a.get("15U", {}))),
        ("19M", "Symbol", "Symbol", symbol),
        ("579L", "Wingdings", "Dingbat", wingdings()),
        ("14L", "ITC Zapf Dingbats", "Dingbat", zapf_dingbats()),
        ("18N", "Unicode", "Text", None),
    ]
    # The codec-built sets must agree with what the printer's fonts say.
    for sid, name, kind, t in sets:
        if sid in ("10U", "11U", "19U", "9E", "5T") and t is not None:
            for code, cp in a.get(sid, {}).items():
                if code >= 32 and t[code] != cp:
                    print(f"warning: {sid} code {code}: table U+{t[code]:04X}, printer U+{cp:04X}",
                          file=sys.stderr)
    return sets


def main():
    sets = build()
    sets.sort(key=lambda s: value(s[0]))
    out = ["// Generated by scripts/fonts/gen-symbol-sets.py; do not edit.", ""]
    for sid, name, kind, t in sets:
        if t is None:
            continue
        out.append(f"const char32_t kMap{sid}[256] = {{")
        for row in range(0, 256, 8):
            out.append("    " + ", ".join(f"0x{c:04X}" for c in t[row:row + 8]) + ",")
        out.append("};")
    out.append("")
    out.append("const SymbolSet kSets[] = {")
    for sid, name, kind, t in sets:
        m = f"kMap{sid}" if t is not None else "nullptr"
        out.append(f'    {{{value(sid)}, "{name}", SymbolSet::Kind::{kind}, {m}}}, // {sid}')
    out.append("};")
    out.append("")
    print("\n".join(out))
    for sid, why in APPROXIMATE.items():
        print(f"approximate {sid}: {why}", file=sys.stderr)


if __name__ == "__main__":
    main()
