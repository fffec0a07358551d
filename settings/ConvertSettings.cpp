#include "ConvertSettings.h"

#include "Profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

int ReadInt(const std::string& profile, const char* key, int defaultValue) {
    return GetProfileInt(profile, kSection, key, defaultValue);
}

std::string ReadColorMode(const std::string& profile, const char* key, const char* defaultName) {
    std::string name = GetProfileString(profile, kSection, key, defaultName);
    if (name.size() > kColorModeMaxLength) name.resize(kColorModeMaxLength);
    return name;
}

// XDG_DESKTOP_DIR from user-dirs.dirs: a quoted path, "$HOME/..." or absolute.
std::string DesktopFolder(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = (config && config[0] == '/') ? config : home + "/.config";
    std::ifstream in(base + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 16, "XDG_DESKTOP_DIR=") != 0)
            continue;
        std::string value = line.substr(start + 16);
        if (value.size() >= 2 && value.front() == '"') {
            std::size_t close = value.find('"', 1);
            value = value.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        }
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        if (!value.empty() && value.front() == '/') {
            while (value.size() > 1 && value.back() == '/') value.pop_back();
            return value;
        }
    }
    return home + "/Desktop";
}

} // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    std::string result;
    if (home && home[0]) {
        result = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        result = pw->pw_dir;
    } else {
        result = "/";
    }
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

void MakeDirs(const std::string& path) {
    for (std::size_t i = path.find('/', 1); i != std::string::npos; i = path.find('/', i + 1)) {
        if (path[i - 1] == '/') continue; // "//" names no new folder
        ::mkdir(path.substr(0, i).c_str(), 0777);
    }
}

std::string ModuleFilePath(const std::string& name) {
    std::string exe(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0) return name;
    exe.resize(static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1) + name;
}

std::string ProfilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    std::string base = (config && config[0] == '/') ? config : HomeFolder() + "/.config";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string path = base + "/Krellix/Varnel/Profile.ini";
    MakeDirs(path);
    return path;
}

std::string DefaultOutputFolder() {
    std::string desktop = DesktopFolder(HomeFolder());
    std::size_t slash = desktop.rfind('/');
    return desktop.substr(0, slash + 1);
}

ConvertSettings LoadSettings(const std::string& profile) {
    ConvertSettings s;
    s.each = ReadInt(profile, "each", 0);
    s.angle = ReadInt(profile, "angle", 0);
    s.xdpi = std::clamp(ReadInt(profile, "xdpi", 72), kMinDpi, kMaxDpi);
    s.ydpi = std::clamp(ReadInt(profile, "ydpi", 72), kMinDpi, kMaxDpi);
    s.width = ReadInt(profile, "width", 594);
    s.height = ReadInt(profile, "height", 842);
    s.resize = ReadInt(profile, "resize", 0);
    s.bmpc = ReadColorMode(profile, "bmpc", "True Color");
    s.gifc = ReadColorMode(profile, "gifc", "256 Color");
    s.pcxc = ReadColorMode(profile, "pcxc", "True Color");
    s.pngc = ReadColorMode(profile, "pngc", "True Color");
    s.jpgc = ReadColorMode(profile, "jpgc", "True Color");
    s.jp2c = ReadColorMode(profile, "jp2c", "True Color");
    s.jpcc = ReadColorMode(profile, "jpcc", "True Color");
    s.tgac = ReadColorMode(profile, "tgac", "True Color");
    s.rasc = ReadColorMode(profile, "rasc", "True Color");
    s.JQu = ReadInt(profile, "JQu", 75);
    s.tifc = ReadColorMode(profile, "tifc", "True Color");
    s.TJQu = ReadInt(profile, "TJQu", 75);
    s.compress = ReadInt(profile, "compress", 3);
    s.multpage = ReadInt(profile, "multpage", 0);
    return s;
}

WindowSettings LoadWindowSettings(const std::string& profile) {
    WindowSettings w;
    w.type = ReadInt(profile, "type", 0);
    w.mode = ReadInt(profile, "mode", 1);
    if (w.mode != 0) w.mode = 1;
    w.output = GetProfileString(profile, kSection, "output", "");
    if (w.output.empty()) w.output = DefaultOutputFolder() + "My Doc/";
    return w;
}

bool SaveWindowSettings(const std::string& profile, const WindowSettings& values) {
    bool ok = WriteProfileString(profile, kSection, "output", values.output);
    ok = WriteProfileInt(profile, kSection, "type", values.type) && ok;
    ok = WriteProfileInt(profile, kSection, "mode", values.mode) && ok;
    return ok;
}

std::string LoadAddFile(const std::string& profile) {
    return GetProfileString(profile, kSection, "AddFile", HomeFolder());
}

bool SaveAddFile(const std::string& profile, const std::string& path) {
    return WriteProfileString(profile, kSection, "AddFile", path);
}

WindowLayout LoadWindowLayout(const std::string& profile) {
    WindowLayout layout;
    layout.geometry = GetProfileString(profile, kSection, "geometry", "");
    layout.columns = GetProfileString(profile, kSection, "columns", "");
    layout.addFolder = GetProfileString(profile, kSection, "AddFolder", HomeFolder());
    return layout;
}

bool SaveWindowLayout(const std::string& profile, const WindowLayout& layout) {
    bool ok = WriteProfileString(profile, kSection, "geometry", layout.geometry);
    ok = WriteProfileString(profile, kSection, "columns", layout.columns) && ok;
    return WriteProfileString(profile, kSection, "AddFolder", layout.addFolder) && ok;
}

} // namespace varnel
