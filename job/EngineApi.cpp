#include "ImgConv.h"
#include "Runner.h"

namespace varnel {

const ConverterApi& EngineConverterApi() {
    static const ConverterApi api{ImgConvCreate, ImgConvAddFile, ImgConvSetOption, ImgConvRun,
                                  ImgConvDestroy};
    return api;
}

} // namespace varnel
