#!/usr/bin/python3
"""Generates renderer/fonts/ResidentFontTables.inc: the printer's resident
fonts with their advance widths, and the installed face that stands in for
each, and prints a report of how far each stand-in's natural widths differ.

Widths are public metric facts: groff's LaserJet 4 font descriptions
(devlj4, the printer's scalable set with its PCL typeface numbers) and its
PostScript ones (devps, the 35 PostScript faces). Stand-ins are chosen among
installed faces of the same kind, URW base 35 first, then Liberation, then
DejaVu, by how closely their widths match.

Usage: scripts/fonts/gen-resident-fonts.py [--report FILE] > renderer/fonts/ResidentFontTables.inc
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import glyphnames  # noqa: E402

LJ4 = "/usr/share/groff/current/font/devlj4"
PS = "/usr/share/groff/current/font/devps"
LJ4_EM = 6350 / 4 / 72 * 1200  # device units per em at groff's unit size
DIRS = ["/usr/share/fonts/opentype/urw-base35", "/usr/share/fonts/truetype/liberation2",
        "/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/dejavu"]

# The codes groff's comments give, read through the set they name, are the
# most reliable way to the character (groff's own names have a few slips).
ANNOTATION_CODECS = {"19U": "cp1252", "9E": "cp1250", "5T": "cp1254"}

ROMAN8 = 277
SYMBOL_19M = 19 * 32 + 13
WINGDINGS_579L = 579 * 32 + 12
PS_MATH_5M = 5 * 32 + 13
DINGBATS_14L = 14 * 32 + 12

VARIANTS = {  # (weight > 0, italic) -> index into a family's files
    (False, False): 0, (True, False): 1, (False, True): 2, (True, True): 3}

FAMILIES = {
    "NimbusMonoPS": ["NimbusMonoPS-Regular.otf", "NimbusMonoPS-Bold.otf", "NimbusMonoPS-Italic.otf",
                     "NimbusMonoPS-BoldItalic.otf"],
    "NimbusRoman": ["NimbusRoman-Regular.otf", "NimbusRoman-Bold.otf", "NimbusRoman-Italic.otf",
                    "NimbusRoman-BoldItalic.otf"],
    "NimbusSans": ["NimbusSans-Regular.otf", "NimbusSans-Bold.otf", "NimbusSans-Italic.otf",
                   "NimbusSans-BoldItalic.otf"],
    "NimbusSansNarrow": ["NimbusSansNarrow-Regular.otf", "NimbusSansNarrow-Bold.otf",
                         "NimbusSansNarrow-Oblique.otf", "NimbusSansNarrow-BoldOblique.otf"],
    "P052": ["P052-Roman.otf", "P052-Bold.otf", "P052-Italic.otf", "P052-BoldItalic.otf"],
    "C059": ["C059-Roman.otf", "C059-Bold.otf", "C059-Italic.otf", "C059-BdIta.otf"],
    "URWBookman": ["URWBookman-Light.otf", "URWBookman-Demi.otf", "URWBookman-LightItalic.otf",
                   "URWBookman-DemiItalic.otf"],
    "URWGothic": ["URWGothic-Book.otf", "URWGothic-Demi.otf", "URWGothic-BookOblique.otf",
                  "URWGothic-DemiOblique.otf"],
    "Z003": ["Z003-MediumItalic.otf"] * 4,
    "StandardSymbolsPS": ["StandardSymbolsPS.otf"] * 4,
    "D050000L": ["D050000L.otf"] * 4,
    "LiberationMono": ["LiberationMono-Regular.ttf", "LiberationMono-Bold.ttf",
                       "LiberationMono-Italic.ttf", "LiberationMono-BoldItalic.ttf"],
    "LiberationSerif": ["LiberationSerif-Regular.ttf", "LiberationSerif-Bold.ttf",
                        "LiberationSerif-Italic.ttf", "LiberationSerif-BoldItalic.ttf"],
    "LiberationSans": ["LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf",
                       "LiberationSans-Italic.ttf", "LiberationSans-BoldItalic.ttf"],
    "DejaVuSansMono": ["DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf",
                       "DejaVuSansMono-Oblique.ttf", "DejaVuSansMono-BoldOblique.ttf"],
    "DejaVuSerif": ["DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf", "DejaVuSerif-Italic.ttf",
                    "DejaVuSerif-BoldItalic.ttf"],
    "DejaVuSerifCondensed": ["DejaVuSerifCondensed.ttf", "DejaVuSerifCondensed-Bold.ttf",
                             "DejaVuSerifCondensed-Italic.ttf",
                             "DejaVuSerifCondensed-BoldItalic.ttf"],
    "DejaVuSans": ["DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf",
                   "DejaVuSans-BoldOblique.ttf"],
    "DejaVuSansCondensed": ["DejaVuSansCondensed.ttf", "DejaVuSansCondensed-Bold.ttf",
                            "DejaVuSansCondensed-Oblique.ttf",
                            "DejaVuSansCondensed-BoldOblique.ttf"],
}

# Candidate stand-ins by kind of design, in order of preference.
KINDS = {
    "mono": ["NimbusMonoPS", "LiberationMono", "DejaVuSansMono"],
    "serif": ["NimbusRoman", "P052", "C059", "URWBookman", "LiberationSerif", "DejaVuSerif"],
    "serif-narrow": ["NimbusRoman", "C059", "LiberationSerif", "DejaVuSerifCondensed"],
    "sans": ["NimbusSans", "URWGothic", "LiberationSans", "DejaVuSans"],
    "sans-narrow": ["NimbusSansNarrow", "DejaVuSansCondensed"],
    "script": ["Z003"],
    "symbol": ["StandardSymbolsPS"],
    "dingbats": ["DejaVuSans"],
}

# Faces that are drawn through their own code layout, not a Unicode map.
CODED_FACES = {"StandardSymbolsPS.otf": PS_MATH_5M, "D050000L.otf": DINGBATS_14L}

# groff file, printer name, kind, preferred family (a design twin) or None.
LJ4_FONTS = [
    ("CR", "Courier", "mono", None), ("CB", "Courier Bd", "mono", None),
    ("CI", "Courier It", "mono", None), ("CBI", "Courier BdIt", "mono", None),
    ("TR", "CG Times", "serif", None), ("TB", "CG Times Bd", "serif", None),
    ("TI", "CG Times It", "serif", None), ("TBI", "CG Times BdIt", "serif", None),
    ("OR", "CG Omega", "sans", None), ("OB", "CG Omega Bd", "sans", None),
    ("OI", "CG Omega It", "sans", None), ("OBI", "CG Omega BdIt", "sans", None),
    ("CORONET", "Coronet", "script", None),
    ("CLARENDON", "Clarendon Cd", "serif-narrow", None),
    ("UR", "Univers Md", "sans", None), ("UB", "Univers Bd", "sans", None),
    ("UI", "Univers MdIt", "sans", None), ("UBI", "Univers BdIt", "sans", None),
    ("UCR", "Univers MdCd", "sans-narrow", None), ("UCB", "Univers BdCd", "sans-narrow", None),
    ("UCI", "Univers MdCdIt", "sans-narrow", None),
    ("UCBI", "Univers BdCdIt", "sans-narrow", None),
    ("AOR", "Antique Olive", "sans", None), ("AOB", "Antique Olive Bd", "sans", None),
    ("AOI", "Antique Olive It", "sans", None),
    ("GR", "Garamond Antiqua", "serif", None), ("GB", "Garamond Hlb", "serif", None),
    ("GI", "Garamond Krsv", "serif", None), ("GBI", "Garamond KrsvHlb", "serif", None),
    ("MARIGOLD", "Marigold", "script", None),
    ("ALBR", "Albertus Md", "sans", None), ("ALBB", "Albertus Xb", "sans", None),
    ("AR", "Arial", "sans", "LiberationSans"), ("AB", "Arial Bd", "sans", "LiberationSans"),
    ("AI", "Arial It", "sans", "LiberationSans"),
    ("ABI", "Arial BdIt", "sans", "LiberationSans"),
    ("TNRR", "Times New", "serif", "LiberationSerif"),
    ("TNRB", "Times New Bd", "serif", "LiberationSerif"),
    ("TNRI", "Times New It", "serif", "LiberationSerif"),
    ("TNRBI", "Times New BdIt", "serif", "LiberationSerif"),
    ("LGR", "Letter Gothic", "mono", None), ("LGB", "Letter Gothic Bd", "mono", None),
    ("LGI", "Letter Gothic It", "mono", None),
    ("SYMBOL", "Symbol", "symbol", None),
    ("WINGDINGS", "Wingdings", "dingbats", None),
]

# The PostScript faces: groff file, name, PCL typeface, weight, style,
# symbol set, design twin. Typeface, weight and style are those the twin
# faces declare in their own PCLT tables (fonts-urw-base35 20200910; read and
# compared by check_pclt on every run). HP's text pages agree where they
# reach: base values 3 Courier, 4 Helvetica, 5 Times Roman (HP's font header
# description for its DeskJet 600/85x printers, 11.2.19 "Typeface") and family
# 4127 / base 31 ITC Avant Garde (PCL 5 Comparison Guide p. 3-14, "Typeface
# Values"). The Guide's full lists (Tables C-2 and C-3) are not published as
# text, so the other base values (15, 47, 127, 43, 302, 45) rest on the
# PCLT tables alone.
PS_FONTS = [
    ("CR", "Courier PS", 24579, 0, 0, ROMAN8, "NimbusMonoPS"),
    ("CB", "Courier PS Bd", 24579, 3, 0, ROMAN8, "NimbusMonoPS"),
    ("CI", "Courier PS Ob", 24579, 0, 1, ROMAN8, "NimbusMonoPS"),
    ("CBI", "Courier PS BdOb", 24579, 3, 1, ROMAN8, "NimbusMonoPS"),
    ("HR", "Helvetica", 24580, 0, 0, ROMAN8, "NimbusSans"),
    ("HB", "Helvetica Bd", 24580, 3, 0, ROMAN8, "NimbusSans"),
    ("HI", "Helvetica Ob", 24580, 0, 1, ROMAN8, "NimbusSans"),
    ("HBI", "Helvetica BdOb", 24580, 3, 1, ROMAN8, "NimbusSans"),
    ("HNR", "Helvetica Nr", 24580, 0, 4, ROMAN8, "NimbusSansNarrow"),
    ("HNB", "Helvetica NrBd", 24580, 3, 4, ROMAN8, "NimbusSansNarrow"),
    ("HNI", "Helvetica NrOb", 24580, 0, 5, ROMAN8, "NimbusSansNarrow"),
    ("HNBI", "Helvetica NrBdOb", 24580, 3, 5, ROMAN8, "NimbusSansNarrow"),
    ("TR", "Times Roman", 25093, 0, 0, ROMAN8, "NimbusRoman"),
    ("TB", "Times Bd", 25093, 3, 0, ROMAN8, "NimbusRoman"),
    ("TI", "Times It", 25093, 0, 1, ROMAN8, "NimbusRoman"),
    ("TBI", "Times BdIt", 25093, 3, 1, ROMAN8, "NimbusRoman"),
    ("PR", "Palatino Roman", 24591, 0, 0, ROMAN8, "P052"),
    ("PB", "Palatino Bd", 24591, 3, 0, ROMAN8, "P052"),
    ("PI", "Palatino It", 24591, 0, 1, ROMAN8, "P052"),
    ("PBI", "Palatino BdIt", 24591, 3, 1, ROMAN8, "P052"),
    ("AR", "ITC Avant Garde Bk", 24607, 0, 0, ROMAN8, "URWGothic"),
    ("AB", "ITC Avant Garde Db", 24607, 2, 0, ROMAN8, "URWGothic"),
    ("AI", "ITC Avant Garde BkOb", 24607, 0, 1, ROMAN8, "URWGothic"),
    ("ABI", "ITC Avant Garde DbOb", 24607, 2, 1, ROMAN8, "URWGothic"),
    ("BMR", "ITC Bookman Lt", 24623, -3, 0, ROMAN8, "URWBookman"),
    ("BMB", "ITC Bookman Db", 24623, 2, 0, ROMAN8, "URWBookman"),
    ("BMI", "ITC Bookman LtIt", 24623, -3, 1, ROMAN8, "URWBookman"),
    ("BMBI", "ITC Bookman DbIt", 24623, 2, 1, ROMAN8, "URWBookman"),
    ("NR", "New Century Schoolbook Rmn", 24703, 0, 0, ROMAN8, "C059"),
    ("NB", "New Century Schoolbook Bd", 24703, 3, 0, ROMAN8, "C059"),
    ("NI", "New Century Schoolbook It", 24703, 0, 1, ROMAN8, "C059"),
    ("NBI", "New Century Schoolbook BdIt", 24703, 3, 1, ROMAN8, "C059"),
    ("ZCMI", "ITC Zapf Chancery MdIt", 45099, 0, 1, ROMAN8, "Z003"),
    ("S", "Symbol PS", 45358, 0, 0, PS_MATH_5M, "StandardSymbolsPS"),
    ("ZD", "ITC Zapf Dingbats", 45101, 0, 0, DINGBATS_14L, "D050000L"),
]


# The printer's Line Printer face is an even-stroked sans, not Courier's
# hairline serifs: a monospaced sans condensed to its pitch looks closer.
LP_FACE = "LiberationMono"


def read_groff(path, lj4, by_code=None):
    """Unicode -> advance in ems, plus the header values. by_code: a code ->
    Unicode table for a face whose glyph names say nothing (Zapf Dingbats)."""
    header, widths, names = {}, {}, {}
    in_charset = False
    last = None
    for line in open(path, encoding="latin-1"):
        line = line.rstrip("\n")
        if not in_charset:
            if line == "charset":
                in_charset = True
                continue
            parts = line.split()
            if len(parts) == 2:
                header[parts[0]] = parts[1]
            continue
        cols = line.split("\t")
        if len(cols) < 2:
            continue
        name = cols[0]
        if cols[1] == '"':
            if last is not None:
                cp = glyphnames.groff_to_unicode(name)
                if cp is not None:
                    names.setdefault(cp, last)
            continue
        w = int(cols[1].split(",")[0])
        em = w / LJ4_EM if lj4 else w / 1000.0
        last = em
        cp = None
        m = re.search(r"\(\s*(\d+[A-Z])\s+(\d+)\)\s*$", line)
        if lj4 and m and m.group(1) in ANNOTATION_CODECS and int(m.group(2)) >= 32:
            s = bytes([int(m.group(2))]).decode(ANNOTATION_CODECS[m.group(1)], errors="ignore")
            cp = ord(s) if len(s) == 1 else None
        if by_code is not None:
            # The LaserJet descriptions give the code in their comment.
            code = int(m.group(2)) if lj4 and m else int(cols[3])
            cp = by_code.get(code)
        elif not lj4 and len(cols) >= 5:
            cp = glyphnames.ps_to_unicode(cols[4])
        byname = glyphnames.groff_to_unicode(name)
        if cp is None:
            cp = byname
        if cp is not None:
            widths.setdefault(cp, em)
        if byname is not None and byname != cp:
            names.setdefault(byname, em)
    for cp, em in names.items():
        widths.setdefault(cp, em)
    space = int(header.get("spacewidth", "0"))
    if space:
        em = space / LJ4_EM if lj4 else space / 1000.0
        widths.setdefault(0x20, em)
        widths.setdefault(0xA0, em)
    return header, widths


def symbol_table(value):
    """code -> Unicode of a generated symbol set (for the coded faces)."""
    here = os.path.dirname(os.path.abspath(__file__))
    inc = os.path.join(here, "../../renderer/fonts/SymbolSetTables.inc")
    sid = {PS_MATH_5M: "5M", DINGBATS_14L: "14L", WINGDINGS_579L: "579L"}[value]
    text = open(inc).read()
    m = re.search(r"kMap%s\[256\] = \{(.*?)\};" % sid, text, re.S)
    codes = [int(x, 16) for x in re.findall(r"0x[0-9A-F]+", m.group(1))]
    return {u: c for c, u in enumerate(codes) if u != 0xFFFF}


class Face:
    cache = {}

    def __init__(self, file):
        from fontTools.ttLib import TTFont

        self.file = file
        self.path = next((os.path.join(d, file) for d in DIRS
                          if os.path.exists(os.path.join(d, file))), None)
        self.advance = {}
        if not self.path:
            return
        f = TTFont(self.path)
        upem = f["head"].unitsPerEm
        hmtx = f["hmtx"]
        cmap = f.getBestCmap()
        if file in CODED_FACES:
            rev = symbol_table(CODED_FACES[file])
            cmap = {u: cmap[c] for u, c in rev.items() if c in cmap}
        for cp, g in cmap.items():
            self.advance[cp] = hmtx[g][0] / upem

    @classmethod
    def get(cls, file):
        if file not in cls.cache:
            cls.cache[file] = Face(file)
        return cls.cache[file]


def compare(widths, face):
    diffs = [abs(face.advance[u] - w) / w for u, w in widths.items()
             if w > 0 and u in face.advance and u != 0xA0]
    covered = len(diffs) / max(1, len([w for w in widths.values() if w > 0]))
    if not diffs:
        return None
    close = sum(1 for d in diffs if d <= 0.01) / len(diffs)
    return sum(diffs) / len(diffs), max(diffs), covered, close


def variant_of(f):
    # Semi-bold (1) still reads as the regular design; demi (2) and up as bold.
    return VARIANTS[(f["weight"] >= 2, bool(f["style"] & 3))]


def choose_family(group):
    """One stand-in family for all fonts of a typeface (so its weights and
    postures share a design): the earliest candidate (URW, then Liberation,
    then DejaVu) unless a later one is clearly closer in width."""
    f0 = group[0]
    families = [f0["twin"]] if f0["twin"] else KINDS[f0["kind"]]
    ranked = []
    for order, fam in enumerate(families):
        scores = []
        for f in group:
            face = Face.get(FAMILIES[fam][variant_of(f)])
            r = compare(f["widths"], face) if face.path else None
            scores.append(r[0] if r else 9.0)
        ranked.append((sum(scores) / len(scores), order, fam))
    best = min(ranked)[0]
    pick = min(ranked, key=lambda x: (x[0] > best + 0.01, x[1]))[2]
    fallback = next((fam for fam in KINDS[f0["kind"]] if fam != pick), None)
    return pick, fallback


def check_pclt():
    """Warns where a PostScript face's typeface, weight or style differs
    from the PCLT table of the installed twin face for that variant."""
    import struct
    from fontTools.ttLib import TTFont

    for _, name, typeface, weight, style, _, twin in PS_FONTS:
        file = FAMILIES[twin][variant_of(dict(weight=weight, style=style))]
        path = next((os.path.join(d, file) for d in DIRS if os.path.exists(os.path.join(d, file))),
                    None)
        if not path:
            print(f"warning: {file} not installed: {name} unchecked", file=sys.stderr)
            continue
        data = TTFont(path).reader["PCLT"]
        pclt_style, family = struct.unpack(">HH", data[12:16])
        pclt_weight = struct.unpack(">b", data[50:51])[0]
        if (family, pclt_style, pclt_weight) != (typeface, style, weight):
            print(f"warning: {name}: table {typeface}/{style}/{weight}, {file} PCLT "
                  f"{family}/{pclt_style}/{pclt_weight}", file=sys.stderr)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--report")
    args = ap.parse_args()
    check_pclt()
    fonts = []  # dicts
    for file, name, kind, twin in LJ4_FONTS:
        # Wingdings leaves many pictures unnamed: take them by code, as the
        # symbol set lays them out.
        by_code = None
        if file == "WINGDINGS":
            by_code = {c: u for u, c in symbol_table(WINGDINGS_579L).items()}
        header, widths = read_groff(os.path.join(LJ4, file), True, by_code)
        typeface = int(header["pcltypeface"])
        weight, style = int(header["pclweight"]), int(header["pclstyle"])
        prop = header["pclproportional"] == "1"
        symset = {"SYMBOL": SYMBOL_19M, "WINGDINGS": WINGDINGS_579L}.get(file, ROMAN8)
        pitch = 0.0
        if not prop:
            em = widths[0x20]
            pitch = round(72 / (em * 12), 2)
            widths = {u: 72 / pitch / 12 for u in widths}
        fonts.append(dict(name=name, typeface=typeface, weight=weight, style=style, prop=prop,
                          scalable=True, pitch=pitch, height=0.0, symset=symset, kind=kind,
                          twin=twin, widths=widths, src="devlj4/" + file))
    # The Line Printer bitmap font: 16.67 pitch at 8.5 point over the Courier
    # character set.
    lp = dict(fonts[0])
    lp.update(name="Line Printer", typeface=0, weight=0, style=0, scalable=False, pitch=16.67,
              height=8.5, src="fixed pitch", twin=LP_FACE)
    lp["widths"] = {u: 72 / 16.67 / 8.5 for u in fonts[0]["widths"]}
    fonts.append(lp)
    for file, name, typeface, weight, style, symset, twin in PS_FONTS:
        by_code = None
        if file == "ZD":
            by_code = {c: u for u, c in symbol_table(DINGBATS_14L).items()}
        header, widths = read_groff(os.path.join(PS, file), False, by_code)
        prop = file not in ("CR", "CB", "CI", "CBI")
        pitch = 0.0 if prop else 10.0
        kind = "symbol" if file == "S" else "dingbats" if file == "ZD" else "serif"
        fonts.append(dict(name=name, typeface=typeface, weight=weight, style=style, prop=prop,
                          scalable=True, pitch=pitch, height=0.0, symset=symset, kind=kind,
                          twin=twin, widths=widths, src="devps/" + file))

    out = ["// Generated by scripts/fonts/gen-resident-fonts.py; do not edit.", ""]
    report = ["| # | font | typeface | widths from | stand-in | mean diff | max diff | within 1 % | coverage | twin |",
              "|---|---|---|---|---|---|---|---|---|---|"]
    entries = []
    groups = {}
    for f in fonts:
        groups.setdefault((f["typeface"], f["style"] & 4, f["kind"]), []).append(f)
    for group in groups.values():
        fam, fallback = choose_family(group)
        for f in group:
            f["face"] = FAMILIES[fam][variant_of(f)]
            f["fallback"] = FAMILIES[fallback][variant_of(f)] if fallback else None
    for i, f in enumerate(fonts):
        face, fallback = f["face"], f["fallback"]
        if fallback == face:
            fallback = None
        r = compare(f["widths"], Face.get(face))
        items = sorted(f["widths"].items())
        out.append(f"const Advance kAdvances{i}[] = {{ // {f['name']}")
        row = []
        for u, w in items:
            row.append(f"{{0x{u:04X}, {int(round(w * 10000))}}}")
            if len(row) == 6:
                out.append("    " + ", ".join(row) + ",")
                row = []
        if row:
            out.append("    " + ", ".join(row) + ",")
        out.append("};")
        symbolic = f["kind"] in ("symbol", "dingbats")
        q = lambda s: f'"{s}"' if s else "nullptr"  # noqa: E731
        entries.append(
            f'    {{"{f["name"]}", {f["typeface"]}, {f["weight"]}, {f["style"]}, '
            f'{"true" if f["prop"] else "false"}, {"true" if f["scalable"] else "false"}, '
            f'{f["pitch"]}, {f["height"]}, {f["symset"]}, {q(face)}, {q(fallback)}, '
            f'{"true" if symbolic else "false"}, {i}}},')
        if r:
            # A metric twin: nearly every character within 1 % of the printer.
            twin = "yes" if r[3] >= 0.95 else "no"
            report.append(f"| {i} | {f['name']} | {f['typeface']} | {f['src']} | {face} | "
                          f"{r[0] * 100:.1f} % | {r[1] * 100:.1f} % | {r[3] * 100:.0f} % | "
                          f"{r[2] * 100:.0f} % | {twin} |")
        else:
            report.append(f"| {i} | {f['name']} | {f['typeface']} | {f['src']} | none | | | | | |")
    out.append("")
    out.append("const std::span<const Advance> kAdvanceTables[] = {")
    out.append("    " + ", ".join(f"kAdvances{i}" for i in range(len(fonts))) + ",")
    out.append("};")
    out.append("")
    out.append("const ResidentFont kFonts[] = {")
    out.extend(entries)
    out.append("};")
    print("\n".join(out))
    text = "\n".join(report) + "\n"
    if args.report:
        open(args.report, "w").write(text)
    else:
        sys.stderr.write(text)


if __name__ == "__main__":
    main()
