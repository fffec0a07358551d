// Helpers for the runner tests: a scratch folder, a view that records what the
// runner did to it, and a converter stand-in that records every call.
#pragma once

#include "ConvertView.h"
#include "Runner.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

// A fresh folder below the system temporary folder, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/varnel-test-XXXXXX";
        if (::mkdtemp(pattern.data())) m_path = pattern + "/";
    }
    ~TempDir() { Remove(m_path); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

    static void Remove(const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* dir = ::opendir(path.c_str())) {
                while (const dirent* e = ::readdir(dir)) {
                    std::string name = e->d_name;
                    if (name != "." && name != "..")
                        Remove(path + (path.back() == '/' ? "" : "/") + name);
                }
                ::closedir(dir);
            }
            ::rmdir(path.c_str());
        } else {
            ::unlink(path.c_str());
        }
    }

private:
    std::string m_path;
};

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Entries of a folder (names only), sorted.
std::vector<std::string> ListFolder(const std::string& folder);

// The test renderer library, in a folder of its own under the build tree.
std::string FakeRendererPath();
std::string BrokenRendererPath();

// Records every call the runner makes on the window, in order, as text.
class RecordingView : public varnel::ConvertView {
public:
    explicit RecordingView(std::vector<std::string> paths) : paths(std::move(paths)) {}

    int RowCount() override { return static_cast<int>(paths.size()); }
    std::string RowPath(int row) override { return paths.at(static_cast<std::size_t>(row)); }
    void SetRowStatus(int row, const std::string& status) override {
        Add("status " + std::to_string(row) + " " + status);
        if (onStatus) onStatus(row, status);
    }
    void SelectOnlyItem(int row) override { Add("select " + std::to_string(row)); }
    void SetProgress(int position) override { Add("progress " + std::to_string(position)); }
    void SetSelectedLabel(const std::string& text) override { Add("label " + text); }
    void SetStartStopButton(const std::string& text, bool running) override {
        Add("button " + text + (running ? " running" : " idle"));
    }
    void EnableControls(bool enable) override { Add(enable ? "enable" : "disable"); }
    int StatusPauseMs() const override { return 0; }
    // Kept apart from `calls`, whose order the tests compare.
    void RowFinished(int row, const varnel::RowReport& report) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        reports.resize(std::max(reports.size(), static_cast<std::size_t>(row) + 1));
        reports[static_cast<std::size_t>(row)] = report;
    }
    void SetPageProgress(int row, int page, int pages) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        pageProgress.push_back(std::to_string(row) + " " + std::to_string(page) + "/" +
                               std::to_string(pages));
    }

    // Calls that start with the prefix, in order.
    std::vector<std::string> Calls(const std::string& prefix) const;
    // Last status written for each row ("" when none).
    std::vector<std::string> FinalStatuses() const;

    std::vector<std::string> paths;
    std::vector<std::string> calls;
    std::function<void(int, const std::string&)> onStatus;
    std::vector<varnel::RowReport> reports; // by row
    std::vector<std::string> pageProgress;  // "row page/pages"

private:
    void Add(const std::string& c) {
        std::lock_guard<std::mutex> lock(m_mutex);
        calls.push_back(c);
    }
    mutable std::mutex m_mutex;
};

// One converter handle as the stand-in saw it.
struct RecordedHandle {
    int handle = 0;
    std::vector<std::string> inputs;
    std::vector<std::pair<int, int>> options; // code, value (path options excluded)
    std::string outputPath, multiPagePath;
    bool ran = false, destroyed = false;
};

// Converter stand-in: handles count up from 1. A run "writes" its output by
// creating an empty file at the output path and fails when it cannot.
struct RecordingConverter {
    static varnel::ConverterApi Api();
    static void Reset();
    static std::vector<RecordedHandle>& Handles();
    static std::vector<int>& DestroyedHandles();  // every handle given to Destroy
    static int& NextCreateResult();               // 0: count up; else returned once
    static std::function<void(int run)>& OnRun(); // called inside run n (1-based)
    static std::function<void(int add)>& OnAdd(); // called inside AddFile n (1-based)
};

} // namespace testing_support
