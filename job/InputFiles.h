// Input-list logic that the desktop window and the command line share.
//
// Use: a path goes into the list only when IsAcceptedInput(path) holds; the size
// cell shows "%lld KB" of FileSizeKB(path); a folder adds FolderFiles(folder),
// each still checked with IsAcceptedInput.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

// True when the path names a file (not a folder) that can be opened for reading.
bool FileReadable(const std::string& path);

// The extensions of print files the window lists: PCL and PCL XL jobs and
// HP-GL/2 plot files. The command line takes these and a few more.
extern const char* const kInputExtensions[7];

// True when the path's extension is one of kInputExtensions, in any letter case.
bool HasInputExtension(const std::string& path);

// True when the path's extension is one of `extensions`, in any letter case.
bool HasExtensionIn(const std::string& path, const char* const* extensions, std::size_t count);

// FileReadable and HasInputExtension.
bool IsAcceptedInput(const std::string& path);

// size / 1024 + 0.9, truncated, over all bits of the size; 0 when the file
// cannot be looked up. 0..102 bytes give 0, 103..1126 give 1, 1127 gives 2.
std::int64_t FileSizeKB(const std::string& path);

// Paths (folder + "/" + name) of the entries of a folder that are not folders
// themselves, in the order the file system lists them. Subfolders are not
// entered. Empty when the folder cannot be read.
std::vector<std::string> FolderFiles(const std::string& folder);

} // namespace varnel
