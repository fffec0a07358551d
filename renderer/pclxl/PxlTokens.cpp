#include "PxlTokens.h"

#include <algorithm>
#include <cstring>

namespace tarvik::pclxl {

size_t ElemSize(Elem e) {
    switch (e) {
    case Elem::UByte:
        return 1;
    case Elem::UInt16:
    case Elem::SInt16:
        return 2;
    default:
        return 4;
    }
}

const char* ElemName(Elem e) {
    static const char* const names[] = {"ubyte", "uint16", "uint32", "sint16", "sint32", "real32"};
    return names[static_cast<int>(e)];
}

uint16_t Get16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t Get32(const uint8_t* p, bool bigEndian) {
    if (bigEndian) return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

double DecodeNumber(const uint8_t* p, Elem e, bool bigEndian) {
    switch (e) {
    case Elem::UByte:
        return p[0];
    case Elem::UInt16:
        return Get16(p, bigEndian);
    case Elem::UInt32:
        return Get32(p, bigEndian);
    case Elem::SInt16:
        return static_cast<int16_t>(Get16(p, bigEndian));
    case Elem::SInt32:
        return static_cast<int32_t>(Get32(p, bigEndian));
    case Elem::Real32: {
        uint32_t bits = Get32(p, bigEndian);
        float f;
        std::memcpy(&f, &bits, 4);
        // NaN and infinities would poison every later transform.
        if (f != f || f > 3.0e38f || f < -3.0e38f) return 0.0;
        return f;
    }
    }
    return 0.0;
}

double Value::Num(size_t i) const {
    if (shape != Shape::Array) return i < 4 ? v[i] : 0.0;
    if (i >= count) return 0.0;
    return DecodeNumber(data + i * ElemSize(elem), elem, bigEndian);
}

std::string Value::Text() const {
    std::string s;
    if (shape != Shape::Array) return s;
    s.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        s.push_back(static_cast<char>(static_cast<uint8_t>(SafeInt(Num(i)))));
    return s;
}

bool Reader::U8(uint8_t& out) {
    if (Remaining() < 1) return false;
    out = m_data[m_pos++];
    return true;
}

bool Reader::U16(uint16_t& out) {
    if (Remaining() < 2) return false;
    out = Get16(m_data + m_pos, m_bigEndian);
    m_pos += 2;
    return true;
}

bool Reader::U32(uint32_t& out) {
    if (Remaining() < 4) return false;
    out = Get32(m_data + m_pos, m_bigEndian);
    m_pos += 4;
    return true;
}

bool Reader::ReadValue(uint8_t tag, Value& out, std::string& error) {
    uint8_t low = tag & 0x0F;
    uint8_t group = tag & 0xF0;
    bool known = (tag >= 0xC0 && tag <= 0xC5) || (tag >= 0xC8 && tag <= 0xCD) ||
                 (tag >= 0xD0 && tag <= 0xD5) || (tag >= 0xE0 && tag <= 0xE5);
    if (!known) {
        error = "IllegalTag";
        return false;
    }
    out = Value{};
    out.elem = static_cast<Elem>(low & 0x07);
    out.bigEndian = m_bigEndian;
    size_t esize = ElemSize(out.elem);
    if (tag >= 0xC0 && tag <= 0xC5) {
        out.shape = Shape::Scalar;
        out.count = 1;
    } else if (tag >= 0xC8 && tag <= 0xCD) {
        out.shape = Shape::Array;
        out.elem = static_cast<Elem>(tag - 0xC8);
        esize = ElemSize(out.elem);
        uint8_t lenTag;
        if (!U8(lenTag)) {
            error = "MissingData";
            return false;
        }
        uint32_t n = 0;
        if (lenTag == kTagUByte) {
            uint8_t b;
            if (!U8(b)) {
                error = "MissingData";
                return false;
            }
            n = b;
        } else if (lenTag == kTagUInt16) {
            uint16_t w;
            if (!U16(w)) {
                error = "MissingData";
                return false;
            }
            n = w;
        } else {
            error = "IllegalArraySize";
            return false;
        }
        if (Remaining() < size_t(n) * esize) {
            error = "MissingData";
            m_pos = m_size;
            return false;
        }
        out.count = n;
        out.data = m_data + m_pos;
        m_pos += size_t(n) * esize;
        return true;
    } else if (group == 0xD0) {
        out.shape = Shape::Xy;
        out.count = 2;
    } else {
        out.shape = Shape::Box;
        out.count = 4;
    }
    if (Remaining() < out.count * esize) {
        error = "MissingData";
        m_pos = m_size;
        return false;
    }
    for (uint32_t i = 0; i < out.count; ++i)
        out.v[i] = DecodeNumber(m_data + m_pos + i * esize, out.elem, m_bigEndian);
    m_pos += out.count * esize;
    return true;
}

bool Reader::ReadEmbedded(const uint8_t*& data, uint32_t& length, std::string& error) {
    while (!AtEnd() && IsWhiteSpace(Peek())) ++m_pos;
    uint8_t tag;
    if (!U8(tag)) {
        error = "MissingData";
        return false;
    }
    if (tag == kTagDataLength) {
        if (!U32(length)) {
            error = "MissingData";
            return false;
        }
    } else if (tag == kTagDataLengthByte) {
        uint8_t b;
        if (!U8(b)) {
            error = "MissingData";
            return false;
        }
        length = b;
    } else {
        --m_pos;
        error = "MissingData";
        return false;
    }
    if (Remaining() < length) {
        error = "MissingData";
        m_pos = m_size;
        return false;
    }
    data = m_data + m_pos;
    m_pos += length;
    return true;
}

HeaderResult ParseStreamHeader(const uint8_t* data, size_t size, StreamHeader& out,
                               std::string& error) {
    static constexpr std::string_view kClass = "HP-PCL XL";
    // A comment field can be long, but a header line past this is not one.
    constexpr size_t kMaxHeader = 4096;
    if (size < 2 || (data[0] != 0x27 && data[0] != 0x28 && data[0] != 0x29) || data[1] != ' ')
        return HeaderResult::NotHeader;
    size_t end = 2;
    while (end < size && end < kMaxHeader && data[end] != 0x0A) ++end;
    if (end >= size || data[end] != 0x0A) {
        if (end >= kMaxHeader) {
            error = "IllegalStreamHeader";
            return HeaderResult::Unsupported;
        }
        error = "IllegalStreamHeader";
        return HeaderResult::Truncated;
    }
    std::string_view line(reinterpret_cast<const char*>(data) + 2, end - 2);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out = StreamHeader{};
    out.length = end + 1;
    if (line.substr(0, kClass.size()) != kClass) {
        error = "UnsupportedClassName";
        return HeaderResult::Unsupported;
    }
    if (data[0] == 0x27) {
        out.binding = StreamHeader::Binding::Ascii;
        error = "UnsupportedBinding";
        return HeaderResult::Unsupported;
    }
    out.binding = data[0] == 0x28 ? StreamHeader::Binding::HighByteFirst
                                  : StreamHeader::Binding::LowByteFirst;
    // Fields after the class name: ;class;revision[;...]
    std::string_view rest = line.substr(kClass.size());
    int fields[2] = {-1, -1};
    for (int f = 0; f < 2; ++f) {
        if (rest.empty() || rest[0] != ';') break;
        rest.remove_prefix(1);
        while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
        int value = 0;
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 6)
            value = value * 10 + (rest[digits++] - '0');
        if (digits == 0) break;
        fields[f] = value;
        rest.remove_prefix(digits);
        while (!rest.empty() && rest[0] != ';') rest.remove_prefix(1);
    }
    if (fields[0] < 0) {
        error = "UnsupportedProtocol";
        return HeaderResult::Unsupported;
    }
    out.protocolClass = fields[0];
    out.revision = fields[1] < 0 ? 0 : fields[1];
    // Newer classes are read as far as we understand them: their operators
    // that we do not know are skipped one by one.
    return HeaderResult::Ok;
}

} // namespace tarvik::pclxl
