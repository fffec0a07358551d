#include "RasterDecode.h"

#include "core/ByteRead.h"

#include <algorithm>
#include <cstring>

namespace tarvik::pcl5 {

namespace {

// Reads a run of extension bytes (each 255 means another follows) and adds them.
// Counts stay bounded: a row can never be longer than what fits in size_t, and
// anything past the seed's end is ignored anyway.
size_t ReadExtension(std::span<const uint8_t> data, size_t& pos) {
    size_t total = 0;
    while (pos < data.size()) {
        uint8_t b = data[pos++];
        total += b;
        if (b != 255) break;
        if (total > (size_t(1) << 30)) break;
    }
    return total;
}

// Copies up to count bytes from data[pos] to seed[at], clipped at both ends.
size_t Replace(std::span<const uint8_t> data, size_t& pos, std::span<uint8_t> seed, size_t at,
               size_t count) {
    size_t avail = std::min(count, data.size() - pos);
    if (at < seed.size()) {
        size_t n = std::min(avail, seed.size() - at);
        std::memcpy(seed.data() + at, data.data() + pos, n);
    }
    pos += avail;
    return avail;
}

void Fill(std::span<uint8_t> seed, size_t at, size_t count, uint8_t value) {
    if (at >= seed.size()) return;
    size_t n = std::min(count, seed.size() - at);
    std::memset(seed.data() + at, value, n);
}

} // namespace

void DecodeUnencoded(std::span<const uint8_t> data, std::span<uint8_t> seed) {
    size_t n = std::min(data.size(), seed.size());
    std::memcpy(seed.data(), data.data(), n);
    std::memset(seed.data() + n, 0, seed.size() - n);
}

void DecodeRunLength(std::span<const uint8_t> data, std::span<uint8_t> seed) {
    size_t out = 0;
    for (size_t i = 0; i + 1 < data.size() && out < seed.size(); i += 2) {
        size_t count = size_t(data[i]) + 1;
        Fill(seed, out, count, data[i + 1]);
        out += count;
    }
    if (out < seed.size()) std::memset(seed.data() + out, 0, seed.size() - out);
}

void DecodePackBits(std::span<const uint8_t> data, std::span<uint8_t> seed) {
    size_t out = 0;
    size_t i = 0;
    while (i < data.size() && out < seed.size()) {
        int8_t c = static_cast<int8_t>(data[i++]);
        if (c >= 0) {
            size_t count = size_t(c) + 1;
            out += Replace(data, i, seed, out, count);
        } else if (c != -128) {
            if (i >= data.size()) break;
            size_t count = size_t(1 - c);
            Fill(seed, out, count, data[i++]);
            out += count;
        }
    }
    if (out < seed.size()) std::memset(seed.data() + out, 0, seed.size() - out);
}

void DecodeDeltaRow(std::span<const uint8_t> data, std::span<uint8_t> seed) {
    size_t at = 0;
    size_t i = 0;
    while (i < data.size()) {
        uint8_t cmd = data[i++];
        size_t count = size_t(cmd >> 5) + 1;
        size_t offset = cmd & 0x1f;
        if (offset == 31) offset += ReadExtension(data, i);
        at += offset;
        Replace(data, i, seed, at, count);
        at += count;
    }
}

void DecodeReplacementDelta(std::span<const uint8_t> data, std::span<uint8_t> seed) {
    size_t at = 0;
    size_t i = 0;
    while (i < data.size()) {
        uint8_t cmd = data[i++];
        if (cmd & 0x80) {
            // Run: repeat one byte.
            size_t offset = (cmd >> 5) & 0x03;
            if (offset == 3) offset += ReadExtension(data, i);
            size_t count = size_t(cmd & 0x1f) + 2;
            if ((cmd & 0x1f) == 31) count += ReadExtension(data, i);
            at += offset;
            if (i >= data.size()) break;
            Fill(seed, at, count, data[i++]);
            at += count;
        } else {
            // Literal replacement bytes.
            size_t offset = (cmd >> 3) & 0x0f;
            if (offset == 15) offset += ReadExtension(data, i);
            size_t count = size_t(cmd & 0x07) + 1;
            if ((cmd & 0x07) == 7) count += ReadExtension(data, i);
            at += offset;
            Replace(data, i, seed, at, count);
            at += count;
        }
    }
}

bool IsExactPackBitsRow(std::span<const uint8_t> data, size_t rowBytes) {
    size_t out = 0;
    size_t i = 0;
    while (i < data.size()) {
        int8_t c = static_cast<int8_t>(data[i++]);
        if (c >= 0) {
            i += size_t(c) + 1;
            out += size_t(c) + 1;
        } else if (c != -128) {
            i += 1;
            out += size_t(1 - c);
        }
        if (out > rowBytes) return false;
    }
    return i == data.size() && out == rowBytes;
}

bool DecodeRow(int method, std::span<const uint8_t> data, std::span<uint8_t> seed) {
    switch (method) {
    case 0:
        DecodeUnencoded(data, seed);
        return true;
    case 1:
        DecodeRunLength(data, seed);
        return true;
    case 2:
        DecodePackBits(data, seed);
        return true;
    case 3:
        DecodeDeltaRow(data, seed);
        return true;
    case 9:
        DecodeReplacementDelta(data, seed);
        return true;
    default:
        return false;
    }
}

size_t DecodeAdaptiveBlock(std::span<const uint8_t> data, std::span<uint8_t> seed,
                           const std::function<bool(std::span<const uint8_t>)>& emit) {
    size_t rows = 0;
    size_t i = 0;
    while (i + 3 <= data.size()) {
        uint8_t cmd = data[i];
        size_t count = bytes::U16(data, i + 1);
        i += 3;
        if (cmd <= 3) {
            size_t n = std::min(count, data.size() - i);
            DecodeRow(cmd, data.subspan(i, n), seed);
            i += n;
            ++rows;
            if (!emit(seed)) return rows;
        } else if (cmd == 4 || cmd == 5) {
            if (cmd == 4) std::memset(seed.data(), 0, seed.size());
            for (size_t r = 0; r < count; ++r) {
                ++rows;
                if (!emit(seed)) return rows;
            }
        } else {
            // Unknown row command: its length cannot be trusted, so the rest of
            // the block is dropped rather than guessed at.
            break;
        }
    }
    return rows;
}

} // namespace tarvik::pcl5
