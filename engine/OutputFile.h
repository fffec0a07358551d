// An output file that appears under its final name only once it is complete:
// it is written under a temporary name in the target folder and renamed over
// the final name on Commit. Until then an older file of that name is left as
// it was, and a failure or an early return leaves nothing behind.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file beside finalPath, open for reading and
    // writing (some writers read back what they wrote). False when it cannot.
    bool Open(const std::string& finalPath);
    FILE* File() const { return m_file; }
    // Flushes and closes the file and renames it into place; false, leaving
    // no file, when any of that fails or the stream saw a write error.
    bool Commit();
    // Closes and removes the temporary file.
    void Discard();
    // Hands the open file and its temporary name to a caller that finishes
    // it later (a file that grows over several calls); returns the name.
    std::string TakeTemporary();

private:
    FILE* m_file = nullptr;
    std::string m_tempPath;
    std::string m_finalPath;
};

// Temporary files not yet renamed into place or removed, for a program that
// ends at once on a signal: RemovePendingOutputs deletes them all and makes
// every later Open fail. Whoever finishes a file taken with TakeTemporary
// calls ForgetPendingOutput once it is renamed or removed.
void ForgetPendingOutput(const std::string& temporaryPath);
void RemovePendingOutputs();
