#include "core/Bmp.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvik {

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool WriteAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

} // namespace

bool WriteBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path) {
    int w = raster.Width(), h = raster.Height();
    size_t rowBytes = (size_t(w) * 3 + 3) & ~size_t(3);
    uint64_t imageBytes = uint64_t(rowBytes) * uint64_t(h);
    if (imageBytes + 54 > 0xFFFFFFFFull) return false;

    uint8_t hdr[54] = {};
    hdr[0] = 'B';
    hdr[1] = 'M';
    Put32(hdr + 2, uint32_t(54 + imageBytes));
    Put32(hdr + 10, 54);
    Put32(hdr + 14, 40);
    Put32(hdr + 18, uint32_t(w));
    Put32(hdr + 22, uint32_t(h)); // positive height: bottom-up rows
    Put16(hdr + 26, 1);
    Put16(hdr + 28, 24);
    Put32(hdr + 30, 0);
    Put32(hdr + 34, uint32_t(imageBytes));
    Put32(hdr + 38, uint32_t(std::lround(xdpi / 0.0254)));
    Put32(hdr + 42, uint32_t(std::lround(ydpi / 0.0254)));

    // The temporary name starts with a dot and sits in the target folder, so
    // the rename is atomic.
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tmpl = dir + "." + base + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    bool ok = WriteAll(fd, hdr, sizeof hdr);
    std::vector<uint8_t> buf(rowBytes * 64);
    for (int y = h - 1; ok && y >= 0;) {
        size_t used = 0;
        for (int k = 0; k < 64 && y >= 0; ++k, --y) {
            const uint8_t* src = raster.Row(y);
            uint8_t* dst = buf.data() + used;
            for (int x = 0; x < w; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
            std::memset(dst + size_t(w) * 3, 0, rowBytes - size_t(w) * 3);
            used += rowBytes;
        }
        ok = WriteAll(fd, buf.data(), used);
    }
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(name.data(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(name.data());
    return ok;
}

} // namespace tarvik
