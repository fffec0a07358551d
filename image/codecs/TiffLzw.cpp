#include "TiffLzw.h"

#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kFirstLimit = 512;
// A 13th bit would be needed from 4095 on.
constexpr uint32_t kClearAt = 4094;
constexpr int kSlotBits = 13;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kCodeMask = 0xFFF;
constexpr size_t kCodes = 4096;

// At most 3836 strings live in 8192 slots, so probe runs stay short.
inline uint32_t SlotOf(uint32_t key) {
    return (key * 0x9E3779B1u) >> (32 - kSlotBits);
}

// How many of the first n bytes at p equal b.
size_t RunLength(const uint8_t* p, size_t n, uint8_t b) {
    size_t k = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = 0x0101010101010101ull * b;
        for (; k + 8 <= n; k += 8) {
            uint64_t word;
            std::memcpy(&word, p + k, 8);
            if (const uint64_t differ = word ^ pattern)
                return k + size_t(std::countr_zero(differ)) / 8;
        }
    }
    while (k < n && p[k] == b) ++k;
    return k;
}

inline void PutBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

TiffLzwEncoder::TiffLzwEncoder() = default;
TiffLzwEncoder::~TiffLzwEncoder() = default;

bool TiffLzwEncoder::Reserve(size_t more) {
    if (m_capacity - m_used >= more) return true;
    size_t capacity = m_capacity * 2;
    if (capacity < m_used + more) capacity = m_used + more;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
    if (!grown) return false;
    if (m_used) std::memcpy(grown.get(), m_out.get(), m_used);
    m_out = std::move(grown);
    m_capacity = capacity;
    return true;
}

void TiffLzwEncoder::NewTable() {
    // 40 KB, cleared once per 3836 codes or per strip: small beside the coding.
    std::memset(m_slots.get(), 0, sizeof(uint32_t) << kSlotBits);
    std::memset(m_runChild.get(), 0, sizeof(uint16_t) * kCodes);
    m_width = 9;
    m_next = kFirstFree;
    m_limit = kFirstLimit;
    m_runCodes[1] = uint16_t(m_runByte);
    m_longestRun = 1;
}

bool TiffLzwEncoder::Begin(uint8_t runByte) {
    if (!m_slots) {
        m_slots.reset(new (std::nothrow) uint32_t[size_t(1) << kSlotBits]);
        m_runChild.reset(new (std::nothrow) uint16_t[kCodes]);
        m_runCodes.reset(new (std::nothrow) uint16_t[kCodes]);
        if (!m_slots || !m_runChild || !m_runCodes) {
            m_slots.reset();
            return false;
        }
    }
    m_runByte = runByte;
    m_used = 0;
    m_bits = 0;
    m_bitCount = 0;
    m_prefix = -1;
    NewTable();
    if (!Reserve(16)) return false;
    m_bits = kClear;
    m_bitCount = 9;
    return true;
}

bool TiffLzwEncoder::Add(const uint8_t* bytes, size_t n) {
    if (n == 0) return true;
    // A byte ends at most one code, and one Clear comes with each 3836 codes.
    if (!Reserve(n + n / 2 + n / 256 + 16)) return false;

    uint32_t* const slots = m_slots.get();
    uint16_t* const runChild = m_runChild.get();
    uint16_t* const runCodes = m_runCodes.get();
    const uint32_t runByte = m_runByte;
    uint32_t longest = m_longestRun;
    uint64_t bits = m_bits;
    unsigned count = m_bitCount;
    unsigned width = m_width;
    uint32_t next = m_next;
    uint32_t limit = m_limit;
    uint8_t* out = m_out.get() + m_used;
    auto emit = [&](uint32_t code) {
        bits = bits << width | code;
        count += width;
        if (count >= 32) {
            count -= 32;
            PutBigEndian32(out, uint32_t(bits >> count));
            out += 4;
        }
    };
    // After a code was given out: a wider code, or a new table (true).
    auto grow = [&]() {
        if (++next != limit) return false;
        if (width == 12) {
            emit(kClear);
            NewTable();
            longest = m_longestRun;
            width = m_width;
            next = m_next;
            limit = m_limit;
            return true;
        }
        ++width;
        limit = width == 12 ? kClearAt : 1u << width;
        return false;
    };

    size_t i = 0;
    uint32_t prefix;
    if (m_prefix < 0) {
        prefix = bytes[0];
        i = 1;
    } else {
        prefix = uint32_t(m_prefix);
    }
    for (; i < n; ++i) {
        const uint32_t byte = bytes[i];
        if (byte == runByte) {
            if (const uint32_t child = runChild[prefix]) {
                prefix = child;
                continue;
            }
            emit(prefix);
            uint32_t code = next;
            runChild[prefix] = uint16_t(code);
            const bool longer = prefix == runCodes[longest];
            if (grow())
                longest = 1;
            else if (longer)
                runCodes[++longest] = uint16_t(code);
            // A string starts at this byte. The run bytes that follow it are
            // matched in whole strings of run bytes, whose codes are kept by
            // length: only the longest can miss.
            size_t pending = 1 + RunLength(bytes + i + 1, n - i - 1, uint8_t(runByte));
            i += pending - 1;
            while (pending > longest) {
                const uint32_t whole = runCodes[longest];
                emit(whole);
                code = next;
                runChild[whole] = uint16_t(code);
                pending -= longest;
                if (grow())
                    longest = 1;
                else
                    runCodes[++longest] = uint16_t(code);
            }
            prefix = runCodes[pending];
            continue;
        }
        const uint32_t key = prefix << 8 | byte;
        uint32_t slot = SlotOf(key);
        uint32_t held;
        bool found = false;
        while ((held = slots[slot]) != 0) {
            if (held >> 12 == key) {
                found = true;
                break;
            }
            slot = (slot + 1) & kSlotMask;
        }
        if (found) {
            prefix = held & kCodeMask;
            continue;
        }
        emit(prefix);
        slots[slot] = key << 12 | next;
        prefix = byte;
        grow();
    }

    m_bits = bits;
    m_bitCount = count;
    m_width = width;
    m_next = next;
    m_limit = limit;
    m_prefix = int32_t(prefix);
    m_longestRun = longest;
    m_used = size_t(out - m_out.get());
    return true;
}

bool TiffLzwEncoder::End() {
    if (!Reserve(16)) return false;
    uint8_t* out = m_out.get() + m_used;
    auto emit = [&](uint32_t code) {
        m_bits = m_bits << m_width | code;
        m_bitCount += m_width;
        while (m_bitCount >= 8) {
            m_bitCount -= 8;
            *out++ = uint8_t(m_bits >> m_bitCount);
        }
    };
    if (m_prefix >= 0) {
        emit(uint32_t(m_prefix));
        // Reading that code, a decoder adds the string it ends, so its next
        // code may already be one bit wider.
        if (m_next + 1 == m_limit && m_width < 12) ++m_width;
    }
    emit(kEnd);
    if (m_bitCount > 0) *out++ = uint8_t(m_bits << (8 - m_bitCount));
    m_bitCount = 0;
    m_prefix = -1;
    m_used = size_t(out - m_out.get());
    return true;
}
