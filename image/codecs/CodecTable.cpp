#include "CodecTable.h"

#include "RasterBMP.h"
#include "RasterGIF.h"
#include "RasterJ2K.h"
#include "RasterJPG.h"
#include "RasterPCX.h"
#include "RasterPNG.h"
#include "RasterTGA.h"
#include "RasterTIF.h"

namespace {

bool EncodeWmfRefused(CRaster& self, ImageStream*) {
    self.SetLastError("Save WMF not supported");
    return false;
}

bool EncodeRawRefused(CRaster& self, ImageStream*) {
    self.SetLastError("Save RAW not supported");
    return false;
}

} // namespace

// Each format's writer owner fills its own row.
const CodecEntry kCodecTable[kFormatCount] = {
    /*  0 none */ {nullptr, nullptr},
    /*  1 BMP  */ {EncodeAs<CRasterBMP>, DecodeAs<CRasterBMP>},
    /*  2 GIF  */ {EncodeAs<CRasterGIF>, nullptr},
    /*  3 JPG  */ {EncodeAs<CRasterJPG>, nullptr},
    /*  4 PNG  */ {EncodeAs<CRasterPNG>, nullptr},
    /*  5 ICO  */ {nullptr, nullptr},
    /*  6 TIF  */ {EncodeAs<CRasterTIF>, nullptr},
    /*  7 TGA  */ {EncodeAs<CRasterTGA>, nullptr},
    /*  8 PCX  */ {EncodeAs<CRasterPCX>, nullptr},
    /*  9 WBMP */ {nullptr, nullptr},
    /* 10 WMF  */ {EncodeWmfRefused, nullptr},
    /* 11 JP2  */ {EncodeJ2KAs<kFormatJP2>, nullptr},
    /* 12 JPC  */ {EncodeJ2KAs<kFormatJPC>, nullptr},
    /* 13 PGX  */ {nullptr, nullptr},
    /* 14 PNM  */ {nullptr, nullptr},
    /* 15 RAS  */ {EncodeJ2KAs<kFormatRAS>, nullptr},
    /* 16 JBG  */ {nullptr, nullptr},
    /* 17 MNG  */ {nullptr, nullptr},
    /* 18 SKA  */ {nullptr, nullptr},
    /* 19 RAW  */ {EncodeRawRefused, nullptr},
    /* 20 PSD  */ {nullptr, nullptr},
    /* 21 PCX through code 8 */ {EncodeAs<CRasterPCX>, nullptr},
};

// BMP, JPG, ICO, GIF, PNG, TIF, MNG, TGA, PCX, WBMP, WMF, JBG, the JPEG 2000
// family (JP2, JPC, PGX, PNM, RAS; one reader may serve several rows), SKA,
// RAW, PSD. Rows without a reader are passed over.
const uint32_t kDetectionOrder[] = {1,  3,  5,  2,  4,  6,  17, 7,  8,  9,
                                    10, 16, 11, 12, 13, 14, 15, 18, 19, 20};
const size_t kDetectionOrderLength = sizeof(kDetectionOrder) / sizeof(kDetectionOrder[0]);
