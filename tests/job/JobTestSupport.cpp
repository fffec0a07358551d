#include "JobTestSupport.h"

#include "ImgConv.h"

#include <algorithm>
#include <cstdio>

namespace testing_support {

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FakeRendererPath() {
    return VARNEL_FAKE_RENDERER;
}
std::string BrokenRendererPath() {
    return VARNEL_BROKEN_RENDERER;
}

std::vector<std::string> RecordingView::Calls(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    for (const std::string& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

std::vector<std::string> RecordingView::FinalStatuses() const {
    std::vector<std::string> last(paths.size());
    for (const std::string& c : Calls("status ")) {
        std::size_t space = c.find(' ', 7);
        std::size_t row = std::stoul(c.substr(7, space - 7));
        last.at(row) = c.substr(space + 1);
    }
    return last;
}

namespace {

std::vector<RecordedHandle> g_handles;
std::vector<int> g_destroyed;
int g_next = 0;
int g_runs = 0;
int g_adds = 0;

RecordedHandle* Find(int h) {
    for (RecordedHandle& r : g_handles)
        if (r.handle == h) return &r;
    return nullptr;
}

int Create() {
    if (g_next != 0) {
        int h = g_next;
        g_next = 0;
        if (h <= 0) return h;
    }
    RecordedHandle r;
    r.handle = static_cast<int>(g_handles.size()) + 1;
    g_handles.push_back(r);
    return r.handle;
}

int AddFile(int h, const char* path, int format) {
    RecordedHandle* r = Find(h);
    if (!r || format != 1) return 0;
    r->inputs.push_back(path);
    ++g_adds;
    if (RecordingConverter::OnAdd()) RecordingConverter::OnAdd()(g_adds);
    return 1;
}

int SetOption(int h, int code, const char* text, int value, void* reserved) {
    RecordedHandle* r = Find(h);
    if (!r || reserved) return 0;
    if (code == OPT_OUTPUT_PATH)
        r->outputPath = text ? text : "";
    else if (code == OPT_MULTIPAGE_PATH)
        r->multiPagePath = text ? text : "";
    else if (text)
        return 0; // only the path options carry a text
    else
        r->options.emplace_back(code, value);
    return 1;
}

int Run(int h) {
    RecordedHandle* r = Find(h);
    if (!r) return 0;
    r->ran = true;
    ++g_runs;
    if (RecordingConverter::OnRun()) RecordingConverter::OnRun()(g_runs);
    const std::string& out = r->multiPagePath.empty() ? r->outputPath : r->multiPagePath;
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (!f) return 0;
    std::fclose(f);
    return 1;
}

int Destroy(int h) {
    g_destroyed.push_back(h);
    RecordedHandle* r = Find(h);
    if (!r) return 0;
    r->destroyed = true;
    return 1;
}

} // namespace

std::function<void(int)>& RecordingConverter::OnAdd() {
    static std::function<void(int)> hook;
    return hook;
}

std::function<void(int)>& RecordingConverter::OnRun() {
    static std::function<void(int)> hook;
    return hook;
}

varnel::ConverterApi RecordingConverter::Api() {
    return varnel::ConverterApi{Create, AddFile, SetOption, Run, Destroy};
}

void RecordingConverter::Reset() {
    g_handles.clear();
    g_destroyed.clear();
    g_next = 0;
    g_runs = 0;
    OnRun() = nullptr;
    OnAdd() = nullptr;
    g_adds = 0;
}

std::vector<RecordedHandle>& RecordingConverter::Handles() {
    return g_handles;
}
std::vector<int>& RecordingConverter::DestroyedHandles() {
    return g_destroyed;
}
int& RecordingConverter::NextCreateResult() {
    return g_next;
}

} // namespace testing_support
