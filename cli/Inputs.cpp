#include "Inputs.h"

#include "InputFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace varnel {

namespace {

// Enough to pass the filler some jobs start with and see the first command.
constexpr std::size_t kSniffBytes = 4096;
constexpr off_t kMaxFiller = 16 << 20;

bool IsFiller(unsigned char c) {
    return c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0x04 ||
           c == 0x1A;
}

bool StartsWith(const unsigned char* p, std::size_t n, const char* text, bool anyCase) {
    std::size_t len = std::strlen(text);
    if (n < len) return false;
    return anyCase ? ::strncasecmp(reinterpret_cast<const char*>(p), text, len) == 0
                   : std::memcmp(p, text, len) == 0;
}

bool IsPcl5Escape(const unsigned char* p, std::size_t n) {
    if (n < 2 || p[0] != 0x1b) return false;
    unsigned char c = p[1];
    if (c == 'E' || c == '9' || c == '=' || c == 'Y' || c == 'Z' || c == 'z') return true;
    if (n < 3) return false;
    unsigned char d = p[2];
    if (c == '&' || c == '*' || c == '(' || c == ')')
        return (d >= 0x60 && d <= 0x7e) || std::isdigit(d) || d == '@';
    if (c == '%') return std::isdigit(d) || d == '-' || d == '+';
    return false;
}

bool IsHpglMnemonic(const unsigned char* p) {
    static const char* const kKnown[] = {
        "IN", "DF", "BP", "PS", "RO", "SP", "PU", "PD", "PA", "PR", "IP", "SC", "CO", "LT",
        "PW", "WU", "NP", "PC", "MC", "TR", "QL", "RP", "FS", "VS", "PG", "EC", "AC", "FT",
        "LA", "CI", "AA", "AR", "CR", "SD", "AD", "DT", "LB", "DI", "SI", "SS", "CP", "BR",
        "EP", "FP", "PE", "PM", "RA", "RR", "WG", "EW", "EA", "ER", "UL", "SM", "SA", "SR",
        "DR", "DV", "ES", "CF", "CT", "FN", "LO", "RF", "TD", "IW", "IR", "NR", "MG", "BZ"};
    char m[2] = {char(std::toupper(p[0])), char(std::toupper(p[1]))};
    for (const char* k : kKnown)
        if (k[0] == m[0] && k[1] == m[1]) return true;
    return false;
}

// Two known instructions in a row (or one that ends the data): prose that
// happens to start with "IN" or "PS" is no plot.
bool IsHpgl(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    for (int seen = 0; seen < 2; ++seen) {
        while (i < n && IsFiller(p[i])) ++i;
        if (i == n) return seen > 0;
        if (i + 2 > n || !std::isalpha(p[i]) || !std::isalpha(p[i + 1]) || !IsHpglMnemonic(p + i))
            return false;
        i += 2;
        // Numeric parameters; a label's text would need the terminator rules,
        // so a second instruction after a label is not asked for.
        if (seen == 0 && (std::toupper(p[i - 2]) == 'L' && std::toupper(p[i - 1]) == 'B'))
            return true;
        while (i < n && (std::isdigit(p[i]) || std::strchr(" ,.+-\t", p[i]) != nullptr)) ++i;
        if (i < n && p[i] == ';') ++i;
    }
    return true;
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Reads the start of the file; a reason when it cannot be judged.
std::string Sniff(const std::string& path, bool* isJob) {
    *isJob = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? "no such file" : "cannot be read: " + ErrnoText(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return "is a folder";
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return "not a regular file";
    }
    // Some drivers pad the front of a job; the filler is passed over here
    // as the renderer does, up to a bound.
    unsigned char buffer[kSniffBytes];
    ssize_t got = 0;
    std::size_t start = 0;
    off_t skipped = 0;
    for (;;) {
        got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        while (start < std::size_t(got) && IsFiller(buffer[start])) ++start;
        if (start < std::size_t(got)) break;
        skipped += got;
        start = 0;
        if (skipped > kMaxFiller) break;
    }
    int readError = errno;
    if (got > 0 && start > 0) {
        // The job's first bytes, with a full window after them.
        ssize_t again = ::pread(fd, buffer, sizeof buffer, skipped + off_t(start));
        if (again > 0) {
            got = again;
            start = 0;
        }
    }
    ::close(fd);
    if (got < 0) return "cannot be read: " + ErrnoText(readError);
    if (got == 0 && skipped == 0) return "empty file";
    if (got == 0) return "not a print job (only filler bytes)";
    *isJob = LooksLikePrintJob(buffer + start, std::size_t(got) - start);
    return *isJob ? "" : "not a print job (no PJL, PCL 5, PCL XL or HP-GL/2 content found)";
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Files of the folder with a print extension, sorted; subfolders entered when
// recursive (symbolic links to folders are not, so a loop cannot form).
void WalkFolder(const std::string& folder, bool recursive, std::vector<std::string>* files,
                std::vector<Rejected>* rejected) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        rejected->push_back({folder, "folder cannot be read: " + ErrnoText(errno)});
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    const std::string base = folder.back() == '/' ? folder : folder + "/";
    for (const std::string& name : names) {
        std::string path = base + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (recursive) WalkFolder(path, true, files, rejected);
            continue;
        }
        if (!HasPrintExtension(path)) continue;
        if (::access(path.c_str(), R_OK) != 0) {
            rejected->push_back({path, "cannot be read: " + ErrnoText(errno)});
            continue;
        }
        files->push_back(path);
    }
}

bool ReadList(const std::string& name, bool nullSeparated, std::vector<std::string>* paths,
              std::vector<Rejected>* rejected) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (name != "-") {
        file.open(name, std::ios::binary);
        if (!file) {
            rejected->push_back({name, "list cannot be read: " + ErrnoText(errno)});
            return false;
        }
        in = &file;
    }
    std::string line;
    while (std::getline(*in, line, nullSeparated ? '\0' : '\n')) {
        if (!nullSeparated && !line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths->push_back(line);
    }
    return true;
}

} // namespace

bool LooksLikePrintJob(const unsigned char* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && IsFiller(data[i])) ++i;
    const unsigned char* p = data + i;
    std::size_t n = size - i;
    if (n == 0) return false;
    if (StartsWith(p, n, "\x1b%-12345X", false) || StartsWith(p, n, "@PJL", true)) return true;
    if (n >= 11 && (p[0] == '(' || p[0] == ')' || p[0] == '\'') && p[1] == ' ' &&
        std::memcmp(p + 2, "HP-PCL XL", 9) == 0)
        return true;
    return IsPcl5Escape(p, n) || IsHpgl(p, n);
}

bool HasPrintExtension(const std::string& path) {
    // The window's list plus the names other drivers give print files.
    static const char* const kMore[] = {".prn", ".pcl5", ".pclxl"};
    return varnel::HasInputExtension(path) || varnel::HasExtensionIn(path, kMore, std::size(kMore));
}

InputList GatherInputList(const std::vector<std::string>& arguments, const InputRules& rules) {
    InputList list;
    std::vector<std::string> named = arguments;
    for (const std::string& listFile : rules.listFiles)
        ReadList(listFile, rules.nullSeparated, &named, &list.rejected);

    // One file named twice (or through two paths) is converted once.
    std::set<std::pair<dev_t, ino_t>> seen;
    auto take = [&](const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second) {
            list.duplicates.push_back(path);
            return;
        }
        list.files.push_back(path);
    };
    for (const std::string& path : named) {
        if (path.empty()) continue;
        if (IsFolder(path)) {
            std::vector<std::string> files;
            WalkFolder(path, rules.recursive, &files, &list.rejected);
            for (const std::string& f : files) take(f);
            continue;
        }
        bool isJob = false;
        std::string reason = Sniff(path, &isJob);
        if (isJob)
            take(path);
        else
            list.rejected.push_back({path, reason});
    }
    return list;
}

} // namespace varnel
