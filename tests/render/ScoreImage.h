// Page images and the fidelity score of the render tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render_score {

// 8-bit RGB, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    uint8_t Gray(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        return static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
    }
};

// PNG through libpng, BMP (1, 4, 8, 24 and 32 bits, uncompressed) by hand.
// Returns false with a message in error.
bool LoadImage(const std::string& path, Image& image, std::string& error);
bool SavePng(const std::string& path, const Image& image);

struct Score {
    double ink = 0;  // F1 of dark pixels matched within one pixel
    double tone = 0; // agreement of 8 x 8 block means
    double Total() const { return (ink + tone) / 2; }
};

// Compares over the larger of the two sizes; the part of a page the other does
// not cover counts as white.
Score ScorePages(const Image& ours, const Image& reference);

// The shift (dx, dy) that best lines ours up with the reference, within range
// pixels each way: first from the rows' and columns' ink profiles, then
// refined by the score itself. Writers place their rasters for the margins of
// the printer they were made for; this tells such placement from drawing.
struct Alignment {
    int dx = 0, dy = 0;
    Score score;
};
Alignment ScoreAligned(const Image& ours, const Image& reference, int range);

// Moves the picture by (dx, dy), filling with white.
Image Shift(const Image& image, int dx, int dy);

// Resamples by averaging whole source areas (for looking at pages).
Image Reduce(const Image& image, int factor);

} // namespace render_score
