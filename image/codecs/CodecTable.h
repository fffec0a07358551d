// The one registry of codecs: a row per ImageFormat code with the function
// that saves an image in that format and the one that loads it. A null entry
// fails like an unknown code.
#pragma once

#include "Raster.h"

class ImageStream;

using EncodeFunction = bool (*)(CRaster& self, ImageStream* stream);
using DecodeFunction = bool (*)(CRaster& self, ImageStream* stream);

struct CodecEntry {
    EncodeFunction encode;
    DecodeFunction decode;
};

// Indexed by ImageFormat code 0..21.
extern const CodecEntry kCodecTable[kFormatCount];

// Codes tried, in order, when loading with code 0.
extern const uint32_t kDetectionOrder[];
extern const size_t kDetectionOrderLength;

// Runs codec.Encode(stream) on a view of self; a failure's text is copied back.
template <class Codec> bool EncodeWith(Codec& codec, CRaster& self, ImageStream* stream) {
    codec.MakeView(self);
    bool ok = codec.Encode(stream);
    if (!ok) self.SetLastError(codec.LastError());
    return ok;
}

// Decodes into codec (a fresh temporary) and moves the result into self.
template <class Codec> bool DecodeWith(Codec& codec, CRaster& self, ImageStream* stream) {
    codec.CopySettings(self);
    if (!codec.Decode(stream)) {
        self.SetLastError(codec.LastError());
        return false;
    }
    return self.TakeOver(codec, true);
}

template <class Codec> bool EncodeAs(CRaster& self, ImageStream* stream) {
    Codec codec;
    return EncodeWith(codec, self, stream);
}

template <class Codec> bool DecodeAs(CRaster& self, ImageStream* stream) {
    Codec codec;
    return DecodeWith(codec, self, stream);
}
