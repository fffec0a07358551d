#include "Pcl5Parser.h"

namespace tarvik::pcl5 {

namespace {

constexpr uint8_t kEsc = 0x1b;
// Marks an End token that only means "nothing produced, scan on".
constexpr uint8_t kRetry = 0xff;

bool IsParameterised(uint8_t c) {
    return c >= 33 && c <= 47;
}
bool IsGroup(uint8_t c) {
    return c >= 96 && c <= 126;
}
bool IsTerminator(uint8_t c) {
    return c >= 64 && c <= 94;
}
bool IsParameter(uint8_t c) {
    return c >= 96 && c <= 126;
}
bool IsValueStart(uint8_t c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

} // namespace

bool CarriesData(uint8_t x, uint8_t group, uint8_t letter) {
    // Every W-type command is followed by its byte count of data (fonts,
    // characters, patterns, raster rows, CID, symbol sets, IDs, driver and
    // network blocks), as are raster planes and transparent print data.
    if (letter == 'W') return x != '%';
    if (x == '*' && group == 'b' && letter == 'V') return true;
    if (x == '&' && group == 'p' && letter == 'X') return true;
    return false;
}

bool Parser::ParseValue(Value& v) {
    v = Value{};
    size_t p = m_pos;
    bool negative = false;
    if (p < m_size && (m_data[p] == '+' || m_data[p] == '-')) {
        v.sign = true;
        negative = m_data[p] == '-';
        ++p;
    }
    double number = 0.0;
    bool digits = false;
    while (p < m_size && m_data[p] >= '0' && m_data[p] <= '9') {
        if (number < 1e9) number = number * 10 + (m_data[p] - '0');
        digits = true;
        ++p;
    }
    if (p < m_size && m_data[p] == '.') {
        ++p;
        double scale = 0.1;
        while (p < m_size && m_data[p] >= '0' && m_data[p] <= '9') {
            if (scale > 1e-9) number += (m_data[p] - '0') * scale;
            scale /= 10;
            digits = true;
            ++p;
        }
    }
    if (number > 1e9) number = 1e9;
    v.number = negative ? -number : number;
    v.present = digits;
    m_pos = p;
    return p < m_size;
}

Token Parser::ParameterToken(size_t start) {
    Token t;
    t.kind = TokenKind::Command;
    t.offset = start;
    t.x = m_seqX;
    t.group = m_seqGroup;
    if (!ParseValue(t.value)) {
        // Sequence cut off before its letter.
        m_truncated = true;
        m_inSequence = false;
        m_pos = m_size;
        t.kind = TokenKind::End;
        t.truncated = true;
        return t;
    }
    uint8_t c = m_data[m_pos];
    if (IsTerminator(c)) {
        m_inSequence = false;
        t.letter = c;
    } else if (IsParameter(c)) {
        t.letter = static_cast<uint8_t>(c - 32);
    } else {
        // Not a valid sequence: drop what was read and resume at this byte,
        // the way a printer ignores a malformed escape sequence.
        m_inSequence = false;
        t.kind = TokenKind::End;
        t.byte = kRetry;
        return t;
    }
    ++m_pos;

    if (t.x == '%' && t.group == 0) {
        if (t.letter == 'X' && t.value.number == -12345) {
            m_pos = start;
            t.kind = TokenKind::Uel;
            m_inSequence = false;
            return t;
        }
        if (t.letter == 'B') m_hpgl = true;
        if (t.letter == 'A') m_hpgl = false;
    }

    if (CarriesData(t.x, t.group, t.letter)) {
        size_t count = t.value.number > 0 ? static_cast<size_t>(t.value.number) : 0;
        size_t avail = m_size - m_pos;
        if (count > avail) {
            count = avail;
            t.truncated = true;
            m_truncated = true;
        }
        t.data = std::span<const uint8_t>(m_data + m_pos, count);
        m_pos += count;
    }
    return t;
}

Token Parser::ParseEscape(size_t start) {
    // m_pos is just after ESC.
    if (m_pos >= m_size) {
        m_truncated = true;
        Token t;
        t.offset = start;
        t.truncated = true;
        return t;
    }
    uint8_t c = m_data[m_pos];
    if (IsParameterised(c)) {
        ++m_pos;
        m_seqX = c;
        m_seqGroup = 0;
        if (m_pos < m_size && IsGroup(m_data[m_pos]) && !IsValueStart(m_data[m_pos])) {
            m_seqGroup = m_data[m_pos++];
        }
        m_inSequence = true;
        return ParameterToken(start);
    }
    if (c >= 48 && c <= 126) {
        ++m_pos;
        Token t;
        t.kind = TokenKind::Escape;
        t.byte = c;
        t.offset = start;
        if (c == 'E') m_hpgl = false; // reset ends HP-GL/2 mode as well
        return t;
    }
    // ESC followed by a control or another ESC: the lone ESC is ignored.
    Token t;
    t.byte = kRetry;
    return t;
}

Token Parser::Next() {
    // Malformed sequences are dropped and scanning resumes; loop rather than
    // recurse so that a long run of them cannot exhaust the stack.
    for (;;) {
        Token t = NextOnce();
        if (t.kind == TokenKind::End && t.byte == kRetry && m_pos < m_size) continue;
        if (t.kind == TokenKind::End) t.byte = 0;
        return t;
    }
}

Token Parser::NextOnce() {
    if (m_inSequence) return ParameterToken(m_pos);
    Token t;
    t.offset = m_pos;
    if (m_pos >= m_size) return t;

    if (m_hpgl) {
        size_t start = m_pos;
        while (m_pos < m_size && m_data[m_pos] != kEsc) ++m_pos;
        if (m_pos > start) {
            t.kind = TokenKind::HpglData;
            t.data = std::span<const uint8_t>(m_data + start, m_pos - start);
            return t;
        }
    }

    uint8_t c = m_data[m_pos];
    if (c == kEsc) {
        size_t start = m_pos++;
        return ParseEscape(start);
    }
    ++m_pos;
    t.byte = c;
    switch (c) {
    case 0x08:
    case 0x09:
    case 0x0a:
    case 0x0c:
    case 0x0d:
    case 0x0e:
    case 0x0f:
        t.kind = TokenKind::Control;
        break;
    default:
        t.kind = TokenKind::Text;
        break;
    }
    return t;
}

} // namespace tarvik::pcl5
