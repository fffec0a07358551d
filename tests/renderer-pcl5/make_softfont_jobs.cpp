// Writes the soft-font demonstration jobs into a folder:
//   truetype-f15.pcl  a TrueType face downloaded as a format 15 font (only
//                     for faces with TrueType outlines)
//   bitmap-f0.pcl     FreeType bitmaps as a format 0 font (class 1)
//   bitmap-f20.pcl    likewise as format 20 at 600 dpi (class 2)
//   truetype-vertical.pcl  the TrueType face as a large font with vertical
//                     metrics, set on the vertical-rotated text path
// Usage: make_softfont_jobs <folder> <font file> <text file>
#include "SoftFontWriter.h"

#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: make_softfont_jobs <folder> <font file> <text file>\n";
        return 2;
    }
    std::ifstream textIn(argv[3]);
    std::string text((std::istreambuf_iterator<char>(textIn)), {});
    std::string dir = argv[1], font = argv[2];
    auto write = [&](const char* name, const std::string& download) {
        if (download.empty()) {
            std::cerr << "cannot read " << font << "\n";
            return false;
        }
        std::ofstream out(dir + "/" + name, std::ios::binary);
        bool vertical = std::string(name) == "truetype-vertical.pcl";
        out << "\x1b"
               "E"
            << download << (vertical ? "\x1b&c-1T" : "") << softfontwriter::TextPage(7, text)
            << "\x1b"
               "E";
        return bool(out);
    };
    softfontwriter::BitmapOptions f0{0, 300, 12, false}, f20{20, 600, 12, true};
    std::string truetype = softfontwriter::TrueTypeFont(font, 7);
    if (truetype.empty()) std::cerr << font << " has no TrueType outlines: no format 15 job\n";
    bool ok = (truetype.empty() || write("truetype-f15.pcl", truetype)) &&
              write("bitmap-f0.pcl", softfontwriter::BitmapFont(font, 7, f0)) &&
              write("bitmap-f20.pcl", softfontwriter::BitmapFont(font, 7, f20)) &&
              (truetype.empty() ||
               write("truetype-vertical.pcl", softfontwriter::TrueTypeFont(font, 7, 32767, true)));
    return ok ? 0 : 1;
}
