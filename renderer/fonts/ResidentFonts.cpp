#include "ResidentFonts.h"

namespace tarvik::fonts {

namespace {
const ResidentFont kFonts[] = {
    {"Courier", 4099, 0, 0, false, true, 10, 0, 277, "NimbusMonoPS-Regular.otf",
     "LiberationMono-Regular.ttf", false, 0},
};
} // namespace

std::span<const ResidentFont> ResidentFonts() {
    return kFonts;
}

double ResidentAdvance(const ResidentFont& font, uint32_t unicode) {
    if (!font.proportional) return unicode < 0x20 ? -1 : 0.6;
    return -1;
}

} // namespace tarvik::fonts
