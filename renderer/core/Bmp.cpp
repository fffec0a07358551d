#include "core/Bmp.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace tarvik {

namespace {

constexpr size_t kHeaderBytes = 54;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23; // Linux 5.14; older kernels refuse it
#endif

size_t RowBytes(int w) {
    return (size_t(w) * 3 + 3) & ~size_t(3);
}

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

// Fills the 54 bytes before the rows; false when the page is too large for
// the format's 32-bit sizes.
bool MakeHeader(int w, int h, int xdpi, int ydpi, uint8_t* hdr) {
    uint64_t imageBytes = uint64_t(RowBytes(w)) * uint64_t(h);
    if (imageBytes + kHeaderBytes > 0xFFFFFFFFull) return false;
    std::memset(hdr, 0, kHeaderBytes);
    hdr[0] = 'B';
    hdr[1] = 'M';
    Put32(hdr + 2, uint32_t(kHeaderBytes + imageBytes));
    Put32(hdr + 10, kHeaderBytes);
    Put32(hdr + 14, 40);
    Put32(hdr + 18, uint32_t(w));
    Put32(hdr + 22, uint32_t(h)); // positive height: bottom-up rows
    Put16(hdr + 26, 1);
    Put16(hdr + 28, 24);
    Put32(hdr + 30, 0);
    Put32(hdr + 34, uint32_t(imageBytes));
    Put32(hdr + 38, uint32_t(std::lround(xdpi / 0.0254)));
    Put32(hdr + 42, uint32_t(std::lround(ydpi / 0.0254)));
    return true;
}

// Creates the temporary a page is made in. Its name starts with a dot and
// it sits in the target folder, so the final rename is atomic.
int MakeTemporary(const std::string& path, std::string& temporary) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tmpl = dir + "." + base + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return -1;
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    temporary = name.data();
    return fd;
}

// Closes and renames a complete temporary into place, or removes it.
bool PutInPlace(int fd, bool ok, const std::string& temporary, const std::string& path) {
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        int why = errno; // the caller reports it (a full disk, say)
        ::unlink(temporary.c_str());
        errno = why;
    }
    return ok;
}

} // namespace

bool WriteBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path) {
    int w = raster.Width(), h = raster.Height();
    size_t rowBytes = RowBytes(w);
    uint64_t imageBytes = uint64_t(rowBytes) * uint64_t(h);
    uint8_t hdr[kHeaderBytes];
    if (!MakeHeader(w, h, xdpi, ydpi, hdr)) return false;
    std::string temporary;
    int fd = MakeTemporary(path, temporary);
    if (fd < 0) return false;

    // Reserving the whole file at once spares the file system a block
    // reservation for every page of memory written. Where it cannot, the
    // writes below simply go ahead (no emulation by writing zeros first).
    (void)::fallocate(fd, 0, 0, off_t(kHeaderBytes + imageBytes));

    // The raster already holds B, G, R rows: hand them to the kernel as they
    // are, bottom row first, with the padding between them, in a few large
    // calls.
    static const uint8_t kZeros[4] = {};
    size_t pixelBytes = size_t(w) * 3, pad = rowBytes - pixelBytes;
    constexpr int kBatch = 1024; // IOV_MAX on Linux
    iovec iov[kBatch];
    int n = 0;
    iov[n++] = {hdr, sizeof hdr};
    bool ok = true;
    for (int y = h - 1; ok && y >= 0; --y) {
        iov[n++] = {const_cast<uint8_t*>(raster.Row(y)), pixelBytes};
        if (pad) iov[n++] = {const_cast<uint8_t*>(kZeros), pad};
        if (n > kBatch - 2 || y == 0) {
            ok = WriteAll(fd, iov, n);
            n = 0;
        }
    }
    if (ok && n > 0) ok = WriteAll(fd, iov, n);
    return PutInPlace(fd, ok, temporary, path);
}

bool MappedPageFile::Open(PageRaster& raster, const std::string& path) {
    Discard();
    int w = raster.Width(), h = raster.Height();
    uint8_t hdr[kHeaderBytes];
    if (w <= 0 || h <= 0 || !MakeHeader(w, h, 72, 72, hdr)) return false;
    size_t rowBytes = RowBytes(w);
    size_t size = kHeaderBytes + rowBytes * size_t(h);
    std::string temporary;
    int fd = MakeTemporary(path, temporary);
    if (fd < 0) return false;
    // Only a file whose blocks are all reserved may be drawn into: a store
    // into a mapped hole on a full disk would kill the process. Pages are
    // faulted in, writable, in one call here: one fault per 4 KiB while
    // drawing would cost more than the write this replaces.
    void* map = MAP_FAILED;
    struct stat st {};
    if (::fallocate(fd, 0, 0, off_t(size)) == 0 && ::fstat(fd, &st) == 0)
        map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED && ::madvise(map, size, kPopulateWrite) != 0) {
        ::munmap(map, size);
        map = MAP_FAILED;
    }
    if (map == MAP_FAILED) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    m_raster = &raster;
    m_map = static_cast<uint8_t*>(map);
    m_size = size;
    m_reserved = uint64_t(st.st_blocks) * 512;
    m_fd = fd;
    m_temp = std::move(temporary);
    m_path = path;
    // The file's rows run from the bottom of the page up.
    raster.Attach(m_map + kHeaderBytes + rowBytes * size_t(h - 1), -ptrdiff_t(rowBytes));
    return true;
}

bool MappedPageFile::Finish(int xdpi, int ydpi) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const PageRaster& raster = *m_raster;
    int w = raster.Width(), h = raster.Height();
    MakeHeader(w, h, xdpi, ydpi, m_map);
    // Rows nothing was drawn on are still the reserved file's zeros; the
    // padding after each row stays zero.
    size_t rowBytes = RowBytes(w);
    for (int y = 0; y < h; ++y)
        if (!raster.Touched(y))
            std::memset(m_map + kHeaderBytes + rowBytes * size_t(h - 1 - y), 255, size_t(w) * 3);
    int fd = m_fd;
    std::string temporary = std::move(m_temp), path = std::move(m_path);
    Close();
    return PutInPlace(fd, true, temporary, path);
}

void MappedPageFile::Discard() {
    if (!IsOpen()) return;
    int fd = m_fd;
    std::string temporary = std::move(m_temp);
    Close();
    ::close(fd);
    ::unlink(temporary.c_str());
}

void MappedPageFile::Close() {
    m_raster->Detach();
    ::munmap(m_map, m_size);
    m_raster = nullptr;
    m_map = nullptr;
    m_size = 0;
    m_reserved = 0;
    m_fd = -1;
}

} // namespace tarvik
