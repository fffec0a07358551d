// Splits a PCL 5 byte stream into control codes, text bytes and escape
// sequences. Parameterised sequences (ESC X y #z ... #Z) come out one parameter
// at a time, combined sequences included; commands that carry binary data get
// their bytes attached so that the stream stays in sync whatever the data holds.
// HP-GL/2 blocks (ESC%#B ... ESC%#A) come out as opaque data runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvik::pcl5 {

// A value field: optional sign, digits, optional fraction. A missing value is 0.
struct Value {
    double number = 0.0; // signed value, magnitude capped at 1e9
    bool present = false;
    bool sign = false; // an explicit + or - was written (relative move)

    int Int() const { return static_cast<int>(number); }
    // Clamped to the range PCL allows for ordinary values.
    int Clamped(int lo = -32767, int hi = 65535) const {
        if (number < lo) return lo;
        if (number > hi) return hi;
        return static_cast<int>(number);
    }
};

enum class TokenKind {
    Text,     // one printable (or unknown control) byte: `byte`
    Control,  // BS HT LF FF CR SO SI: `byte`
    Escape,   // ESC c, two-character sequence: `byte` = c
    Command,  // one parameter of a parameterised sequence
    HpglData, // bytes inside an HP-GL/2 block, up to the next escape
    Uel,      // ESC%-12345X; `offset` is where it starts
    End,      // all input consumed
};

struct Token {
    TokenKind kind = TokenKind::End;
    uint8_t byte = 0;
    // Command: ESC X y ... value letter; `group` is 0 when the sequence has none.
    uint8_t x = 0;
    uint8_t group = 0;
    uint8_t letter = 0; // terminator or parameter letter, always upper case
    Value value;
    std::span<const uint8_t> data; // data bytes of W-type commands, HP-GL/2 runs
    bool truncated = false;        // the data or the sequence ran past the end
    size_t offset = 0;             // where the token starts in the input
};

// True for the commands that are followed by value-field bytes of data.
bool CarriesData(uint8_t x, uint8_t group, uint8_t letter);

class Parser {
public:
    Parser(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // Produces the next token; End once the input is used up. A UEL is
    // reported and not consumed: Next keeps returning it.
    Token Next();

    size_t Position() const { return m_pos; }
    const uint8_t* Bytes() const { return m_data; }
    size_t Size() const { return m_size; }
    bool InHpgl() const { return m_hpgl; }
    // Starts (or leaves) HP-GL/2 mode, e.g. for a job that PJL began in it.
    void SetHpgl(bool on) { m_hpgl = on; }
    // Moves the scan position, e.g. past text that display functions print.
    void Seek(size_t position) {
        m_pos = position < m_size ? position : m_size;
        m_inSequence = false;
    }
    // True once any escape sequence or data block was cut off by the end.
    bool Truncated() const { return m_truncated; }

private:
    Token NextOnce();
    bool ParseValue(Value& v);
    Token ParseEscape(size_t start);
    Token ParameterToken(size_t start);

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_hpgl = false;
    bool m_truncated = false;
    // Inside a combined sequence: its parameterised and group characters.
    bool m_inSequence = false;
    uint8_t m_seqX = 0;
    uint8_t m_seqGroup = 0;
};

} // namespace tarvik::pcl5
