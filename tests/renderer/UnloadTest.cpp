// A program that lives on loads and unloads the renderer library many times
// (the desktop window binds it per window and per preview). Each unload must
// give back the FreeType library the renderer made, or every cycle leaks it.
#include "tarvik.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <ft2build.h>
#include <gtest/gtest.h>
#include <string>
#include FT_FREETYPE_H

namespace {
int g_made = 0;
int g_released = 0;

// FreeType's own entry; FreeType came in with the renderer by then.
template <class Fn> Fn Next(const char* name) {
    void* freetype = dlopen("libfreetype.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!freetype) std::abort();
    Fn fn = reinterpret_cast<Fn>(dlsym(freetype, name));
    dlclose(freetype);
    return fn;
}
} // namespace

// This program exports these two, so the renderer's calls come here first;
// they are counted and passed on to FreeType.
extern "C" FT_Error FT_Init_FreeType(FT_Library* library) {
    static const auto next = Next<FT_Error (*)(FT_Library*)>("FT_Init_FreeType");
    const FT_Error error = next(library);
    if (error == 0) ++g_made;
    return error;
}

extern "C" FT_Error FT_Done_FreeType(FT_Library library) {
    static const auto next = Next<FT_Error (*)(FT_Library)>("FT_Done_FreeType");
    ++g_released;
    return next(library);
}

TEST(RendererUnload, EveryUnloadReleasesFreeType) {
    namespace fs = std::filesystem;
    // A downloaded TrueType font, which the renderer reads through FreeType.
    const std::string job = VARNEL_SOURCE_DIR "/tests/fuzz/softfont/seed-truetype-format15.pcl";
    std::string folder = (fs::temp_directory_path() / "unload-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(folder.data()));
    for (int cycle = 1; cycle <= 3; ++cycle) {
        void* library = dlopen(VARNEL_RENDERER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(library) << dlerror();
        auto make = reinterpret_cast<TarvikNewInstanceFn>(dlsym(library, "tarvik_new_instance"));
        auto run = reinterpret_cast<TarvikRunWithArgsFn>(dlsym(library, "tarvik_run_with_args"));
        auto stop = reinterpret_cast<TarvikExitFn>(dlsym(library, "tarvik_exit"));
        auto drop =
            reinterpret_cast<TarvikDeleteInstanceFn>(dlsym(library, "tarvik_delete_instance"));
        ASSERT_TRUE(make && run && stop && drop);
        std::string out = "-sOutputFile=" + folder + "/page_%03d.bmp";
        std::string in = job;
        char a0[] = "tarvik", a1[] = "-dNOPAUSE", a2[] = "-dBATCH", a3[] = "-dSAFER",
             a4[] = "-sDEVICE=bmp16m", a6[] = "-r30x30", a7[] = "-g248x350";
        char* argv[] = {a0, a1, a2, a3, a4, out.data(), a6, a7, in.data(), nullptr};
        void* instance = nullptr;
        ASSERT_EQ(make(&instance, nullptr), 0);
        EXPECT_GE(run(instance, 9, argv), 0);
        stop(instance);
        drop(instance);
        ASSERT_EQ(dlclose(library), 0);
        // Still mapped, the release at unload would go untested.
        void* still = dlopen(VARNEL_RENDERER_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        if (still) dlclose(still);
        ASSERT_EQ(still, nullptr) << "the renderer library stays loaded after dlclose";
        EXPECT_EQ(g_made, cycle) << "the job drew no TrueType text";
        EXPECT_EQ(g_released, cycle);
    }
    EXPECT_FALSE(fs::is_empty(folder));
    fs::remove_all(folder);
}
