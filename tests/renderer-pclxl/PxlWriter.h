// A small PCL XL writer for building test jobs by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace pxltest {

class Writer {
public:
    explicit Writer(bool bigEndian = false) : m_big(bigEndian) {}

    std::vector<uint8_t> bytes;

    Writer& Raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Writer& Raw(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Writer& Raw(const std::vector<uint8_t>& v) {
        bytes.insert(bytes.end(), v.begin(), v.end());
        return *this;
    }
    Writer& Header(const std::string& cls = "2;0") {
        bytes.push_back(m_big ? '(' : ')');
        return Raw(" HP-PCL XL;" + cls + ";Comment test\n");
    }

    // Scalars.
    Writer& UB(unsigned v) { return Tag(0xC0).Put8(v); }
    Writer& U16(unsigned v) { return Tag(0xC1).Put16(v); }
    Writer& U32(uint32_t v) { return Tag(0xC2).Put32(v); }
    Writer& S16(int v) { return Tag(0xC3).Put16(static_cast<uint16_t>(v)); }
    Writer& S32(int32_t v) { return Tag(0xC4).Put32(static_cast<uint32_t>(v)); }
    Writer& Real(float v) { return Tag(0xC5).PutF(v); }
    // Pairs and boxes.
    Writer& UBXy(unsigned x, unsigned y) { return Tag(0xD0).Put8(x).Put8(y); }
    Writer& U16Xy(unsigned x, unsigned y) { return Tag(0xD1).Put16(x).Put16(y); }
    Writer& U32Xy(uint32_t x, uint32_t y) { return Tag(0xD2).Put32(x).Put32(y); }
    Writer& S16Xy(int x, int y) { return Tag(0xD3).Put16(uint16_t(x)).Put16(uint16_t(y)); }
    Writer& S32Xy(int32_t x, int32_t y) { return Tag(0xD4).Put32(uint32_t(x)).Put32(uint32_t(y)); }
    Writer& RealXy(float x, float y) { return Tag(0xD5).PutF(x).PutF(y); }
    Writer& UBBox(unsigned a, unsigned b, unsigned c, unsigned d) {
        return Tag(0xE0).Put8(a).Put8(b).Put8(c).Put8(d);
    }
    Writer& U16Box(unsigned a, unsigned b, unsigned c, unsigned d) {
        return Tag(0xE1).Put16(a).Put16(b).Put16(c).Put16(d);
    }
    Writer& S16Box(int a, int b, int c, int d) {
        return Tag(0xE3)
            .Put16(uint16_t(a))
            .Put16(uint16_t(b))
            .Put16(uint16_t(c))
            .Put16(uint16_t(d));
    }
    Writer& RealBox(float a, float b, float c, float d) {
        return Tag(0xE5).PutF(a).PutF(b).PutF(c).PutF(d);
    }
    // Arrays (uint16 length when longer than 255 elements).
    Writer& UBArray(const std::vector<uint8_t>& v) {
        Tag(0xC8).Len(v.size());
        for (uint8_t b : v) Put8(b);
        return *this;
    }
    Writer& UBArray(const std::string& s) {
        return UBArray(std::vector<uint8_t>(s.begin(), s.end()));
    }
    Writer& U16Array(const std::vector<uint16_t>& v) {
        Tag(0xC9).Len(v.size());
        for (uint16_t w : v) Put16(w);
        return *this;
    }
    Writer& S16Array(const std::vector<int16_t>& v) {
        Tag(0xCB).Len(v.size());
        for (int16_t w : v) Put16(uint16_t(w));
        return *this;
    }
    Writer& RealArray(const std::vector<float>& v) {
        Tag(0xCD).Len(v.size());
        for (float f : v) PutF(f);
        return *this;
    }

    Writer& A(unsigned id) { return Tag(0xF8).Put8(id); }
    Writer& A16(unsigned id) { return Tag(0xF9).Put16(id); }
    Writer& Op(unsigned code) { return Tag(static_cast<uint8_t>(code)); }
    Writer& Data(const std::vector<uint8_t>& d) {
        if (d.size() < 256) {
            Tag(0xFB).Put8(static_cast<uint8_t>(d.size()));
        } else {
            Tag(0xFA).Put32(static_cast<uint32_t>(d.size()));
        }
        return Raw(d);
    }

    // Common sequences.
    Writer& BeginSession(unsigned dpi = 300) {
        return U16Xy(dpi, dpi).A(0x89).UB(0).A(0x86).UB(0).A(0x8F).Op(0x41);
    }
    Writer& BeginPage(unsigned mediaSize = 2, unsigned orientation = 0) {
        return UB(orientation).A(0x28).UB(mediaSize).A(0x25).Op(0x43);
    }
    Writer& EndPage() { return Op(0x44); }
    Writer& EndSession() { return Op(0x42); }
    Writer& OpenData() { return UB(0).A(0x88).UB(m_big ? 0 : 1).A(0x82).Op(0x48); }
    Writer& CloseData() { return Op(0x49); }

    // Data payloads in the order of the open data source (matches binding here).
    void Put16To(std::vector<uint8_t>& v, unsigned w) const {
        if (m_big) {
            v.push_back(uint8_t(w >> 8));
            v.push_back(uint8_t(w));
        } else {
            v.push_back(uint8_t(w));
            v.push_back(uint8_t(w >> 8));
        }
    }

    Writer& Put8(unsigned v) {
        bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Writer& Put16(unsigned v) {
        Put16To(bytes, v);
        return *this;
    }
    Writer& Put32(uint32_t v) {
        if (m_big) {
            for (int s = 24; s >= 0; s -= 8) bytes.push_back(uint8_t(v >> s));
        } else {
            for (int s = 0; s <= 24; s += 8) bytes.push_back(uint8_t(v >> s));
        }
        return *this;
    }
    Writer& PutF(float f) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        return Put32(b);
    }

private:
    Writer& Tag(uint8_t t) {
        bytes.push_back(t);
        return *this;
    }
    Writer& Len(size_t n) {
        if (n < 256) return UB(static_cast<unsigned>(n));
        return U16(static_cast<unsigned>(n));
    }
    bool m_big;
};

} // namespace pxltest
