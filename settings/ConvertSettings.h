// The conversion settings record and the profile keys of section "Set".
//
// Use (desktop window and command line):
//   std::string profile = ProfilePath();               // creates its folders
//   WindowSettings win = LoadWindowSettings(profile);  // type, mode, output
//   ConvertSettings cs = LoadSettings(profile);        // the record below
//   ... after the settings dialog's pages wrote their keys on OK:
//   cs = LoadSettings(profile);
//   ... when the window closes:
//   SaveWindowSettings(profile, win);                  // output, type, mode
//
// The settings dialog writes each key with WriteProfileString/WriteProfileInt
// of Profile.h, using the key names of kSection and the field names below
// (they are the key names).
#pragma once

#include <cstddef>
#include <string>

namespace varnel {

inline constexpr const char* kSection = "Set";

// Colour-mode names the dialog offers and the runner understands.
inline constexpr const char* kColorModeNames[6] = {"True Color", "256 Color", "256 Grays",
                                                   "16 Color",   "16 Grays",  "B&W"};
// A colour-mode name holds at most this many bytes; longer stored texts are cut.
inline constexpr std::size_t kColorModeMaxLength = 31;

inline constexpr int kMinDpi = 72;
inline constexpr int kMaxDpi = 600;

// One field per key; the defaults are those of a missing profile file.
struct ConvertSettings {
    int each = 0;     // 1: one output folder per input file
    int angle = 0;    // 0, 90, 180, 270
    int xdpi = 72;    // limited to 72..600 when read
    int ydpi = 72;    // limited to 72..600 when read
    int width = 594;  // resize width in pixels; no limit (<= 0 turns resizing off)
    int height = 842; // resize height in pixels; no limit
    int resize = 0;   // 1: resize to width x height
    std::string bmpc = "True Color";
    std::string gifc = "256 Color";
    std::string pcxc = "True Color";
    std::string pngc = "True Color";
    std::string jpgc = "True Color";
    std::string jp2c = "True Color";
    std::string jpcc = "True Color";
    std::string tgac = "True Color";
    std::string rasc = "True Color";
    int JQu = 75; // JPEG quality 1..100
    std::string tifc = "True Color";
    int TJQu = 75;    // quality of JPEG compression inside TIFF
    int compress = 3; // index: 0 Uncompressed, 1 LZW, 2 RLE, 3 JPEG, 4 PACKBITS, 5 FAX3, 6 FAX4
    int multpage = 0; // 1: merge the pages of one input into one TIFF file
};

// The three values the main window keeps itself.
struct WindowSettings {
    int type = 0;       // format list index 0..11 (0 JPEG ... 11 RAS); read without a range check
    int mode = 1;       // 0: beside the source file, 1: into `output`
    std::string output; // output folder, ends in "/"
};

// $XDG_CONFIG_HOME (else ~/.config) + "/Krellix/Varnel/Profile.ini"; creates
// the Krellix and Varnel folders (failures ignored).
std::string ProfilePath();

// Reads the record in key order; missing keys give the defaults above.
ConvertSettings LoadSettings(const std::string& profile);

// `type` raw, `mode` other than 0 or 1 read as 1, empty `output` replaced by
// DefaultOutputFolder() + "My Doc/".
WindowSettings LoadWindowSettings(const std::string& profile);

// Writes `output`, `type` and `mode`, in this order. False when a write failed.
bool SaveWindowSettings(const std::string& profile, const WindowSettings& values);

// The `AddFile` key: the file chooser's starting place (default: the home
// folder) and the last file added through it.
std::string LoadAddFile(const std::string& profile);
bool SaveAddFile(const std::string& profile, const std::string& path);

// How the desktop window looked when it last closed, and where Add Folder
// last went: keys of their own beside the record, which never reads them.
struct WindowLayout {
    std::string geometry;  // `geometry`: the window's saved geometry as hex text
    std::string columns;   // `columns`: widths of the list's Size and Status columns, "100,150"
    std::string addFolder; // `AddFolder`: the folder last chosen with Add Folder
};
WindowLayout LoadWindowLayout(const std::string& profile);
// Writes the three keys. False when a write failed.
bool SaveWindowLayout(const std::string& profile, const WindowLayout& layout);

// The folder that holds the user's desktop folder (normally the home folder),
// ending in "/".
std::string DefaultOutputFolder();

// The home folder ($HOME, else the password database), without trailing "/".
std::string HomeFolder();

// Creates, in order, every folder named by the part of `path` before each "/",
// ignoring failures. A last component without a trailing "/" is not created.
void MakeDirs(const std::string& path);

// The running executable's folder (with its trailing "/") followed by `name`.
std::string ModuleFilePath(const std::string& name);

} // namespace varnel
