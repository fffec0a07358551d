#include "OctreeQuantizer.h"

#include <cstdlib>
#include <cstring>

OctreeQuantizer::OctreeQuantizer(uint32_t maxColors, uint32_t colorBits)
    : m_threshold(maxColors < 16 ? 16 : maxColors), m_maxColors(maxColors),
      m_colorBits(colorBits >= 8 ? 8 : colorBits) {}

OctreeQuantizer::~OctreeQuantizer() {
    FreeTree(m_root);
}

void OctreeQuantizer::FreeTree(Node* node) {
    if (!node) return;
    for (Node* child : node->children) FreeTree(child);
    std::free(node);
}

OctreeQuantizer::Node* OctreeQuantizer::NewNode(uint32_t level) {
    Node* node = static_cast<Node*>(std::calloc(1, sizeof(Node)));
    if (!node) return nullptr;
    if (level == m_colorBits) {
        node->isLeaf = 1;
        ++m_leafCount;
    } else {
        node->nextReducible = m_reducible[level];
        m_reducible[level] = node;
    }
    return node;
}

// Walks to the colour's leaf, creating nodes on the way; none when a node
// could not be allocated.
OctreeQuantizer::Node* OctreeQuantizer::FindLeaf(uint8_t red, uint8_t green, uint8_t blue) {
    Node** slot = &m_root;
    for (uint32_t level = 0;; ++level) {
        if (!*slot && !(*slot = NewNode(level))) return nullptr;
        Node* node = *slot;
        if (node->isLeaf) return node;
        uint32_t shift = 7 - level;
        uint32_t index =
            ((red >> shift) & 1) << 2 | ((green >> shift) & 1) << 1 | ((blue >> shift) & 1);
        slot = &node->children[index];
    }
}

bool OctreeQuantizer::InsertColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    return InsertRun(red, green, blue, alpha, 1);
}

bool OctreeQuantizer::InsertRun(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha,
                                uint32_t count) {
    Node* leaf = FindLeaf(red, green, blue);
    if (!leaf) return false;
    leaf->pixelCount += count;
    leaf->redSum += uint64_t(red) * count;
    leaf->greenSum += uint64_t(green) * count;
    leaf->blueSum += uint64_t(blue) * count;
    leaf->alphaSum += uint64_t(alpha) * count;
    return true;
}

void OctreeQuantizer::ReduceDeepest() {
    if (m_colorBits == 0) return;
    uint32_t level = m_colorBits - 1;
    while (level > 0 && !m_reducible[level]) --level;
    Node* node = m_reducible[level];
    if (!node) return;
    m_reducible[level] = node->nextReducible;
    uint64_t red = 0, green = 0, blue = 0, alpha = 0;
    uint32_t children = 0;
    for (Node*& child : node->children) {
        if (!child) continue;
        red += child->redSum;
        green += child->greenSum;
        blue += child->blueSum;
        alpha += child->alphaSum;
        node->pixelCount += child->pixelCount;
        FreeTree(child);
        child = nullptr;
        ++children;
    }
    node->isLeaf = 1;
    node->redSum = red;
    node->greenSum = green;
    node->blueSum = blue;
    node->alphaSum = alpha;
    // The node itself becomes one leaf in place of its children.
    m_leafCount = m_leafCount + 1 - children;
}

bool OctreeQuantizer::FeedImage(const uint8_t* block) {
    if (!block) return false;
    BitmapInfoHeader info;
    std::memcpy(&info, block, sizeof info);
    const uint32_t bits = info.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
    const uint64_t width = uint32_t(info.width < 0 ? -int64_t(info.width) : info.width);
    const uint64_t height = uint32_t(info.height < 0 ? -int64_t(info.height) : info.height);
    const uint64_t stride = ((width * bits + 31) / 32) * 4;
    const uint8_t* palette = block + 40;
    const uint8_t* pixels = palette + uint64_t(info.clrUsed) * 4;

    // Runs of one colour go to their leaf in one step. Only a new leaf can
    // trigger a reduction, and a reduction never gives a colour a new leaf,
    // so the rest of a run lands where its first pixel's successor would.
    auto addRun = [&](uint8_t r, uint8_t g, uint8_t b, uint8_t a, uint32_t run) {
        if (!InsertRun(r, g, b, a, 1)) return false;
        while (m_leafCount > m_threshold) ReduceDeepest();
        return run == 1 || InsertRun(r, g, b, a, run - 1);
    };

    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + y * stride;
        if (bits == 24) {
            uint64_t x = 0;
            while (x < width) {
                const uint8_t* p = row + 3 * x;
                uint8_t b = p[0], g = p[1], r = p[2];
                uint64_t end = x + 1;
                const uint8_t* q = p + 3;
                while (end < width && q[0] == b && q[1] == g && q[2] == r) {
                    ++end;
                    q += 3;
                }
                if (!addRun(r, g, b, 0, uint32_t(end - x))) return false;
                x = end;
            }
        } else {
            auto indexAt = [&](uint64_t x) -> uint32_t {
                if (bits == 8) return row[x];
                if (bits == 4) return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
                return (row[x >> 3] >> (7 - (x & 7))) & 1;
            };
            uint64_t x = 0;
            while (x < width) {
                uint32_t index = indexAt(x);
                uint64_t end = x + 1;
                while (end < width && indexAt(end) == index) ++end;
                const uint8_t* e = palette + 4 * index;
                if (!addRun(e[2], e[1], e[0], e[3], uint32_t(end - x))) return false;
                x = end;
            }
        }
    }
    return true;
}

void OctreeQuantizer::WalkLeaves(const Node* node, RasterColor*& out) {
    if (!node) return;
    if (node->isLeaf) {
        RasterColor c;
        if (node->pixelCount) {
            c.blue = uint8_t(node->blueSum / node->pixelCount);
            c.green = uint8_t(node->greenSum / node->pixelCount);
            c.red = uint8_t(node->redSum / node->pixelCount);
            c.reserved = uint8_t(node->alphaSum / node->pixelCount);
        }
        *out++ = c;
        return;
    }
    for (const Node* child : node->children) WalkLeaves(child, out);
}

void OctreeQuantizer::ReadPalette(RasterColor* table) const {
    if (!table) return;
    RasterColor* out = table;
    WalkLeaves(m_root, out);
}
