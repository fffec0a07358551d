// Shared pieces of the writer tests: test pictures, outside readers and a
// stream that runs out of room.
#pragma once

#include "ImageStream.h"
#include "Raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace writertest {

// Decoded pixels, three bytes red, green, blue per pixel, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

enum class Kind {
    BlackWhite, // 1 bit, palette black, white
    WhiteBlack, // 1 bit, palette white, black
    Color16,    // 4 bits, 16 colours
    Gray16,     // 4 bits, the 16 grays 0, 17, ..., 255
    Color256,   // 8 bits, 256 colours
    GrayRamp,   // 8 bits, palette entry i = gray i
    TrueColor,  // 24 bits
};

// A page-like picture: white ground, dark strokes, a few colour areas, and a
// marked top-left corner so flips and colour swaps show. `noise` scatters
// random pixels so the coders meet many different sequences.
void MakeImage(CRaster& image, Kind kind, uint32_t width, uint32_t height, bool noise = false);

// What a correct reader must see: the palette colour of each index, or the
// 24-bit pixel, top row first.
Picture Expected(const CRaster& image);

// A file path in the test's own scratch folder (created on first use).
std::string TempPath(const std::string& name);

// Runs a shell command; returns its standard output. status gets the exit code.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool ToolAvailable(const std::string& program);

// Decodes through ImageMagick's convert into 8-bit RGB; false when it failed.
bool DecodeWithConvert(const std::string& path, Picture& out, const std::string& options = "");
// Decodes a netpbm-readable file (e.g. /usr/bin/pcxtoppm) into RGB.
bool DecodeWithNetpbm(const std::string& program, const std::string& path, Picture& out);
// Reads a binary PPM (P6) or PGM (P5) file as RGB.
bool ReadPnm(const std::string& path, Picture& out);

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Largest difference of any sample; -1 when the sizes differ.
int MaxDifference(const Picture& a, const Picture& b);
// Peak signal-to-noise ratio over all samples in dB; 0 when the sizes differ.
double Psnr(const Picture& a, const Picture& b);

// A memory stream that accepts `budget` bytes and then refuses every write,
// reporting the error as a full disk would.
class FailingStream : public ImageStream {
public:
    explicit FailingStream(size_t budget) : m_budget(budget) { m_memory.OpenEmpty(); }

    bool Close() override { return true; }
    size_t Read(void* buffer, size_t size, size_t count) override {
        return m_memory.Read(buffer, size, count);
    }
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override { return m_memory.Seek(offset, origin); }
    int64_t Tell() override { return m_memory.Tell(); }
    int64_t Size() override { return m_memory.Size(); }
    bool Flush() override { return !m_failed; }
    bool AtEnd() override { return m_memory.AtEnd(); }
    int HasError() override { return m_failed ? 1 : 0; }
    int GetByte() override { return m_memory.GetByte(); }
    char* GetLine(char* buffer, int n) override { return m_memory.GetLine(buffer, n); }
    int ScanFormat(const char*, void*) override { return 0; }

    bool Failed() const { return m_failed; }

private:
    MemoryStream m_memory;
    size_t m_budget;
    size_t m_written = 0;
    bool m_failed = false;
};

} // namespace writertest
