#include "Profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varnel {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Section name of a "[name]" line, or false when the line is no header.
bool SectionName(std::string_view line, std::string_view* name) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return false;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    *name = Trim(line.substr(1, close - 1));
    return true;
}

// Key and value of a "key=value" line.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    *key = Trim(line.substr(0, eq));
    *value = Trim(line.substr(eq + 1));
    return !key->empty();
}

bool ReadLines(const std::string& file, std::vector<std::string>* lines) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines->push_back(line);
    return true;
}

bool FindValue(const std::string& file, std::string_view section, std::string_view key,
               std::string* value) {
    std::vector<std::string> lines;
    if (!ReadLines(file, &lines)) return false;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name;
        if (SectionName(line, &name)) {
            inSection = EqualNoCase(name, section);
            continue;
        }
        std::string_view k, v;
        if (inSection && KeyValue(line, &k, &v) && EqualNoCase(k, key)) {
            *value = std::string(v);
            return true;
        }
    }
    return false;
}

bool WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the whole text under a temporary name beside the file and renames it
// over the file, so a reader never sees a half-written profile.
bool ReplaceFile(const std::string& file, const std::string& text) {
    std::string tmp = file + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(file.c_str(), &st) == 0) mode = st.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

} // namespace

bool ParseProfileInt(std::string_view text, int* value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    if (n > INT_MAX) n = INT_MAX;
    if (n < INT_MIN) n = INT_MIN;
    *value = static_cast<int>(n);
    return true;
}

int GetProfileInt(const std::string& file, std::string_view section, std::string_view key,
                  int defaultValue) {
    std::string text;
    int value = defaultValue;
    if (FindValue(file, section, key, &text)) ParseProfileInt(text, &value);
    return value;
}

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
    std::string text;
    if (FindValue(file, section, key, &text)) return text;
    return std::string(defaultValue);
}

bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    std::vector<std::string> lines;
    ReadLines(file, &lines); // a missing file is created
    // Keep the file's own line ends for the lines we add.
    bool crlf = !lines.empty() && !lines.front().empty() && lines.front().back() == '\r';
    std::string newLine = std::string(key) + "=" + std::string(value) + (crlf ? "\r" : "");

    bool inSection = false;
    bool done = false;
    std::size_t sectionEnd = std::string::npos; // index after the section's last key line
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name;
        if (SectionName(lines[i], &name)) {
            if (inSection) break; // the wanted section ended before the key appeared
            inSection = EqualNoCase(name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (KeyValue(lines[i], &k, &v)) {
            if (EqualNoCase(k, key)) {
                lines[i] = newLine;
                done = true;
            } else {
                sectionEnd = i + 1;
            }
        }
    }
    if (!done) {
        if (sectionEnd != std::string::npos) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), newLine);
        } else {
            lines.push_back("[" + std::string(section) + "]" + (crlf ? "\r" : ""));
            lines.push_back(newLine);
        }
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return ReplaceFile(file, text);
}

bool WriteProfileInt(const std::string& file, std::string_view section, std::string_view key,
                     int value) {
    return WriteProfileString(file, section, key, std::to_string(value));
}

} // namespace varnel
