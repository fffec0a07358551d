#include "WriterTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace writertest {

size_t FailingStream::Write(const void* buffer, size_t size, size_t count) {
    if (m_failed || size == 0) return 0;
    const size_t bytes = size * count;
    if (m_written + bytes > m_budget) {
        // Take what fits, as a device that fills up mid-write does.
        const size_t fits = (m_budget - m_written) / size;
        m_memory.Write(buffer, size, fits);
        m_written += fits * size;
        m_failed = true;
        return fits;
    }
    m_written += bytes;
    return m_memory.Write(buffer, size, count);
}

namespace {

RasterColor PaletteEntry(Kind kind, uint32_t i) {
    switch (kind) {
    case Kind::BlackWhite:
        return i ? RasterColor::Rgb(255, 255, 255) : RasterColor::Rgb(0, 0, 0);
    case Kind::WhiteBlack:
        return i ? RasterColor::Rgb(0, 0, 0) : RasterColor::Rgb(255, 255, 255);
    case Kind::Color16: {
        static const uint8_t table[16][3] = {
            {255, 255, 255}, {0, 0, 0},      {255, 0, 0},     {0, 160, 0},
            {0, 0, 255},     {255, 255, 0},  {0, 255, 255},   {255, 0, 255},
            {128, 64, 0},    {64, 64, 64},   {192, 192, 192}, {128, 0, 128},
            {0, 128, 128},   {200, 100, 50}, {50, 100, 200},  {10, 250, 130}};
        return RasterColor::Rgb(table[i][0], table[i][1], table[i][2]);
    }
    case Kind::Gray16:
        return RasterColor::Rgb(uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i));
    case Kind::Color256:
        if (i == 0) return RasterColor::Rgb(255, 255, 255);
        return RasterColor::Rgb(uint8_t(i), uint8_t((i * 37) & 255), uint8_t(255 - i));
    case Kind::GrayRamp:
        return RasterColor::Rgb(uint8_t(i), uint8_t(i), uint8_t(i));
    case Kind::TrueColor:
        break;
    }
    return {};
}

uint32_t Depth(Kind kind) {
    switch (kind) {
    case Kind::BlackWhite:
    case Kind::WhiteBlack:
        return 1;
    case Kind::Color16:
    case Kind::Gray16:
        return 4;
    case Kind::Color256:
    case Kind::GrayRamp:
        return 8;
    case Kind::TrueColor:
        break;
    }
    return 24;
}

} // namespace

void MakeImage(CRaster& image, Kind kind, uint32_t width, uint32_t height, bool noise) {
    const uint32_t bpp = Depth(kind);
    ASSERT_NE(image.Create(width, height, bpp, image.FormatCode()), nullptr);
    const uint32_t colors = image.ColorCount();
    for (uint32_t i = 0; i < colors; ++i) image.SetPaletteColor(i, PaletteEntry(kind, i));
    const uint32_t maxIndex = colors ? colors - 1 : 255;
    // The white entry (light ground) and a dark entry for strokes.
    const uint32_t ground = (kind == Kind::WhiteBlack)                         ? 0
                            : (kind == Kind::BlackWhite)                       ? 1
                            : (kind == Kind::Gray16 || kind == Kind::GrayRamp) ? maxIndex
                                                                               : 0;
    const uint32_t ink = (kind == Kind::WhiteBlack)                         ? 1
                         : (kind == Kind::BlackWhite)                       ? 0
                         : (kind == Kind::Gray16 || kind == Kind::GrayRamp) ? 0
                                                                            : 1;
    std::mt19937 random(12345);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t top = height - 1 - y; // distance from the top row
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = ground;
            const bool stroke =
                (top % 12 < 2 && (x / 5) % 3 != 0) || (x % 29 == 3 && top % 40 < 25);
            const bool area = x > width / 2 && top > height / 3 && top < 2 * height / 3;
            const bool corner = x < 4 && top < 4;
            if (stroke) v = ink;
            if (area) v = colors ? (2 + (x / 7 + top / 5)) % colors : 0;
            if (corner) v = colors ? maxIndex / 2 : 0;
            if (noise && random() % 5 == 0) v = random() % (colors ? colors : 256);
            if (bpp == 24) {
                RasterColor c = RasterColor::Rgb(255, 255, 255);
                if (stroke) c = RasterColor::Rgb(10, 10, 10);
                if (area)
                    c = RasterColor::Rgb(uint8_t(x * 255 / width), uint8_t(top * 255 / height), 90);
                if (corner) c = RasterColor::Rgb(255, 0, 0);
                if (noise && random() % 5 == 0)
                    c = RasterColor::FromU32(uint32_t(random()) & 0xFFFFFF);
                image.SetColorAtUnchecked(x, y, c);
            } else {
                image.SetIndexAtUnchecked(x, y, uint8_t(v));
            }
        }
    }
}

Picture Expected(const CRaster& image) {
    Picture p;
    p.width = image.Width();
    p.height = image.Height();
    p.rgb.resize(size_t(3) * p.width * p.height);
    for (uint32_t r = 0; r < p.height; ++r) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const RasterColor c = image.GetColorAtUnchecked(x, p.height - 1 - r, false);
            uint8_t* o = &p.rgb[3 * (size_t(r) * p.width + x)];
            o[0] = c.red;
            o[1] = c.green;
            o[2] = c.blue;
        }
    }
    return p;
}

std::string TempPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir = std::filesystem::path(VARNEL_BINARY_DIR) / "tests" / "codecs-tmp";
    if (info) dir /= std::string(info->test_suite_name()) + "." + info->name();
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

bool ToolAvailable(const std::string& program) {
    return std::filesystem::exists(program);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

bool ReadPnm(const std::string& path, Picture& out) {
    const std::vector<uint8_t> data = ReadFileBytes(path);
    size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < data.size()) {
            if (data[pos] == '#') {
                while (pos < data.size() && data[pos] != '\n') ++pos;
            } else if (isspace(data[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        while (pos < data.size() && !isspace(data[pos])) t += char(data[pos++]);
        return t;
    };
    const std::string magic = token();
    if (magic != "P6" && magic != "P5") return false;
    out.width = uint32_t(std::stoul(token()));
    out.height = uint32_t(std::stoul(token()));
    const unsigned long maxval = std::stoul(token());
    ++pos; // the single white space before the samples
    if (maxval != 255) return false;
    const size_t channels = magic == "P6" ? 3 : 1;
    const size_t samples = channels * out.width * out.height;
    if (data.size() < pos + samples) return false;
    out.rgb.resize(size_t(3) * out.width * out.height);
    for (size_t i = 0; i < size_t(out.width) * out.height; ++i) {
        for (size_t c = 0; c < 3; ++c)
            out.rgb[3 * i + c] = data[pos + channels * i + (channels == 3 ? c : 0)];
    }
    return true;
}

bool DecodeWithConvert(const std::string& path, Picture& out, const std::string& options) {
    const std::string ppm = path + ".decoded.ppm";
    int status = 0;
    RunCommand("/usr/bin/convert '" + path + "' " + options + " -depth 8 'ppm:" + ppm + "'",
               &status);
    return status == 0 && ReadPnm(ppm, out);
}

bool DecodeWithNetpbm(const std::string& program, const std::string& path, Picture& out) {
    if (!ToolAvailable(program)) return false;
    const std::string ppm = path + ".netpbm.ppm";
    int status = 0;
    RunCommand(program + " '" + path + "' > '" + ppm + "'", &status);
    return status == 0 && ReadPnm(ppm, out);
}

int MaxDifference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const int d = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
        if (d > worst) worst = d;
    }
    return worst;
}

double Psnr(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 0.0;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = double(a.rgb[i]) - double(b.rgb[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    const double mse = sum / double(a.rgb.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace writertest
