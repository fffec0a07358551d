#include "job/Pjl.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace tarvik {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct Token {
    std::string text;
    bool quoted = false;
};

std::vector<Token> Tokenize(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size() && out.size() < 256) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '=' || c == ':') {
            out.push_back({std::string(1, char(c))});
            ++i;
        } else if (c == '"') {
            size_t end = s.find('"', i + 1);
            if (end == std::string_view::npos) end = s.size();
            out.push_back({std::string(s.substr(i + 1, end - i - 1)), true});
            i = end + 1;
        } else {
            size_t start = i;
            while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '=' &&
                   s[i] != ':' && s[i] != '"')
                ++i;
            out.push_back({std::string(s.substr(start, i - start))});
        }
    }
    return out;
}

} // namespace

PjlCommand ParsePjlLine(std::string_view line) {
    PjlCommand cmd;
    std::vector<Token> t = Tokenize(line);
    if (t.empty()) return cmd;
    cmd.command = Upper(t[0].text);
    if (cmd.command == "COMMENT" || cmd.command == "ECHO") return cmd;
    size_t i = 1;
    // Personality modifiers ("LPARM : PCL") come before the variable.
    if (i < t.size() && Upper(t[i].text) == "LPARM") {
        i += 1;
        if (i < t.size() && t[i].text == ":") ++i;
        if (i < t.size()) ++i;
    }
    while (i < t.size()) {
        std::string name = Upper(t[i].text);
        ++i;
        std::string value;
        if (i < t.size() && !t[i].quoted && (t[i].text == "=" || t[i].text == ":")) {
            ++i;
            if (i < t.size()) value = t[i++].text;
        }
        if (!name.empty() && name != "=" && name != ":") cmd.options[name] = value;
    }
    if (cmd.command == "FSDOWNLOAD" || cmd.command == "FSAPPEND") {
        auto it = cmd.options.find("SIZE");
        if (it != cmd.options.end()) {
            char* end = nullptr;
            unsigned long long n = std::strtoull(it->second.c_str(), &end, 10);
            cmd.dataSize = size_t(n);
        }
    }
    return cmd;
}

void ApplyPjl(const PjlCommand& cmd, PjlSettings& s) {
    if (cmd.command != "SET" && cmd.command != "DEFAULT") return;
    for (const auto& [name, value] : cmd.options) {
        if (s.variables.size() < 512 || s.variables.count(name)) s.variables[name] = value;
        std::string v = Upper(value);
        if (name == "ORIENTATION") {
            if (v == "PORTRAIT")
                s.orientation = 0;
            else if (v == "LANDSCAPE")
                s.orientation = 1;
            else if (v == "REVERSEPORTRAIT")
                s.orientation = 2;
            else if (v == "REVERSELANDSCAPE")
                s.orientation = 3;
        } else if (name == "PAPER") {
            s.paper = v;
            if (const MediaSize* m = FindMedia(v)) {
                s.paperWidthPt = m->widthPt;
                s.paperHeightPt = m->heightPt;
            } else {
                s.paperWidthPt = s.paperHeightPt = 0;
            }
        } else if (name == "RESOLUTION") {
            int r = std::atoi(v.c_str());
            if (r > 0 && r <= 4800) s.resolution = r;
        } else if (name == "COPIES" || name == "QTY") {
            int c = std::atoi(v.c_str());
            if (c > 0) s.copies = c;
        }
    }
}

} // namespace tarvik
