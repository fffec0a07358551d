"""Glyph names to Unicode, shared by the font table generators.

groff names come from groff_char(7) (installed with groff); PostScript names
from the Adobe Glyph List that fontTools carries (ZapfDingbats' "a" names are
not in it: read that face by code).
"""
import gzip
import re
import unicodedata
from functools import lru_cache

GROFF_CHAR_MAN = "/usr/share/man/man7/groff_char.7.gz"


def _from_u_name(name):
    # u0041_0306: a base character and combining marks; compose them.
    parts = name[1:].split("_")
    try:
        s = "".join(chr(int(p, 16)) for p in parts)
    except ValueError:
        return None
    s = unicodedata.normalize("NFC", s)
    return ord(s) if len(s) == 1 else None


@lru_cache(None)
def _groff_table():
    table = {}
    with gzip.open(GROFF_CHAR_MAN, "rt", encoding="utf-8", errors="replace") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) < 4:
                continue
            uni = None
            for c in cols:
                # "u030C (u02C7)": a combining accent and its spacing form; a
                # printer's accent glyph is the spacing one.
                m = re.fullmatch(r"u[0-9A-F]{4,6} \((u[0-9A-F]{4,6})\)", c)
                if m:
                    uni = m.group(1)
                    break
                if re.fullmatch(r"u[0-9A-F]{4,6}(_[0-9A-F]{4,6})*", c):
                    uni = c
                    break
            if not uni:
                continue
            m = re.fullmatch(r"\\\[(.+)\]", cols[0])
            if m:
                name = m.group(1)
            elif cols[0] == "\\-":
                name = "\\-"
            else:
                continue
            cp = _from_u_name(uni)
            if cp is not None:
                table.setdefault(name, cp)
    return table


def groff_to_unicode(name):
    """A groff glyph name as used in font description files, or None."""
    if name == "---":
        return None
    if re.fullmatch(r"u[0-9A-F]{4,6}(_[0-9A-F]{4,6})*", name):
        return _from_u_name(name)
    if len(name) == 1:
        # groff's typographic reading of the two quote characters.
        return {"'": 0x2019, "`": 0x2018}.get(name, ord(name))
    m = re.fullmatch(r"char(\d+)", name)
    if m:
        return _groff_table().get(name, int(m.group(1)))
    return _groff_table().get(name)


def ps_to_unicode(name):
    """A PostScript glyph name, or None."""
    from fontTools import agl

    s = agl.toUnicode(name)
    return ord(s) if len(s) == 1 else None
