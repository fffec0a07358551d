// Big-endian readers over a span of downloaded bytes. Past the end they read
// 0, so a record whose sizes lie can never make a decoder read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvik::bytes {

inline uint8_t U8(std::span<const uint8_t> d, size_t at) {
    return at < d.size() ? d[at] : 0;
}
inline int8_t S8(std::span<const uint8_t> d, size_t at) {
    return int8_t(U8(d, at));
}
inline uint16_t U16(std::span<const uint8_t> d, size_t at) {
    return at < d.size() && d.size() - at >= 2 ? uint16_t((d[at] << 8) | d[at + 1]) : 0;
}
inline int16_t S16(std::span<const uint8_t> d, size_t at) {
    return int16_t(U16(d, at));
}
inline uint32_t U32(std::span<const uint8_t> d, size_t at) {
    return at < d.size() && d.size() - at >= 4 ? (uint32_t(U16(d, at)) << 16) | U16(d, at + 2) : 0;
}
// A four-letter sfnt table tag as the number the table directory holds.
constexpr uint32_t Tag(const char t[4]) {
    return (uint32_t(uint8_t(t[0])) << 24) | (uint32_t(uint8_t(t[1])) << 16) |
           (uint32_t(uint8_t(t[2])) << 8) | uint8_t(t[3]);
}

} // namespace tarvik::bytes
