#include "core/Raster.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace tarvik {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
// Below this the heap is cheaper than a mapping of its own.
constexpr size_t kMapFrom = size_t(4) << 20;

} // namespace

PixelBuffer::PixelBuffer(size_t size) {
    Allocate(size);
}

PixelBuffer::PixelBuffer(const PixelBuffer& other) {
    Allocate(other.m_size);
    if (m_size) std::memcpy(m_data, other.m_data, m_size);
}

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

PixelBuffer& PixelBuffer::operator=(const PixelBuffer& other) {
    if (this != &other) {
        PixelBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

PixelBuffer::~PixelBuffer() {
    Release();
}

void PixelBuffer::Grow(size_t size) {
    if (size <= m_size) return;
    PixelBuffer bigger;
    bigger.Allocate(size);
    if (m_size) std::memcpy(bigger.m_data, m_data, m_size);
    *this = std::move(bigger);
}

void PixelBuffer::Allocate(size_t size) {
    Release();
    if (size == 0) return;
    if (size >= kMapFrom) {
        // Map one huge page more than needed and trim it to a huge-page
        // boundary, so the whole block can be backed by huge pages.
        size_t want = (size + kHugePage - 1) / kHugePage * kHugePage;
        size_t span = want + kHugePage;
        void* p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            uintptr_t start = reinterpret_cast<uintptr_t>(p);
            uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
            if (aligned > start) ::munmap(p, aligned - start);
            size_t tail = span - (aligned - start) - want;
            if (tail) ::munmap(reinterpret_cast<void*>(aligned + want), tail);
#ifdef MADV_HUGEPAGE
            ::madvise(reinterpret_cast<void*>(aligned), want, MADV_HUGEPAGE);
#endif
            m_data = reinterpret_cast<uint8_t*>(aligned);
            m_mapped = want;
            m_size = size;
            return;
        }
    }
    m_data = static_cast<uint8_t*>(::operator new(size));
    m_size = size;
}

void PixelBuffer::Release() {
    if (m_data) {
        if (m_mapped)
            ::munmap(m_data, m_mapped);
        else
            ::operator delete(m_data);
    }
    m_data = nullptr;
    m_size = 0;
    m_mapped = 0;
}

PageRaster::PageRaster(int width, int height)
    : m_width(width), m_height(height), m_pixels(size_t(width) * size_t(height) * 3),
      m_live(size_t(height), 0), m_white(size_t(width) * 3, 255) {}

void PageRaster::Revive(int y) {
    std::memset(Pixels(y), 255, size_t(m_width) * 3);
    m_live[size_t(y)] = 1;
}

void PageRaster::Clear() {
    std::fill(m_live.begin(), m_live.end(), uint8_t(0));
}

} // namespace tarvik
