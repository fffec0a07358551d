#include "CommandLine.h"

#include "InputFiles.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <strings.h>
#include <sys/stat.h>

namespace varnel {

namespace {

// Format list order: the index is the profile key `type`.
const char* const kFormatNames[12] = {"jpg", "tif", "bmp", "png", "gif", "pcx",
                                      "wmf", "emf", "tga", "jp2", "jpc", "ras"};
const char* const kCompressionNames[7] = {"none", "lzw", "rle", "jpeg", "packbits", "fax3", "fax4"};

// Whole-text decimal number without sign; false on anything else.
bool ParseNumber(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::stoi(text);
    return true;
}

// "N" or "NxM" (either case of x).
bool ParsePair(const std::string& text, int* a, int* b, bool allowSingle) {
    std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        if (!allowSingle || !ParseNumber(text, a)) return false;
        *b = *a;
        return true;
    }
    return ParseNumber(text.substr(0, x), a) && ParseNumber(text.substr(x + 1), b);
}

int IndexOf(const char* const* names, int count, const std::string& text) {
    for (int i = 0; i < count; ++i)
        if (::strcasecmp(names[i], text.c_str()) == 0) return i;
    return -1;
}

std::string* ColorKeyOf(int type, ConvertSettings* s) {
    switch (type) {
    case 0:
        return &s->jpgc;
    case 1:
        return &s->tifc;
    case 2:
        return &s->bmpc;
    case 3:
        return &s->pngc;
    case 4:
        return &s->gifc;
    case 5:
        return &s->pcxc;
    case 8:
        return &s->tgac;
    case 9:
        return &s->jp2c;
    case 10:
        return &s->jpcc;
    case 11:
        return &s->rasc;
    default:
        return nullptr; // WMF and EMF have none
    }
}

} // namespace

const char* UsageText() {
    return "Usage: varnel-convert [options] INPUT...\n"
           "Converts PCL and PCL XL print files (.pcl, .pxl, .px3) into images.\n"
           "INPUT is a file or a folder (its files, not its subfolders).\n"
           "Settings come from the profile; options change them for this run only.\n"
           "\n"
           "  -f, --format FMT      jpg tif bmp png gif pcx wmf emf tga jp2 jpc ras\n"
           "  -c, --color NAME      \"True Color\", \"256 Color\", \"256 Grays\", \"16 Color\",\n"
           "                        \"16 Grays\" or \"B&W\" for the chosen format\n"
           "  -r, --dpi N|NxM       resolution, 72 to 600\n"
           "      --resize WxH      resize every page to W x H pixels\n"
           "      --no-resize       keep the page size\n"
           "      --rotate DEG      0, 90, 180 or 270\n"
           "      --each            one output folder per input file\n"
           "      --no-each         all outputs in one folder\n"
           "      --multipage       one multi-page TIFF file per input\n"
           "      --no-multipage    one TIFF file per page\n"
           "      --compression C   TIFF: none lzw rle jpeg packbits fax3 fax4\n"
           "  -q, --quality N       JPEG quality (also inside TIFF), 1 to 100\n"
           "  -o, --output DIR      write into DIR\n"
           "      --beside-source   write beside each input file\n"
           "      --profile FILE    read the settings from FILE\n"
           "      --quiet           print only errors\n"
           "      --verbose         print every status change\n"
           "      --help            show this help\n"
           "      --version         show the version\n"
           "\n"
           "Exit status: 0 every file converted, 1 a file failed or was aborted or no\n"
           "input was accepted, 2 usage error or the renderer could not be loaded.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            out->inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Split "--name=value" and "-xVALUE".
        std::string name = arg;
        std::optional<std::string> attached;
        if (arg.rfind("--", 0) == 0) {
            std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                attached = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            attached = arg.substr(2);
        }
        auto value = [&](std::string* v) {
            if (attached) {
                *v = *attached;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };
        auto flag = [&]() {
            if (attached) {
                *error = "option " + name + " takes no value";
                return false;
            }
            return true;
        };
        std::string v;
        if (name == "-f" || name == "--format") {
            if (!value(&v)) return false;
            int index = IndexOf(kFormatNames, 12, v);
            if (index < 0 && ::strcasecmp(v.c_str(), "jpeg") == 0) index = 0;
            if (index < 0 && ::strcasecmp(v.c_str(), "tiff") == 0) index = 1;
            if (index < 0) {
                *error = "unknown format '" + v + "'";
                return false;
            }
            out->type = index;
        } else if (name == "-c" || name == "--color") {
            if (!value(&v)) return false;
            int index = IndexOf(kColorModeNames, 6, v);
            if (index < 0) {
                *error = "unknown colour mode '" + v + "'";
                return false;
            }
            out->colorMode = kColorModeNames[index];
        } else if (name == "-r" || name == "--dpi") {
            int x = 0, y = 0;
            if (!value(&v)) return false;
            if (!ParsePair(v, &x, &y, true)) {
                *error = "resolution must be N or NxM, not '" + v + "'";
                return false;
            }
            out->xdpi = std::clamp(x, kMinDpi, kMaxDpi);
            out->ydpi = std::clamp(y, kMinDpi, kMaxDpi);
        } else if (name == "--resize") {
            int w = 0, h = 0;
            if (!value(&v)) return false;
            if (!ParsePair(v, &w, &h, false) || w <= 0 || h <= 0) {
                *error = "resize size must be WxH with W and H above 0, not '" + v + "'";
                return false;
            }
            out->resizeWidth = w;
            out->resizeHeight = h;
            out->noResize = false;
        } else if (name == "--no-resize") {
            if (!flag()) return false;
            out->noResize = true;
            out->resizeWidth.reset();
            out->resizeHeight.reset();
        } else if (name == "--rotate") {
            int a = -1;
            if (!value(&v)) return false;
            if (!ParseNumber(v, &a) || (a != 0 && a != 90 && a != 180 && a != 270)) {
                *error = "rotation must be 0, 90, 180 or 270, not '" + v + "'";
                return false;
            }
            out->angle = a;
        } else if (name == "--each" || name == "--no-each") {
            if (!flag()) return false;
            out->each = name == "--each" ? 1 : 0;
        } else if (name == "--multipage" || name == "--no-multipage") {
            if (!flag()) return false;
            out->multpage = name == "--multipage" ? 1 : 0;
        } else if (name == "--compression") {
            if (!value(&v)) return false;
            int index = IndexOf(kCompressionNames, 7, v);
            if (index < 0) {
                *error = "unknown compression '" + v + "'";
                return false;
            }
            out->compress = index;
        } else if (name == "-q" || name == "--quality") {
            int q = 0;
            if (!value(&v)) return false;
            if (!ParseNumber(v, &q) || q < 1 || q > 100) {
                *error = "quality must be 1 to 100, not '" + v + "'";
                return false;
            }
            out->quality = q;
        } else if (name == "-o" || name == "--output") {
            if (!value(&v)) return false;
            if (v.empty()) {
                *error = "the output folder is empty";
                return false;
            }
            out->outputFolder = v;
            out->besideSource = false;
        } else if (name == "--beside-source") {
            if (!flag()) return false;
            out->besideSource = true;
            out->outputFolder.reset();
        } else if (name == "--profile") {
            if (!value(&v)) return false;
            out->profile = v;
        } else if (name == "--quiet") {
            if (!flag()) return false;
            out->quiet = true;
        } else if (name == "--verbose") {
            if (!flag()) return false;
            out->verbose = true;
        } else if (name == "--help" || name == "-h") {
            if (!flag()) return false;
            out->help = true;
        } else if (name == "--version") {
            if (!flag()) return false;
            out->version = true;
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (out->quiet && out->verbose) {
        *error = "--quiet and --verbose exclude each other";
        return false;
    }
    if (!out->help && !out->version && out->inputs.empty()) {
        *error = "no INPUT given";
        return false;
    }
    return true;
}

std::string ApplyOptions(const CommandLine& o, WindowSettings* w, ConvertSettings* s) {
    std::string note;
    if (o.type) w->type = *o.type;
    if (o.outputFolder) {
        w->mode = 1;
        w->output = *o.outputFolder;
        if (w->output.back() != '/') w->output += '/';
    }
    if (o.besideSource) w->mode = 0;
    if (o.colorMode) {
        if (std::string* key = ColorKeyOf(w->type, s))
            *key = *o.colorMode;
        else
            note = "the colour mode does not apply to EMF and WMF output";
    }
    if (o.xdpi) s->xdpi = *o.xdpi;
    if (o.ydpi) s->ydpi = *o.ydpi;
    if (o.resizeWidth) {
        s->resize = 1;
        s->width = *o.resizeWidth;
        s->height = *o.resizeHeight;
    }
    if (o.noResize) s->resize = 0;
    if (o.angle) s->angle = *o.angle;
    if (o.each) s->each = *o.each;
    if (o.multpage) s->multpage = *o.multpage;
    if (o.compress) s->compress = *o.compress;
    if (o.quality) {
        s->JQu = *o.quality;
        s->TJQu = *o.quality;
    }
    return note;
}

std::vector<std::string> GatherInputs(const std::vector<std::string>& arguments,
                                      std::ostream& err) {
    std::vector<std::string> accepted;
    auto consider = [&](const std::string& path) {
        if (IsAcceptedInput(path))
            accepted.push_back(path);
        else
            err << "varnel-convert: skipped " << path
                << ": not a readable .pcl, .pxl or .px3 file\n";
    };
    for (const std::string& arg : arguments) {
        struct stat st {};
        if (::stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (const std::string& file : FolderFiles(arg)) consider(file);
        } else {
            consider(arg);
        }
    }
    return accepted;
}

ConsoleView::ConsoleView(std::vector<std::string> paths, std::ostream& out, std::ostream& err,
                         bool quiet, bool verbose, bool progressBar)
    : m_paths(std::move(paths)), m_statuses(m_paths.size(), "Ready"), m_out(out), m_err(err),
      m_quiet(quiet), m_verbose(verbose), m_progressBar(progressBar && !quiet) {}

std::string ConsoleView::RowPath(int row) {
    return row >= 0 && row < RowCount() ? m_paths[row] : std::string();
}

void ConsoleView::ClearProgress() {
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseBar();
}

void ConsoleView::EraseBar() {
    if (m_barShown) {
        m_err << "\r\033[K" << std::flush;
        m_barShown = false;
    }
}

void ConsoleView::SetRowStatus(int row, const std::string& status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (row < 0 || row >= RowCount()) return;
    m_statuses[row] = status;
    bool final = status == "Succeed" || status == "Failed" || status == "Aborted";
    if (m_quiet || !(final || m_verbose)) return;
    bool bar = m_barShown;
    EraseBar();
    m_out << m_paths[row] << ": " << status << std::endl;
    if (bar) DrawBar();
}

void ConsoleView::SetProgress(int position) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_position = std::clamp(position, 0, 100);
    if (m_progressBar) DrawBar();
}

void ConsoleView::DrawBar() {
    constexpr int kWidth = 30;
    int filled = m_position * kWidth / 100;
    m_err << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
          << m_position << "%" << std::flush;
    m_barShown = true;
}

int ConsoleView::ExitStatus() const {
    if (m_statuses.empty()) return 1;
    for (const std::string& s : m_statuses)
        if (s != "Succeed") return 1;
    return 0;
}

} // namespace varnel
