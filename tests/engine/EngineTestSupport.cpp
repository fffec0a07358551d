#include "EngineTestSupport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

namespace enginetest {

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

} // namespace

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> MakePageBmp(int width, int height, int dpi) {
    uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    uint32_t imageSize = stride * uint32_t(height);
    std::vector<uint8_t> bmp(54 + imageSize, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put32(bmp, 2, uint32_t(bmp.size()));
    Put32(bmp, 10, 54);
    Put32(bmp, 14, 40);
    Put32(bmp, 18, uint32_t(width));
    Put32(bmp, 22, uint32_t(height));
    Put16(bmp, 26, 1);
    Put16(bmp, 28, 24);
    Put32(bmp, 34, imageSize);
    uint32_t ppm = uint32_t(dpi * 39.37007874015748 + 0.5);
    Put32(bmp, 38, ppm);
    Put32(bmp, 42, ppm);
    for (int row = 0; row < height; ++row) {
        int y = height - 1 - row; // from the top
        uint8_t* p = bmp.data() + 54 + size_t(row) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            Rgb c{uint8_t(x * 255 / std::max(1, width - 1)),
                  uint8_t(y * 255 / std::max(1, height - 1)), uint8_t((x + y) * 7)};
            if (x < width / 4 && y < height / 4) c = {0, 0, 0};
            if (x >= width - width / 4 && y >= height - height / 4) c = {255, 255, 255};
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return bmp;
}

void WritePage(const fs::path& path, int width, int height, int dpi) {
    WriteAll(path, MakePageBmp(width, height, dpi));
}

Rgb BmpInfo::Pixel(int x, int y) const {
    uint32_t stride = ((uint32_t(width) * uint32_t(bits) + 31) / 32) * 4;
    const uint8_t* row = bytes.data() + pixelOffset + size_t(height - 1 - y) * stride;
    if (bits == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    uint32_t index = 0;
    if (bits == 8) index = row[x];
    if (bits == 4) index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    if (bits == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
    const uint8_t* entry = bytes.data() + 14 + 40 + 4 * index;
    return {entry[2], entry[1], entry[0]};
}

BmpInfo ReadBmp(const fs::path& path) {
    BmpInfo info;
    info.bytes = ReadAll(path);
    const std::vector<uint8_t>& b = info.bytes;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return info;
    info.width = int32_t(Get32(&b[18]));
    info.height = int32_t(Get32(&b[22]));
    info.bits = Get16(&b[28]);
    info.xPelsPerMeter = int32_t(Get32(&b[38]));
    info.yPelsPerMeter = int32_t(Get32(&b[42]));
    info.colours = Get32(&b[46]);
    info.pixelOffset = Get32(&b[10]);
    uint32_t stride = ((uint32_t(info.width) * uint32_t(info.bits) + 31) / 32) * 4;
    info.ok = info.width > 0 && info.height > 0 &&
              b.size() >= info.pixelOffset + size_t(stride) * uint32_t(info.height);
    return info;
}

BmpInfo ReadDib(const uint8_t* dib, size_t headerAndPalette, const uint8_t* rows, size_t rowBytes) {
    // Rebuild a BMP file around the DIB so one reader serves both.
    std::vector<uint8_t> file(14 + headerAndPalette + rowBytes);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, uint32_t(file.size()));
    Put32(file, 10, uint32_t(14 + headerAndPalette));
    std::memcpy(file.data() + 14, dib, headerAndPalette);
    std::memcpy(file.data() + 14 + headerAndPalette, rows, rowBytes);
    fs::path temp =
        fs::temp_directory_path() / ("engine-dib-" + std::to_string(std::random_device{}()));
    WriteAll(temp, file);
    BmpInfo info = ReadBmp(temp);
    fs::remove(temp);
    return info;
}

std::string Identify(const fs::path& path, const std::string& format) {
    std::string command =
        "/usr/bin/identify -format '" + format + "' '" + path.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    std::array<char, 256> buffer{};
    while (size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
    return pclose(pipe) == 0 ? out : std::string();
}

std::vector<std::string> ListFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult Convert(const std::vector<fs::path>& inputs, const fs::path& output,
                  const std::vector<Option>& options, const fs::path& multiPagePath) {
    RunResult result;
    int h = ImgConvCreate();
    if (h <= 0) return result;
    for (const fs::path& input : inputs) ImgConvAddFile(h, input.c_str(), 1);
    if (!output.empty()) ImgConvSetOption(h, OPT_OUTPUT_PATH, output.c_str(), 0, nullptr);
    if (!multiPagePath.empty())
        ImgConvSetOption(h, OPT_MULTIPAGE_PATH, multiPagePath.c_str(), 0, nullptr);
    for (const Option& option : options)
        ImgConvSetOption(h, option.code, nullptr, option.value, nullptr);
    result.run = ImgConvRun(h);
    result.destroy = ImgConvDestroy(h);
    return result;
}

void EngineTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    m_dir = fs::path(VARNEL_BINARY_DIR) / "engine-test-data" / name;
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
}

void EngineTest::TearDown() {
    if (!HasFailure()) fs::remove_all(m_dir);
}

fs::path EngineTest::Page(int width, int height, int dpi, const std::string& name) {
    fs::path path = m_dir / (name + ".bmp");
    WritePage(path, width, height, dpi);
    return path;
}

} // namespace enginetest
