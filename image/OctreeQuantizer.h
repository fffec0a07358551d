// Palette building by an octree that merges its deepest nodes whenever it
// holds more leaves than the threshold.
#pragma once

#include "Raster.h"

#include <cstdint>

class OctreeQuantizer {
public:
    // threshold = max(maxColors, 16); colorBits of 8 or more give 8.
    OctreeQuantizer(uint32_t maxColors, uint32_t colorBits);
    ~OctreeQuantizer();
    OctreeQuantizer(const OctreeQuantizer&) = delete;
    OctreeQuantizer& operator=(const OctreeQuantizer&) = delete;

    // Adds every pixel of a packed bitmap block (a CRaster's pixelBlock). False,
    // doing nothing, for depths other than 1, 4, 8 and 24, and when a node
    // could not be allocated (the tree then holds what was fed so far).
    bool FeedImage(const uint8_t* block);
    // Writes one entry per leaf, in tree order; table needs LeafCount() entries
    // (at most the threshold).
    void ReadPalette(RasterColor* table) const;

    bool InsertColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
    void ReduceDeepest();
    uint32_t LeafCount() const { return m_leafCount; }
    uint32_t Threshold() const { return m_threshold; }
    uint32_t MaxColors() const { return m_maxColors; }

private:
    struct Node {
        int isLeaf;
        uint32_t pixelCount;
        // A whole 256 MiB image summed into one leaf exceeds 32 bits.
        uint64_t redSum, greenSum, blueSum, alphaSum;
        Node* children[8];
        Node* nextReducible;
    };

    Node* NewNode(uint32_t level);
    Node* FindLeaf(uint8_t red, uint8_t green, uint8_t blue);
    // Adds count pixels of one colour to its leaf.
    bool InsertRun(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha, uint32_t count);
    static void FreeTree(Node* node);
    static void WalkLeaves(const Node* node, RasterColor*& out);

    Node* m_root = nullptr;
    uint32_t m_leafCount = 0;
    Node* m_reducible[9] = {};
    uint32_t m_threshold;
    uint32_t m_maxColors;
    uint32_t m_colorBits;
};
