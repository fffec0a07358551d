#include "core/Bmp.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
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

// Writes every byte the vectors describe, however the kernel splits it.
bool WriteAll(int fd, iovec* iov, int count) {
    while (count > 0) {
        ssize_t w = ::writev(fd, iov, count);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t done = size_t(w);
        while (count > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            if (w == 0) return false; // no progress: never spin
            iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + done;
            iov->iov_len -= done;
        }
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

    // Reserving the whole file at once spares the file system a block
    // reservation for every page of memory written. Where it cannot, the
    // writes below simply go ahead (no emulation by writing zeros first).
    (void)::fallocate(fd, 0, 0, off_t(54 + imageBytes));

    // The raster already holds B, G, R rows: hand them to the kernel as they
    // are, bottom row first, with the padding between them, in calls of
    // about half a megabyte. Calls of 2 MB and more let the kernel back the
    // file with 2 MB blocks of memory; where those are scarce, or were
    // handed back to the host of a virtual machine, taking them costs many
    // times the copy: a 600 dpi page took 20 to 200 ms in 15 MB calls, a
    // steady 20 ms in half-megabyte ones.
    static const uint8_t kZeros[4] = {};
    size_t pixelBytes = size_t(w) * 3, pad = rowBytes - pixelBytes;
    constexpr int kBatch = 1024; // IOV_MAX on Linux
    constexpr size_t kCallBytes = size_t(512) << 10;
    iovec iov[kBatch];
    int n = 0;
    size_t bytes = sizeof hdr;
    iov[n++] = {hdr, sizeof hdr};
    bool ok = true;
    for (int y = h - 1; ok && y >= 0; --y) {
        iov[n++] = {const_cast<uint8_t*>(raster.Row(y)), pixelBytes};
        if (pad) iov[n++] = {const_cast<uint8_t*>(kZeros), pad};
        bytes += rowBytes;
        if (n > kBatch - 2 || bytes >= kCallBytes || y == 0) {
            ok = WriteAll(fd, iov, n);
            n = 0;
            bytes = 0;
        }
    }
    if (ok && n > 0) ok = WriteAll(fd, iov, n);
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(name.data(), path.c_str()) != 0) ok = false;
    if (!ok) {
        int why = errno; // the caller reports it (a full disk, say)
        ::unlink(name.data());
        errno = why;
    }
    return ok;
}

} // namespace tarvik
