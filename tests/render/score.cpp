// render-score OURS REFERENCE: prints the ink, tone and total fidelity score of
// one page against its reference (PNG or BMP). With --offset it also reports
// the shift that best lines our page up with the reference (from the rows'
// and columns' ink profiles), to tell misplacement from misdrawing.
#include "ScoreImage.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool offset = argc == 4 && std::strcmp(argv[1], "--offset") == 0;
    if (argc != 3 && !offset) {
        std::fprintf(stderr, "usage: render-score [--offset] OURS REFERENCE\n");
        return 2;
    }
    const char* oursPath = argv[argc - 2];
    const char* refPath = argv[argc - 1];
    render_score::Image a, b;
    std::string error;
    if (!render_score::LoadImage(oursPath, a, error) ||
        !render_score::LoadImage(refPath, b, error)) {
        std::fprintf(stderr, "render-score: %s\n", error.c_str());
        return 1;
    }
    render_score::Score s = render_score::ScorePages(a, b);
    std::printf("ink %.4f tone %.4f score %.4f\n", s.ink, s.tone, s.Total());
    if (offset) {
        render_score::Alignment al = render_score::ScoreAligned(a, b, 120);
        std::printf("ours is shifted by %+d, %+d pixels against the reference; aligned: ink %.4f "
                    "tone %.4f score %.4f\n",
                    al.dx, al.dy, al.score.ink, al.score.tone, al.score.Total());
    }
    return 0;
}
