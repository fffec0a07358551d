#include "job/Runner.h"

#include "job/Pjl.h"
#include "pcl5/Pcl5.h"
#include "pclxl/PclXl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace tarvik {

namespace {

constexpr char kUel[] = "\x1b%-12345X";
constexpr size_t kUelSize = 9;

bool StartsWithNoCase(const uint8_t* p, size_t n, const char* word) {
    size_t len = std::strlen(word);
    if (n < len) return false;
    for (size_t i = 0; i < len; ++i)
        if (std::toupper(p[i]) != std::toupper(static_cast<unsigned char>(word[i]))) return false;
    return true;
}

bool IsUel(const uint8_t* p, size_t n) {
    return n >= kUelSize && std::memcmp(p, kUel, kUelSize) == 0;
}

// Bytes printers pass over between jobs without complaint.
bool IsFiller(uint8_t c) {
    return c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0x04 ||
           c == 0x1A;
}

enum class Language { None, PclXl, Pcl5, Hpgl2, Other };

Language LanguageFromName(std::string name) {
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (name == "PCLXL" || name == "PCL6" || name == "PCLXL3") return Language::PclXl;
    if (name == "PCL" || name == "PCL5" || name == "PCL5C" || name == "PCL5E" ||
        name == "PCL3GUI" || name == "PCL3")
        return Language::Pcl5;
    if (name == "HPGL2" || name == "HPGL" || name == "HP-GL/2" || name == "RTL")
        return Language::Hpgl2;
    return Language::Other;
}

// A stand-alone HP-GL/2 plot: it opens with BP or IN, with ESC %-1B (or
// another ESC %#B) or with ESC E ESC %#B.
bool IsPlotStart(const uint8_t* p, size_t n) {
    auto enter = [](const uint8_t* q, size_t m) {
        if (m < 4 || q[0] != 0x1b || q[1] != '%') return false;
        size_t i = 2;
        if (i < m && q[i] == '-') ++i;
        size_t digits = i;
        while (i < m && i < digits + 3 && std::isdigit(q[i])) ++i;
        return i > digits && i < m && q[i] == 'B';
    };
    if (enter(p, n)) return true;
    if (n >= 2 && p[0] == 0x1b && p[1] == 'E') return enter(p + 2, n - 2);
    if (n < 3) return false;
    bool in = StartsWithNoCase(p, n, "IN"), bp = StartsWithNoCase(p, n, "BP");
    if (!in && !bp) return false;
    // What follows must read as HP-GL/2, not as the start of a word.
    uint8_t c = p[2];
    if (c == ';' || c == '\r' || c == '\n') return true;
    if (bp && (std::isdigit(c) || c == ' ')) return true;
    if (n < 4 || !std::isupper(c) || !std::isupper(p[3])) return false;
    static const char* const kNext[] = {"IN", "BP", "DF", "PS", "SP", "SC", "IP", "IR", "IW",
                                        "RO", "PU", "PA", "PD", "WU", "NP", "PW", "PC", "QL"};
    for (const char* m : kNext)
        if (c == m[0] && p[3] == m[1]) return true;
    return false;
}

} // namespace

size_t FindUel(const uint8_t* data, size_t size, size_t from) {
    while (from < size) {
        const void* hit = std::memchr(data + from, 0x1b, size - from);
        if (!hit) return size;
        size_t at = size_t(static_cast<const uint8_t*>(hit) - data);
        if (IsUel(data + at, size - at)) return at;
        from = at + 1;
    }
    return size;
}

bool IsXlHeader(const uint8_t* p, size_t n) {
    if (n < 11) return false;
    if (p[0] != '(' && p[0] != ')' && p[0] != '\'') return false;
    return p[1] == ' ' && std::memcmp(p + 2, "HP-PCL XL", 9) == 0;
}

bool IsPcl5Escape(const uint8_t* p, size_t n) {
    if (n < 2 || p[0] != 0x1b) return false;
    uint8_t c = p[1];
    // Two-character commands, and the parameterised groups ESC & * ( ) %.
    if (c == 'E' || c == '9' || c == '=' || c == 'Y' || c == 'Z' || c == 'z') return true;
    if (n < 3) return false;
    uint8_t d = p[2];
    if (c == '&' || c == '*' || c == '(' || c == ')')
        return (d >= 0x60 && d <= 0x7e) || std::isdigit(d) || d == '@';
    if (c == '%') return std::isdigit(d) || d == '-' || d == '+';
    return false;
}

Interpreters DefaultInterpreters() {
    return {&pclxl::Interpret, &pcl5::Interpret};
}

int RunInput(const uint8_t* data, size_t size, JobContext& job) {
    return RunInput(data, size, job, DefaultInterpreters());
}

int RunInput(const uint8_t* data, size_t size, JobContext& job, const Interpreters& interp) {
    size_t pos = 0;
    bool sawJob = false, broke = false, noise = false;
    Language entered = Language::None;

    auto run = [&](Language lang) {
        sawJob = true;
        bool ok = true;
        size_t n = 0;
        const uint8_t* p = data + pos;
        size_t left = size - pos;
        switch (lang) {
        case Language::PclXl:
            n = interp.pclxl(p, left, job, ok);
            break;
        case Language::Hpgl2:
            job.SetStartInHpgl2(true);
            n = interp.pcl5(p, left, job, ok);
            job.SetStartInHpgl2(false);
            break;
        case Language::Pcl5:
            n = interp.pcl5(p, left, job, ok);
            break;
        default:
            job.Unsupported("job language");
            n = FindUel(data, size, pos) - pos;
            ok = false;
            break;
        }
        n = std::min(n, left);
        // A page still open is written as far as it got.
        if (job.PageOpen()) job.EndPage();
        pos += n;
        if (!ok) {
            broke = true;
            job.NoteBroken(pos);
            job.Warning("job broke near byte " + std::to_string(pos));
            pos = FindUel(data, size, pos);
        } else if (n == 0) {
            // An interpreter that takes nothing must not stall the loop.
            pos = FindUel(data, size, pos + 1);
        }
        entered = Language::None;
    };

    while (pos < size && !job.Stopped()) {
        const uint8_t* p = data + pos;
        size_t left = size - pos;
        if (IsUel(p, left)) {
            pos += kUelSize;
            entered = Language::None;
            continue;
        }
        if (StartsWithNoCase(p, left, "@PJL")) {
            sawJob = true;
            size_t end = pos;
            while (end < size && data[end] != '\n' && !IsUel(data + end, size - end)) ++end;
            std::string line(reinterpret_cast<const char*>(data + pos + 4), end - pos - 4);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pos = end < size && data[end] == '\n' ? end + 1 : end;
            PjlCommand cmd = ParsePjlLine(line);
            ApplyPjl(cmd, job.MutablePjl());
            if (cmd.dataSize) {
                // File-system downloads carry data; it is never stored.
                pos += std::min(cmd.dataSize, size - pos);
            } else if (cmd.command == "ENTER") {
                auto it = cmd.options.find("LANGUAGE");
                entered = LanguageFromName(it != cmd.options.end() ? it->second : "");
                run(entered);
            }
            continue;
        }
        if (left >= 3 && p[0] == 0x1b && p[1] == '%' && p[2] == 'P') {
            // Inkjet service commands ("ESC%P...;udw.quit;"): nothing to draw.
            sawJob = true;
            job.Unsupported("printer service commands");
            pos = FindUel(data, size, pos);
            continue;
        }
        if (IsXlHeader(p, left)) {
            run(Language::PclXl);
            continue;
        }
        if (IsPlotStart(p, left)) {
            run(Language::Hpgl2);
            continue;
        }
        if (IsPcl5Escape(p, left)) {
            run(Language::Pcl5);
            continue;
        }
        // Something else: step over it to the next byte that may start a job.
        size_t from = pos;
        bool junk = !IsFiller(*p);
        ++pos;
        while (pos < size) {
            uint8_t c = data[pos];
            if (c == 0x1b || c == '@' || c == '(' || c == ')' || c == '\'') break;
            if ((c == 'I' || c == 'B' || c == 'i' || c == 'b') &&
                IsPlotStart(data + pos, size - pos))
                break;
            if (!IsFiller(c)) junk = true;
            ++pos;
        }
        if (junk) {
            noise = true;
            job.Warning("unrecognised bytes " + std::to_string(from) + " to " +
                        std::to_string(pos) + " skipped");
        }
    }

    if (job.PageOpen()) job.EndPage();
    if (!sawJob) return kResultNotPrintJob;
    // A page refused for want of room is lost like one that failed to write.
    if (job.WriteFailed() || job.WhyStopped() == StopReason::DiskReserve ||
        job.WhyStopped() == StopReason::PageBytes)
        return kResultWriteFailed;
    // Stopped by a limit with input left over: pages are missing.
    if (broke || noise || (job.Stopped() && pos < size)) return kResultBroken;
    return kResultOk;
}

} // namespace tarvik
