#include "Runner.h"

namespace varnel {

// Stand-in while the conversion engine is not part of the build: every output
// fails, so no row can claim success.
namespace {
int NoCreate() {
    return 0;
}
int NoAddFile(int, const char*, int) {
    return 0;
}
int NoSetOption(int, int, const char*, int, void*) {
    return 0;
}
int NoRun(int) {
    return 0;
}
int NoDestroy(int) {
    return 0;
}
} // namespace

const ConverterApi& EngineConverterApi() {
    static const ConverterApi api{NoCreate, NoAddFile, NoSetOption, NoRun, NoDestroy};
    return api;
}

} // namespace varnel
