#include "TiffGlue.h"

#include "ImageStream.h"

#include <tiffio.h>

#include <cstdarg>
#include <mutex>

namespace {

// Our callers see only the writer's own texts; libtiff's messages would go to
// stderr of a desktop program with nobody to read them.
void QuietHandler(const char*, const char*, va_list) {}

tsize_t StreamRead(thandle_t handle, tdata_t buffer, tsize_t size) {
    auto* stream = static_cast<ImageStream*>(handle);
    // Reading at the end is answered here: a file opened only for writing
    // (a new single-page TIFF) would otherwise get its error flag set by the
    // header probe, and that flag reads as a failed save.
    const int64_t left = stream->Size() - stream->Tell();
    if (left <= 0 || size <= 0) return 0;
    if (int64_t(size) > left) size = tsize_t(left);
    return tsize_t(stream->Read(buffer, 1, size_t(size)));
}

tsize_t StreamWrite(thandle_t handle, tdata_t buffer, tsize_t size) {
    auto* stream = static_cast<ImageStream*>(handle);
    return tsize_t(stream->Write(buffer, 1, size_t(size)));
}

toff_t StreamSeek(thandle_t handle, toff_t offset, int whence) {
    if (offset == toff_t(-1)) return toff_t(-1);
    auto* stream = static_cast<ImageStream*>(handle);
    if (!stream->Seek(int64_t(offset), whence)) return toff_t(-1);
    if (whence == SEEK_SET) return offset;
    return toff_t(stream->Tell());
}

// Closing the TIFF never closes the stream: its opener owns it.
int StreamClose(thandle_t) {
    return 0;
}

toff_t StreamSize(thandle_t handle) {
    auto* stream = static_cast<ImageStream*>(handle);
    return toff_t(stream->Size());
}

int StreamMap(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void StreamUnmap(thandle_t, tdata_t, toff_t) {}

} // namespace

TIFF* OpenTiffOnStream(ImageStream* stream) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        TIFFSetErrorHandler(QuietHandler);
        TIFFSetWarningHandler(QuietHandler);
    });
    // libtiff's offsets are absolute and it reads the header where the stream
    // stands; after a failed page the position is somewhere inside the file,
    // and the next page of a series must still find the header at 0.
    stream->Seek(0, 0);
    return TIFFClientOpen("TIFF IMAGE", "a", static_cast<thandle_t>(stream), StreamRead,
                          StreamWrite, StreamSeek, StreamClose, StreamSize, StreamMap, StreamUnmap);
}
