// LZW as TIFF readers expect it (Compression 5), one strip at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Codes are written high bit first, 9 bits wide after each Clear (256). The
// width grows by one bit as soon as code 511, 1023 or 2047 has been given
// out, one code before a wider code could appear: TIFF readers expect that
// early change (GIF's coder waits one code longer). The table is cleared when
// the next free code would be 4094, so no code is wider than 12 bits. Each
// strip starts with Clear and ends with EndOfInformation (257).
class TiffLzwEncoder {
public:
    TiffLzwEncoder();
    ~TiffLzwEncoder();
    TiffLzwEncoder(const TiffLzwEncoder&) = delete;
    TiffLzwEncoder& operator=(const TiffLzwEncoder&) = delete;

    // Starts a strip; whatever the last strip left is dropped. `runByte` is
    // the byte the data mostly repeats (0 after the predictor): its strings
    // are found without hashing, and its runs are coded a string at a time.
    // False when memory ran out (as for Add and End).
    bool Begin(uint8_t runByte = 0);
    // Codes `n` more bytes of the strip.
    bool Add(const uint8_t* bytes, size_t n);
    // Ends the strip; Data()/Size() then hold it.
    bool End();

    const uint8_t* Data() const { return m_out.get(); }
    size_t Size() const { return m_used; }

private:
    bool Reserve(size_t more);
    void NewTable();

    // Strings are found by (prefix code, byte). Slot: prefix code (12) | byte
    // (8) | code (12); the run byte's strings are indexed by prefix code.
    // Codes below 258 are never given out, so 0 is an empty entry. Both fit
    // the first-level cache.
    std::unique_ptr<uint32_t[]> m_slots;
    std::unique_ptr<uint16_t[]> m_runChild;
    // m_runCodes[k]: the code of k run bytes, for k = 1 .. m_longestRun.
    std::unique_ptr<uint16_t[]> m_runCodes;
    uint32_t m_longestRun = 1;
    uint32_t m_runByte = 0;

    std::unique_ptr<uint8_t[]> m_out;
    size_t m_capacity = 0;
    size_t m_used = 0;

    uint64_t m_bits = 0; // pending bits, the last m_bitCount of them valid
    unsigned m_bitCount = 0;
    unsigned m_width = 9;
    uint32_t m_next = 258;  // next free code
    uint32_t m_limit = 512; // m_next at which the width grows (or the table is cleared)
    int32_t m_prefix = -1;  // code of the string matched so far; -1 before the first byte
};
