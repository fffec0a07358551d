// libtiff over a toolkit stream: the client procedures and quiet handlers.
#pragma once

typedef struct tiff TIFF;
class ImageStream;

// Opens a TIFF for appending on `stream`, which holds nothing but the TIFF
// ("a": a header already in the stream is kept and new directories go after
// it; an empty stream gets a new little-endian header). libtiff's own error
// and warning output is silenced for the whole process first. Returns null
// when libtiff refuses.
TIFF* OpenTiffOnStream(ImageStream* stream);
