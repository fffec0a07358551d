#include "CommandLine.h"

#include <algorithm>
#include <climits>
#include <cstdio>
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

// A whole number in [low, high]; the message names the range.
bool ParseRanged(const std::string& name, const std::string& text, long low, long high, long* v,
                 std::string* error) {
    int n = 0;
    if (!ParseNumber(text, &n) || n < low || n > high) {
        *error = name + " must be " + std::to_string(low) + " to " + std::to_string(high) +
                 ", not '" + text + "'";
        return false;
    }
    *v = n;
    return true;
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
           "       varnel-convert [options] --watch DIR\n"
           "Converts print files (PCL 5, PCL XL, HP-GL/2, with or without PJL) into images.\n"
           "A named file is taken when its content is a print job, whatever its name; a\n"
           "folder gives its .pcl .pxl .px3 .prn .plt .hpg .hpgl .hp2 .pcl5 .pclxl files.\n"
           "Defaults: PNG, True Color, 300 dpi, written beside each input.\n"
           "\n"
           "Inputs:\n"
           "  -R, --recursive       also take the files of subfolders\n"
           "      --files-from F    read paths from F, one a line (- for standard input)\n"
           "  -0, --null            the lists separate paths with NUL, not newlines\n"
           "      --shard K/N       take the K-th (0 to N-1) of N slices of the inputs\n"
           "      --watch DIR       convert files as they arrive in DIR (outputs to DIR/out\n"
           "                        unless -o), move them to DIR/done or DIR/failed\n"
           "Output:\n"
           "  -f, --format FMT      jpg tif bmp png gif pcx wmf emf tga jp2 jpc ras\n"
           "  -c, --color NAME      \"True Color\", \"256 Color\", \"256 Grays\", \"16 Color\",\n"
           "                        \"16 Grays\" or \"B&W\" for the chosen format\n"
           "  -r, --dpi N|NxM       resolution, 72 to 600\n"
           "      --pages LIST      pages to convert, e.g. 1-3,7 or 5- (from 1)\n"
           "      --paper P         page canvas: a4 (default), letter, legal or auto (each\n"
           "                        page takes the paper the job asks for)\n"
           "      --fit             shrink a page larger than the canvas (a large plot)\n"
           "                        onto it instead of clipping it\n"
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
           "      --overwrite       replace outputs of earlier runs (default)\n"
           "      --no-clobber      fail a file whose outputs exist\n"
           "      --skip-existing   skip a file whose outputs exist (to resume a batch)\n"
           "Settings:\n"
           "      --profile FILE    start from the settings in FILE\n"
           "      --use-desktop-profile  start from the desktop program's settings\n"
           "Running:\n"
           "  -j, --jobs N          convert N files at once (default: every core)\n"
           "      --timeout S       fail a file after S seconds (default 600, 0: none)\n"
           "      --max-memory M    fail a file that needs more than M MiB (default 4096,\n"
           "                        0: none)\n"
           "      --page-limit M    fail a file whose page images pass M MiB (1 to\n"
           "                        1048576; default 262144)\n"
           "      --disk-reserve M  fail a file that would leave less than M MiB free for\n"
           "                        temporary files (0 to 1048576; default a tenth of the\n"
           "                        file system, at most 512)\n"
           "      --strict          a file with warnings fails\n"
           "Report:\n"
           "      --json            one JSON object per file on standard output (input,\n"
           "                        status, reason, pages, outputs, warnings, notes,\n"
           "                        seconds); the lines for people go to standard error\n"
           "      --quiet           print only failures\n"
           "      --verbose         print every status change\n"
           "      --help            show this help\n"
           "      --version         show the version\n"
           "\n"
           "Exit status: 0 every file converted (or skipped), 1 a file failed, was\n"
           "stopped or was not taken, 2 usage error or the renderer could not be loaded.\n";
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
            if (x < kMinDpi || x > kMaxDpi || y < kMinDpi || y > kMaxDpi) {
                *error = "resolution must be " + std::to_string(kMinDpi) + " to " +
                         std::to_string(kMaxDpi) + " dpi, not '" + v + "'";
                return false;
            }
            out->xdpi = x;
            out->ydpi = y;
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
        } else if (name == "--use-desktop-profile") {
            if (!flag()) return false;
            out->useDesktopProfile = true;
        } else if (name == "-R" || name == "--recursive") {
            if (!flag()) return false;
            out->recursive = true;
        } else if (name == "--files-from") {
            if (!value(&v)) return false;
            out->filesFrom.push_back(v);
        } else if (name == "-0" || name == "--null") {
            if (!flag()) return false;
            out->nullSeparated = true;
        } else if (name == "-j" || name == "--jobs") {
            long n = 0;
            if (!value(&v) || !ParseRanged("jobs", v, 1, 256, &n, error)) return false;
            out->jobs = int(n);
        } else if (name == "--timeout") {
            long n = 0;
            if (!value(&v) || !ParseRanged("timeout (seconds, 0 for none)", v, 0, 86400, &n, error))
                return false;
            out->timeoutSeconds = int(n);
        } else if (name == "--max-memory") {
            long n = 0;
            if (!value(&v)) return false;
            if (v != "0" &&
                !ParseRanged("memory limit (MiB, 0 for none)", v, 64, 1048576, &n, error))
                return false;
            out->maxMemoryMiB = n;
        } else if (name == "--page-limit") {
            long n = 0;
            if (!value(&v) ||
                !ParseRanged("page limit (MiB of page files per input)", v, 1, 1048576, &n, error))
                return false;
            out->pageLimitMiB = n;
        } else if (name == "--disk-reserve") {
            long n = 0;
            if (!value(&v) || !ParseRanged("disk reserve (MiB kept free for temporary files)", v, 0,
                                           1048576, &n, error))
                return false;
            out->diskReserveMiB = n;
        } else if (name == "--shard") {
            if (!value(&v)) return false;
            std::size_t slash = v.find('/');
            int k = -1, n = 0;
            if (slash == std::string::npos || !ParseNumber(v.substr(0, slash), &k) ||
                !ParseNumber(v.substr(slash + 1), &n) || n < 1 || k >= n) {
                *error = "shard must be K/N with N at least 1 and K from 0 to N-1, not '" + v + "'";
                return false;
            }
            out->shardIndex = k;
            out->shardCount = n;
        } else if (name == "--pages") {
            if (!value(&v)) return false;
            out->pages.clear();
            if (!ParsePageRanges(v, &out->pages)) {
                *error = "pages must be a list like 1-3,7 (pages count from 1, ranges go "
                         "upward), not '" +
                         v + "'";
                return false;
            }
        } else if (name == "--paper") {
            if (!value(&v)) return false;
            if (v != "a4" && v != "letter" && v != "legal" && v != "auto") {
                *error = "paper must be a4, letter, legal or auto, not '" + v + "'";
                return false;
            }
            out->paper = v;
        } else if (name == "--overwrite" || name == "--no-clobber" || name == "--skip-existing") {
            if (!flag()) return false;
            out->existing = name.substr(2);
        } else if (name == "--fit") {
            if (!flag()) return false;
            out->fit = true;
        } else if (name == "--strict") {
            if (!flag()) return false;
            out->strict = true;
        } else if (name == "--json") {
            if (!flag()) return false;
            out->json = true;
        } else if (name == "--watch") {
            if (!value(&v)) return false;
            if (v.empty()) {
                *error = "the watch folder is empty";
                return false;
            }
            out->watchFolder = v;
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
    if (!out->profile.empty() && out->useDesktopProfile) {
        *error = "--profile and --use-desktop-profile exclude each other";
        return false;
    }
    if (out->watchFolder && (!out->inputs.empty() || !out->filesFrom.empty())) {
        *error = "--watch takes no other input";
        return false;
    }
    if (!out->help && !out->version && out->inputs.empty() && out->filesFrom.empty() &&
        !out->watchFolder) {
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

bool ParsePageRanges(const std::string& text, std::vector<std::pair<int, int>>* ranges) {
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        std::string part =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        std::size_t dash = part.find('-');
        int first = 0, last = 0;
        if (dash == std::string::npos) {
            if (!ParseNumber(part, &first)) return false;
            last = first;
        } else {
            if (!ParseNumber(part.substr(0, dash), &first)) return false;
            std::string tail = part.substr(dash + 1);
            if (tail.empty())
                last = INT_MAX; // "5-": to the end
            else if (!ParseNumber(tail, &last))
                return false;
        }
        if (first < 1 || last < first) return false;
        ranges->push_back({first, last});
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return !ranges->empty();
}

std::string CheckCompression(int type, const ConvertSettings& s) {
    if (type != 1) return "";
    const int mode = IndexOf(kColorModeNames, 6, s.tifc);
    // The modes each compression keeps; any other is written another way.
    const char* works = nullptr;
    bool ok = true;
    switch (s.compress) {
    case 2: // rle
    case 5: // fax3
    case 6: // fax4
        ok = mode == 5;
        works = "B&W";
        break;
    case 3: // jpeg
        ok = mode == 0 || mode == 2;
        works = "True Color, 256 Grays";
        break;
    case 4: // packbits
        ok = mode != 5;
        works = "True Color, 256 Color, 256 Grays, 16 Color, 16 Grays";
        break;
    default:
        break;
    }
    if (ok) return "";
    return std::string("TIFF compression ") + kCompressionNames[s.compress] +
           " cannot hold the colour mode '" + s.tifc + "'; it works with: " + works;
}

namespace {

// A path on one line of its own, whatever bytes it holds.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c == 0x7f)
            out += '?';
        else
            out += char(c);
    }
    return out;
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

Headway BatchHeadway(const std::vector<FileHeadway>& files) {
    Headway h;
    double knownPages = 0, knownBytes = 0;
    for (const FileHeadway& f : files) {
        if (f.finished || f.pages >= 0) {
            h.known = true;
            knownPages += std::max(f.rendered, f.pages);
            knownBytes += double(f.bytes);
        }
    }
    const double perByte = knownBytes > 0 ? knownPages / knownBytes : 0;
    for (const FileHeadway& f : files) {
        if (f.finished) {
            // A file that failed early still took its time.
            double units = 2.0 * std::max(1, f.rendered);
            h.done += units;
            h.total += units;
            h.pages += f.rendered;
        } else if (f.pages >= 0) {
            int rendered = std::max(f.rendered, f.pages); // a page selection converts fewer
            h.done += rendered + std::min(f.converted, f.pages);
            h.total += rendered + f.pages;
            h.pages += rendered;
        } else {
            double expected = std::max({1.0, double(f.rendered), double(f.bytes) * perByte});
            h.done += f.rendered;
            h.total += 2 * expected;
            h.pages += f.rendered;
        }
    }
    return h;
}

BatchReport::BatchReport(std::vector<std::string> inputs, std::ostream& out, std::ostream& err,
                         ReportStyle style)
    : m_inputs(std::move(inputs)), m_results(m_inputs.size()), m_out(out), m_err(err),
      m_style(style), m_headway(m_inputs.size()) {
    if (m_style.quiet) m_style.progress = false;
}

void BatchReport::SetInputBytes(const std::vector<long long>& bytes) {
    for (std::size_t i = 0; i < bytes.size() && i < m_headway.size(); ++i)
        m_headway[i].bytes = bytes[i];
}

void BatchReport::Rejected(const std::string& path, const std::string& reason) {
    ++m_rejected;
    ClearProgress();
    m_err << "varnel-convert: " << Printable(path) << ": " << reason << "\n";
    if (m_style.json) {
        FileResult r;
        r.input = path;
        r.status = "Failed";
        r.reason = reason;
        WriteJson(r);
    }
}

void BatchReport::Started(int index) {
    m_current = index;
    if (m_style.progress) DrawProgress();
}

void BatchReport::Rendered(int index, int pages) {
    if (index < 0 || std::size_t(index) >= m_headway.size()) return;
    m_current = index;
    m_headway[index].rendered = std::max(m_headway[index].rendered, pages);
    if (m_style.progress) DrawProgress();
}

void BatchReport::Page(int index, int page, int pages) {
    if (index < 0 || std::size_t(index) >= m_headway.size()) return;
    m_current = index;
    // A merged file's steps name page numbers, which a selection makes larger
    // than the count.
    m_headway[index].pages = pages;
    m_headway[index].converted = std::max(m_headway[index].converted, std::min(page, pages));
    if (m_style.progress) DrawProgress();
}

void BatchReport::Status(int index, const std::string& status) {
    if (!m_style.verbose || index < 0 || std::size_t(index) >= m_inputs.size()) return;
    ClearProgress();
    Human() << Printable(m_inputs[index]) << ": " << status << "\n";
}

void BatchReport::Finished(int index, const FileResult& result) {
    if (index < 0 || std::size_t(index) >= m_results.size()) return;
    m_results[index] = result;
    ++m_done;
    if (result.status == "Skipped")
        ++m_skipped;
    else if (result.status != "Succeed")
        ++m_failed;
    if (!result.warnings.empty()) ++m_warned;
    m_outputs += long(result.outputs.size());
    m_pages += result.pagesRendered;
    FileHeadway& h = m_headway[index];
    h.finished = true;
    h.rendered = result.pagesRendered;
    Flush();
    if (m_style.progress) DrawProgress();
}

void BatchReport::Flush() {
    while (m_written < m_results.size() && m_results[m_written]) {
        ClearProgress();
        WriteRow(*m_results[m_written]);
        ++m_written;
    }
    m_out.flush();
    m_err.flush();
}

void BatchReport::WriteJson(const FileResult& r) {
    auto list = [this](const std::vector<std::string>& items) {
        m_out << "[";
        for (std::size_t i = 0; i < items.size(); ++i)
            m_out << (i ? "," : "") << JsonString(items[i]);
        m_out << "]";
    };
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.3f,\"convert_seconds\":%.3f", r.seconds,
                  r.workSeconds);
    m_out << "{\"input\":" << JsonString(r.input) << ",\"status\":" << JsonString(r.status)
          << ",\"reason\":" << JsonString(r.reason) << ",\"pages\":" << r.pagesRendered
          << ",\"outputs\":";
    list(r.outputs);
    m_out << ",\"warnings\":";
    list(r.warnings);
    m_out << ",\"notes\":";
    list(r.notes);
    m_out << ",\"seconds\":" << seconds << "}\n";
}

void BatchReport::WriteRow(const FileResult& r) {
    if (m_style.json) WriteJson(r);
    const bool failed = r.status != "Succeed" && r.status != "Skipped";
    if (m_style.quiet && !failed) return;
    std::ostream& o = m_style.quiet ? m_err : Human();
    o << Printable(r.input) << ": " << r.status;
    if (!r.warnings.empty())
        o << " with " << r.warnings.size() << (r.warnings.size() == 1 ? " warning" : " warnings");
    if (!r.reason.empty()) o << ": " << r.reason;
    if (r.skipped && !r.notes.empty()) o << ": " << Printable(r.notes.front());
    if (!r.outputs.empty()) {
        o << " -> " << Printable(r.outputs.front());
        if (r.outputs.size() == 2) o << ", " << Printable(r.outputs.back());
        if (r.outputs.size() > 2)
            o << " ... " << Printable(r.outputs.back()) << " (" << r.outputs.size() << " files)";
    }
    o << "\n";
    for (const std::string& w : r.warnings) o << "  warning: " << Printable(w) << "\n";
    if (!r.skipped)
        for (const std::string& n : r.notes) o << "  note: " << Printable(n) << "\n";
}

void BatchReport::Summary(double seconds) {
    ClearProgress();
    if (m_style.quiet) return;
    Human() << "varnel-convert: " << (m_done - m_failed - m_skipped) << " converted, "
            << (m_failed + m_rejected) << " failed, " << m_warned << " with warnings, " << m_skipped
            << " skipped; " << m_pages << " pages, " << m_outputs << " outputs in "
            << Seconds(seconds) << "\n";
    Human().flush();
}

int BatchReport::ExitStatus() const {
    if (m_rejected > 0 || m_failed > 0 || m_inputs.empty()) return 1;
    for (const auto& r : m_results)
        if (!r) return 1; // never started: the run was stopped
    return 0;
}

void BatchReport::ClearProgress() {
    if (m_progressShown) {
        m_err << "\r\033[K" << std::flush;
        m_progressShown = false;
    }
}

void BatchReport::DrawProgress() {
    const int total = int(m_inputs.size());
    const Headway h = BatchHeadway(m_headway);
    std::string line = std::to_string(m_done) + "/" + std::to_string(total) + " files, " +
                       std::to_string(m_failed) + " failed, " + std::to_string(h.pages) + " pages";
    if (m_current >= 0 && m_done < total)
        line += ", " + Printable(m_inputs[m_current].substr(m_inputs[m_current].rfind('/') + 1));
    if (h.known && h.done > 0 && h.total > h.done) {
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        long left = long(elapsed / h.done * (h.total - h.done) + 0.5);
        line += ", about " + std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") +
                std::to_string(left % 60) + " left";
    }
    if (line.size() > 100) line.resize(100);
    m_err << "\r\033[K" << line << std::flush;
    m_progressShown = true;
}

} // namespace varnel
