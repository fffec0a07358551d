#include "ConvertSettings.h"
#include "Profile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnel;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = "/tmp/varnel-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
        profile = dir + "Profile.ini";
        for (const char* v : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* old = std::getenv(v);
            saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        ::setenv("HOME", (dir + "home").c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        for (auto& [name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    void Write(const std::string& text) { std::ofstream(profile, std::ios::binary) << text; }
    std::string Read() {
        std::ifstream in(profile, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> FilesInDir() {
        std::vector<std::string> names;
        DIR* d = ::opendir(dir.c_str());
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        ::closedir(d);
        return names;
    }

    std::string dir, profile;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(SettingsTest, NoFileGivesEveryDefault) {
    ConvertSettings s = LoadSettings(profile);
    EXPECT_EQ(s.each, 0);
    EXPECT_EQ(s.angle, 0);
    EXPECT_EQ(s.xdpi, 72);
    EXPECT_EQ(s.ydpi, 72);
    EXPECT_EQ(s.width, 594);
    EXPECT_EQ(s.height, 842);
    EXPECT_EQ(s.resize, 0);
    EXPECT_EQ(s.gifc, "256 Color");
    for (const std::string* c :
         {&s.bmpc, &s.pcxc, &s.pngc, &s.jpgc, &s.jp2c, &s.jpcc, &s.tgac, &s.rasc, &s.tifc})
        EXPECT_EQ(*c, "True Color");
    EXPECT_EQ(s.JQu, 75);
    EXPECT_EQ(s.TJQu, 75);
    EXPECT_EQ(s.compress, 3);
    EXPECT_EQ(s.multpage, 0);

    WindowSettings w = LoadWindowSettings(profile);
    EXPECT_EQ(w.type, 0);
    EXPECT_EQ(w.mode, 1);
    EXPECT_EQ(w.output, dir + "home/My Doc/");
    EXPECT_EQ(LoadAddFile(profile), dir + "home");
    EXPECT_FALSE(std::ifstream(profile)); // reading creates nothing
}

TEST_F(SettingsTest, StoredValuesAreReadWithTheirLimits) {
    Write("[Set]\nxdpi=50\nydpi=1200\nmode=7\ntype=14\nwidth=-3\nheight=0\ncompress=9\n"
          "jpgc=256 Grays\noutput=/data/out/\n");
    ConvertSettings s = LoadSettings(profile);
    EXPECT_EQ(s.xdpi, 72);
    EXPECT_EQ(s.ydpi, 600);
    EXPECT_EQ(s.width, -3); // no limit: the converter ignores it
    EXPECT_EQ(s.height, 0);
    EXPECT_EQ(s.compress, 9);
    EXPECT_EQ(s.jpgc, "256 Grays");
    WindowSettings w = LoadWindowSettings(profile);
    EXPECT_EQ(w.mode, 1);
    EXPECT_EQ(w.type, 14); // the list decides what an unknown index means
    EXPECT_EQ(w.output, "/data/out/");

    Write("[Set]\nmode=0\nxdpi=300\n");
    EXPECT_EQ(LoadWindowSettings(profile).mode, 0);
    EXPECT_EQ(LoadSettings(profile).xdpi, 300);
}

TEST_F(SettingsTest, IntegersAreTheLeadingSignAndDigits) {
    Write("[Set]\nxdpi=150dpi\nangle= 90\nwidth=+640\nheight=-5x\nJQu=abc\nTJQu=\n"
          "each=99999999999\n");
    ConvertSettings s = LoadSettings(profile);
    EXPECT_EQ(s.xdpi, 150);
    EXPECT_EQ(s.angle, 90);
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, -5);
    EXPECT_EQ(s.JQu, 75); // no digits: the default
    EXPECT_EQ(s.TJQu, 75);
    EXPECT_EQ(s.each, 2147483647);
}

TEST_F(SettingsTest, SectionsAndKeysIgnoreLetterCase) {
    Write("[other]\nxdpi=100\n[sEt]\nXDPI=200\nMultPage=1\nTIFC=B&W\n");
    ConvertSettings s = LoadSettings(profile);
    EXPECT_EQ(s.xdpi, 200);
    EXPECT_EQ(s.multpage, 1);
    EXPECT_EQ(s.tifc, "B&W");
    ASSERT_TRUE(WriteProfileInt(profile, "SET", "xDpi", 300));
    EXPECT_EQ(Read(), "[other]\nxdpi=100\n[sEt]\nxDpi=300\nMultPage=1\nTIFC=B&W\n");
}

TEST_F(SettingsTest, ALongColourModeNameIsCut) {
    Write("[Set]\nbmpc=" + std::string(40, 'c') + "\n");
    EXPECT_EQ(LoadSettings(profile).bmpc, std::string(31, 'c'));
}

TEST_F(SettingsTest, WritesKeepEveryOtherLine) {
    Write("; my notes\n[Before]\nkey=1\n\n[Set]\neach=0\nangle=90\n\n[After]\nx=y\n");
    ASSERT_TRUE(WriteProfileString(profile, "Set", "each", "1"));
    ASSERT_TRUE(WriteProfileString(profile, "Set", "JQu", "40"));
    ASSERT_TRUE(WriteProfileString(profile, "After", "z", "w"));
    EXPECT_EQ(Read(), "; my notes\n[Before]\nkey=1\n\n[Set]\neach=1\nangle=90\nJQu=40\n\n"
                      "[After]\nx=y\nz=w\n");
}

TEST_F(SettingsTest, FirstWriteCreatesFileAndSection) {
    WindowSettings w;
    w.type = 3;
    w.mode = 0;
    w.output = "/srv/images/";
    ASSERT_TRUE(SaveWindowSettings(profile, w));
    EXPECT_EQ(Read(), "[Set]\noutput=/srv/images/\ntype=3\nmode=0\n");
    WindowSettings back = LoadWindowSettings(profile);
    EXPECT_EQ(back.type, 3);
    EXPECT_EQ(back.mode, 0);
    EXPECT_EQ(back.output, "/srv/images/");
    ASSERT_TRUE(SaveAddFile(profile, "/srv/jobs/last.pcl"));
    EXPECT_EQ(LoadAddFile(profile), "/srv/jobs/last.pcl");
}

TEST_F(SettingsTest, CrLfFilesKeepTheirLineEnds) {
    Write("[Set]\r\neach=0\r\n");
    ASSERT_TRUE(WriteProfileInt(profile, "Set", "angle", 180));
    EXPECT_EQ(Read(), "[Set]\r\neach=0\r\nangle=180\r\n");
    EXPECT_EQ(LoadSettings(profile).angle, 180);
}

TEST_F(SettingsTest, AFailedWriteLeavesTheOldFileWhole) {
    const std::string old = "[Set]\neach=1\n";
    Write(old);
    ::chmod(profile.c_str(), 0640);

    // The file-size limit makes the write stop part-way, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool ok = WriteProfileString(profile, "Set", "output", std::string(200, 'd'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(Read(), old);
    EXPECT_EQ(FilesInDir(), std::vector<std::string>{"Profile.ini"}); // no temporary left

    // A writer killed part-way leaves the old file too.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit tiny = saved;
        tiny.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        std::signal(SIGXFSZ, SIG_DFL);
        WriteProfileString(profile, "Set", "output", std::string(200, 'd'));
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Read(), old);

    // A good write keeps the file's permissions.
    ASSERT_TRUE(WriteProfileInt(profile, "Set", "each", 0));
    struct stat st {};
    ASSERT_EQ(::stat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SettingsTest, AWriteIntoAMissingFolderFails) {
    EXPECT_FALSE(WriteProfileInt(dir + "missing/Profile.ini", "Set", "each", 1));
}

TEST_F(SettingsTest, ProfileLivesInTheConfigFolderWhichIsCreated) {
    EXPECT_EQ(ProfilePath(), dir + "home/.config/Krellix/Varnel/Profile.ini");
    struct stat st {};
    EXPECT_EQ(::stat((dir + "home/.config/Krellix/Varnel").c_str(), &st), 0);
    EXPECT_FALSE(std::ifstream(dir + "home/.config/Krellix/Varnel/Profile.ini"));

    ::setenv("XDG_CONFIG_HOME", (dir + "cfg/").c_str(), 1);
    EXPECT_EQ(ProfilePath(), dir + "cfg/Krellix/Varnel/Profile.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(ProfilePath(), dir + "home/.config/Krellix/Varnel/Profile.ini");
}

TEST_F(SettingsTest, DefaultOutputFolderIsTheDesktopsParent) {
    EXPECT_EQ(DefaultOutputFolder(), dir + "home/");
    MakeDirs(dir + "home/.config/");
    std::ofstream(dir + "home/.config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Work/Bureau\"\n";
    EXPECT_EQ(DefaultOutputFolder(), dir + "home/Work/");
    std::ofstream(dir + "home/.config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"/srv/desk\"\n";
    EXPECT_EQ(DefaultOutputFolder(), "/srv/");
}

TEST_F(SettingsTest, MakeDirsCreatesEveryFolderBeforeASlash) {
    MakeDirs(dir + "a/b//c/file.ini");
    struct stat st {};
    EXPECT_EQ(::stat((dir + "a/b/c").c_str(), &st), 0);
    EXPECT_NE(::stat((dir + "a/b/c/file.ini").c_str(), &st), 0);
    MakeDirs(dir + "x/y/");
    EXPECT_EQ(::stat((dir + "x/y").c_str(), &st), 0);
}

TEST(ModuleFilePathTest, IsBesideTheExecutable) {
    std::string path = ModuleFilePath("help.html");
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "help.html");
    struct stat st {};
    EXPECT_EQ(::stat((path.substr(0, path.rfind('/') + 1) + "settings_tests").c_str(), &st), 0);
}

} // namespace
