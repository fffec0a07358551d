// Byte-level reading of a PCL XL binary stream: data type tags, attribute
// values, attribute ids and embedded data blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik::pclxl {

// A stream number as an int for switches and counts: real32 and uint32 values
// may lie outside int's range (converting those is undefined), and NaN is 0.
inline int SafeInt(double v) {
    if (!(v >= -2147483648.0)) return v != v ? 0 : -2147483647 - 1;
    if (v > 2147483647.0) return 2147483647;
    return int(v);
}

// Tag byte ranges of the binary binding.
enum Tag : uint8_t {
    kTagUByte = 0xC0,
    kTagUInt16 = 0xC1,
    kTagUInt32 = 0xC2,
    kTagSInt16 = 0xC3,
    kTagSInt32 = 0xC4,
    kTagReal32 = 0xC5,
    kTagUByteArray = 0xC8,
    kTagUInt16Array = 0xC9,
    kTagUInt32Array = 0xCA,
    kTagSInt16Array = 0xCB,
    kTagSInt32Array = 0xCC,
    kTagReal32Array = 0xCD,
    kTagUByteXy = 0xD0,
    kTagUInt16Xy = 0xD1,
    kTagUInt32Xy = 0xD2,
    kTagSInt16Xy = 0xD3,
    kTagSInt32Xy = 0xD4,
    kTagReal32Xy = 0xD5,
    kTagUByteBox = 0xE0,
    kTagUInt16Box = 0xE1,
    kTagUInt32Box = 0xE2,
    kTagSInt16Box = 0xE3,
    kTagSInt32Box = 0xE4,
    kTagReal32Box = 0xE5,
    kTagAttrUByte = 0xF8,
    kTagAttrUInt16 = 0xF9,
    kTagDataLength = 0xFA,
    kTagDataLengthByte = 0xFB,
};

// Element type of a value, the low three bits of its tag.
enum class Elem : uint8_t { UByte = 0, UInt16 = 1, UInt32 = 2, SInt16 = 3, SInt32 = 4, Real32 = 5 };

enum class Shape : uint8_t { Scalar, Xy, Box, Array };

inline bool IsWhiteSpace(uint8_t b) {
    return b == 0x00 || (b >= 0x09 && b <= 0x0D) || b == 0x20;
}
inline bool IsOperatorTag(uint8_t b) {
    return b >= 0x41 && b <= 0xBF;
}
inline bool IsDataTypeTag(uint8_t b) {
    return b >= 0xC0 && b <= 0xEF;
}

size_t ElemSize(Elem e);
const char* ElemName(Elem e);

// Decodes one number of type `e` from `p` in the given byte order.
double DecodeNumber(const uint8_t* p, Elem e, bool bigEndian);
uint16_t Get16(const uint8_t* p, bool bigEndian);
uint32_t Get32(const uint8_t* p, bool bigEndian);

// One attribute value. Scalars, xy pairs and boxes are decoded at once;
// arrays stay a view into the stream bytes, which outlive the operator that
// consumes them.
struct Value {
    Elem elem = Elem::UByte;
    Shape shape = Shape::Scalar;
    bool bigEndian = false;
    double v[4] = {0, 0, 0, 0};
    const uint8_t* data = nullptr; // arrays only
    uint32_t count = 0;            // arrays: elements; scalar 1, xy 2, box 4

    bool IsArray() const { return shape == Shape::Array; }
    bool IsReal() const { return elem == Elem::Real32; }
    double Num(size_t i) const;
    double X() const { return Num(0); }
    double Y() const { return Num(1); }
    // ubyte / uint16 arrays as a byte string (uint16 elements are cut to 8 bits).
    std::string Text() const;
};

// Bounded reader over one stream's bytes. Every read checks the remaining
// length; a short read sets the truncated flag and returns false.
class Reader {
public:
    Reader(const uint8_t* data, size_t size, bool bigEndian)
        : m_data(data), m_size(size), m_bigEndian(bigEndian) {}

    size_t Pos() const { return m_pos; }
    size_t Size() const { return m_size; }
    size_t Remaining() const { return m_size - m_pos; }
    bool AtEnd() const { return m_pos >= m_size; }
    bool BigEndian() const { return m_bigEndian; }
    void SetBigEndian(bool b) { m_bigEndian = b; }
    const uint8_t* Here() const { return m_data + m_pos; }
    const uint8_t* Data() const { return m_data; }
    uint8_t Peek() const { return m_data[m_pos]; }
    void Skip(size_t n) { m_pos = n > Remaining() ? m_size : m_pos + n; }
    void Seek(size_t pos) { m_pos = pos > m_size ? m_size : pos; }

    bool U8(uint8_t& out);
    bool U16(uint16_t& out);
    bool U32(uint32_t& out);

    // Reads the value that follows a data type tag (the tag already read).
    // Returns false on an unknown tag, a bad array length type or short data.
    bool ReadValue(uint8_t tag, Value& out, std::string& error);

    // Reads an embedded data block: 0xFA + uint32 length or 0xFB + ubyte
    // length, then the bytes. Leading white space is skipped.
    bool ReadEmbedded(const uint8_t*& data, uint32_t& length, std::string& error);

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_bigEndian;
};

// The stream header line that opens every PCL XL stream.
struct StreamHeader {
    enum class Binding { LowByteFirst, HighByteFirst, Ascii };
    Binding binding = Binding::LowByteFirst;
    int protocolClass = 0;
    int revision = 0;
    size_t length = 0; // bytes of the line including its LF
};

enum class HeaderResult { Ok, NotHeader, Unsupported, Truncated };

// Parses a stream header at `data`. NotHeader when the bytes are no header at
// all; Unsupported for the ASCII binding or an unknown class name; Truncated
// when no LF arrives within the limit.
HeaderResult ParseStreamHeader(const uint8_t* data, size_t size, StreamHeader& out,
                               std::string& error);

} // namespace tarvik::pclxl
