// The input list of varnel-convert: named files judged by their content,
// folders by their file names, lists read from files, duplicates dropped, and a
// reason for every path that was not taken.
#pragma once

#include <string>
#include <vector>

namespace varnel {

// True when the bytes start a print job the renderer takes: a PJL or
// universal exit sequence, a PCL XL stream header, a PCL 5 escape or an
// HP-GL/2 instruction, after any leading filler.
bool LooksLikePrintJob(const unsigned char* data, std::size_t size);

// Extensions a folder's files need: .pcl .pxl .px3 .prn .plt .hpg .hpgl .hp2
// .pcl5 .pclxl, in any letter case.
bool HasPrintExtension(const std::string& path);

struct Rejected {
    std::string path;
    std::string reason;
};

struct InputList {
    std::vector<std::string> files; // in the order named, each file once
    std::vector<Rejected> rejected;
    std::vector<std::string> duplicates; // paths dropped because named before
};

struct InputRules {
    bool recursive = false;
    std::vector<std::string> listFiles; // --files-from; "-" is standard input
    bool nullSeparated = false;         // lists are separated by NUL, not newline
};

// Files of the arguments and lists. A named file must hold a print job; a
// folder gives its files with a print extension, sorted by name so every
// machine sees the same order (subfolders only when recursive).
InputList GatherInputList(const std::vector<std::string>& arguments, const InputRules& rules);

} // namespace varnel
