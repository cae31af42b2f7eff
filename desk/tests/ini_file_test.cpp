// The INI files of the desk programs: lines the INI library would cut, the
// camera a section names, and the update of a configuration file on disk.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_section.h"
#include "config_in_use.h"
#include "ini_lines.h"
#include "ini_values.h"
#include "ini_update.h"

namespace {

TEST(IniLines, LinesTheLibraryWouldCutAreNamed) {
    const std::string most(ini::max_line, 'x');
    const struct {
        std::string text;
        int line;
        std::string why;
    } cases[] = {
        {most + "\n" + most, 0, ""},
        {most + "\r\n" + most + "\r\n", 0, ""},  // the CR is part of the line end
        {"a\n" + most + "x\nb = 1\n", 2, "line longer than 199 characters"},
        {"a\nb\n" + most + "xx", 3, "line longer than 199 characters"},
        {"a\n" + most + "\rx\n", 2, "line longer than 199 characters"},
        {std::string("a\nb = 1\0x\n", 10), 2, "a NUL byte in the line"},
        // The library keeps 49 characters of a section's name.
        {"[camera" + std::string(42, '0') + "2]\n", 0, ""},
        {"a\n [camera" + std::string(43, '0') + "2]\n", 2, "section name longer than 49 characters"},
    };
    for (const auto &c : cases) {
        std::string why;
        EXPECT_EQ(ini::bad_line(c.text, &why), c.line) << c.text.size();
        EXPECT_EQ(why, c.why);
    }
    // What bad_line refuses the library really misreads: the tail becomes a key.
    int keys = 0;
    const std::string cut = ";" + std::string(ini::max_line, 'c') + "port = x\n";
    ini_parse_string(cut.c_str(), [](void *n, const char *, const char *, const char *) { return ++*static_cast<int *>(n); }, &keys);
    EXPECT_EQ(keys, 1);
    std::string why;
    EXPECT_EQ(ini::parse(cut, [](void *, const char *, const char *, const char *) { return 1; }, nullptr, &why), 1);
    // A line of the longest length read whole keeps the later lines' numbers.
    const std::string longest = ";" + std::string(ini::max_line - 1, 'c');
    for (const char *end : {"\n", "\r\n"}) {
        const std::string text = longest + end + "a = 1" + end + "bad" + end;
        EXPECT_EQ(ini::parse(text, [](void *, const char *, const char *, const char *) { return 1; }, nullptr, &why), 3)
            << "line end " << (end[0] == '\r' ? "CR LF" : "LF");
    }
}

TEST(IniSections, OneRuleNamesTheCamera) {
    const struct {
        const char *section;
        int camera;
    } cases[] = {
        {"camera1", 1}, {"Camera01", 1}, {"CAMERA255", 255}, {"camera 1", 0}, {"camera", 0},
        {"camera1x", 0}, {"camera0", 0}, {"camera256", 0}, {"camera+1", 0}, {"host", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(ini::camera_of(c.section), c.camera) << c.section;
    // Two sections of one camera are refused by the reader every program uses.
    const struct {
        std::string text;
        int line;
        std::string why;
    } texts[] = {
        {"[camera1]\nA = 1\n[camera2]\n[camera 1]\n", 0, ""},
        {"[camera1]\nA = 1\n[host]\n[Camera01]\nB = 2\n", 4, "[Camera01] names camera 1 again (as [camera1] on line 1)"},
        {"[camera2]\nA = 1\n  [camera2]\n[camera2]\n", 4, "[camera2] names camera 2 again (as [camera2] on line 1)"},
    };
    for (const auto &t : texts) {
        std::string why;
        EXPECT_EQ(ini::parse(t.text, [](void *, const char *, const char *, const char *) { return 1; }, nullptr, &why),
                  t.line) << t.text;
        EXPECT_EQ(why, t.why);
    }
}

TEST(IniValues, OneReaderForBooleansAndOneForNumbers) {
    const struct {
        const char *text;
        int boolean;  // -1: not a boolean
        bool number;
        long value;
    } cases[] = {
        {"Yes", 1, false, 0}, {"OFF", 0, false, 0}, {"1", 1, true, 1}, {"0", 0, true, 0}, {"-42", -1, true, -42},
        {"", -1, false, 0}, {"7x", -1, false, 0}, {"99999999999999999999", -1, false, 0}, {"maybe", -1, false, 0},
    };
    for (const auto &c : cases) {
        bool b = false;
        long n = 0;
        EXPECT_EQ(ini::read_bool(c.text, &b) ? int(b) : -1, c.boolean) << c.text;
        EXPECT_EQ(ini::read_long(c.text, &n), c.number) << c.text;
        EXPECT_EQ(n, c.value) << c.text;
    }
}

struct Folder {
    std::string path = testing::TempDir() + "ini_file_" + std::to_string(getpid());
    Folder() {
        EXPECT_EQ(system(("rm -rf " + path + " && mkdir " + path).c_str()), 0);
    }
    ~Folder() { EXPECT_EQ(system(("rm -rf " + path).c_str()), 0); }
    std::string file(const std::string &name) const { return path + "/" + name; }
    std::string listing() const {
        std::string out;
        FILE *p = popen(("ls -A " + path).c_str(), "r");
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
        pclose(p);
        return out;
    }
};

std::string read_all(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const ini::Settings zoom = {{"ZoomTime", 9000}};

TEST(IniFile, CalibratorReadsTheValuesInUseOfCamera01) {
    Folder f;
    std::ofstream(f.file("site.ini")) << "[host]\ncameras = 2\n[camera2]\nZoomTime = 7\n[Camera01]\nZoomTime = 5\n";
    calibrate::Config in_use = {{"ZoomTime", 1}};
    std::optional<long> cameras;
    std::string error;
    ASSERT_TRUE(calibrate::read_config(f.file("site.ini"), 1, &in_use, &cameras, &error)) << error;
    EXPECT_EQ(in_use["ZoomTime"], 5);
    EXPECT_EQ(cameras, 2);
}

TEST(IniFile, SymlinkTargetUpdatedModeAndOwnerKeptNoStaleNewFile) {
    Folder f;
    std::ofstream(f.file("real.ini")) << "[camera1]\nZoomTime = 1\n";
    ASSERT_EQ(chmod(f.file("real.ini").c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(f.file("real.ini").c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(symlink("real.ini", f.file("site.ini").c_str()), 0);
    // A stale FILE.new, itself a symlink: neither followed nor consumed.
    std::ofstream(f.file("elsewhere")) << "keep";
    ASSERT_EQ(symlink("elsewhere", f.file("site.ini.new").c_str()), 0);
    std::string error;
    ASSERT_TRUE(ini::update_ini_file(f.file("site.ini"), 1, zoom, &error)) << error;
    struct stat link, real;
    ASSERT_EQ(lstat(f.file("site.ini").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(read_all(f.file("real.ini")), "[camera1]\nZoomTime = 9000\n");
    ASSERT_EQ(stat(f.file("real.ini").c_str(), &real), 0);
    EXPECT_EQ(real.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_TRUE(real.st_uid == 4321u && real.st_gid == 4322u) << real.st_uid << ":" << real.st_gid;
    }
    EXPECT_EQ(read_all(f.file("elsewhere")), "keep");
    EXPECT_EQ(f.listing(), "elsewhere\nreal.ini\nsite.ini\nsite.ini.new\n");  // no temporary file left
}

// Programs updating one file at once (the file missing at first): each
// update reads the one before it, so no camera's value is lost.
TEST(IniFile, UpdatesAtOnceTakeTurns) {
    Folder f;
    const std::string path = f.file("site.ini");
    constexpr int programs = 4, updates = 25;
    std::vector<pid_t> pids;
    for (int p = 1; p <= programs; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string error;
            for (long i = 1; i <= updates; ++i) {
                if (!ini::update_ini_file(path, p, {{"ZoomTime", i}}, &error)) _exit(1);
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 1; p <= programs; ++p) {
        calibrate::Config in_use = {{"ZoomTime", 0}};
        std::optional<long> cameras;
        std::string error;
        ASSERT_TRUE(calibrate::read_config(path, p, &in_use, &cameras, &error)) << error;
        EXPECT_EQ(in_use["ZoomTime"], updates) << "camera " << p << ":\n" << read_all(path);
    }
    EXPECT_EQ(f.listing(), "site.ini\n");
}

TEST(IniFile, RefusedBeforeAnythingMoves) {
    Folder f;
    const std::string long_line = "; " + std::string(ini::max_line, 'c') + "\n[camera1]\n";
    std::ofstream(f.file("long.ini")) << long_line;
    std::ofstream(f.file("broken.ini")) << "[camera1\n";
    std::ofstream(f.file("twice.ini")) << "[camera1]\n[Camera01]\n";
    std::ofstream(f.file("indented.ini")) << "[camera1]\n  [camera2]\n";
    std::ofstream(f.file("grows.ini")) << "[camera1]\nZoomTime = 1 ;" << std::string(ini::max_line - 15, 'c') << "\n";
    ASSERT_EQ(mkfifo(f.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("nowhere", f.file("dangling").c_str()), 0);
    const struct {
        std::string path, error;
        bool checked_first;  // check_write_target refuses it already
    } cases[] = {
        {f.path, " is a directory, not a file", true},
        {f.file("fifo"), " is not a regular file", true},
        {f.file("none/x.ini"), "cannot create files in " + f.file("none"), true},
        {f.file("dangling"), "cannot follow the symlink", true},
        {f.file("long.ini"), "long.ini:1: line longer than 199 characters; ", false},
        {f.file("broken.ini"), "broken.ini:1: not a valid INI line; ", false},
        {f.file("grows.ini"), "grows.ini:2: the new value would make a line longer than 199", false},
        {f.file("twice.ini"), "twice.ini:2: [Camera01] names camera 1 again (as [camera1] on line 1); ", false},
        {f.file("indented.ini"), "indented.ini:4: the update would add [camera1] names camera 1 again", false},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_EQ(ini::check_write_target(c.path, &error), !c.checked_first) << c.path;
        EXPECT_FALSE(ini::update_ini_file(c.path, 1, zoom, &error)) << c.path;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(read_all(f.file("long.ini")), long_line);
    EXPECT_EQ(f.listing(), "broken.ini\ndangling\nfifo\ngrows.ini\nindented.ini\nlong.ini\ntwice.ini\n");
}

}  // namespace
