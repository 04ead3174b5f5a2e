#include "platform/work_folder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "config/helper_programs.hpp"
#include "support/temp_dir.hpp"

namespace tapfix {
namespace {

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(WorkFolder, IsPrivateToTheUserAndRefusesALink) {
    test::TempDir dir;
    ::setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(platform::DefaultWorkFolder(), dir.Path() / "tapfix" / "TapfixUpdate" / "");

    platform::WorkFolder folder;
    std::string error;
    ASSERT_TRUE(platform::PrepareWorkFolder({}, folder, error)) << error;
    EXPECT_EQ(folder.path, dir.Path() / "tapfix" / "TapfixUpdate" / "");
    EXPECT_EQ(ModeOf(folder.path.parent_path()), 0700u);

    // The default folder is the program's own: loose rights are tightened.
    ::chmod(folder.path.parent_path().c_str(), 0755);
    ASSERT_TRUE(platform::PrepareWorkFolder({}, folder, error)) << error;
    EXPECT_EQ(ModeOf(folder.path.parent_path()), 0700u);
    EXPECT_TRUE(folder.sharedRequested.empty());

    const auto link = dir.Path() / "link";
    std::filesystem::create_directory_symlink(dir.Path() / "tapfix", link);
    EXPECT_FALSE(platform::PrepareWorkFolder(link, folder, error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;

    if (::geteuid() == 0) {  // only root can hand a folder to someone else
        const auto foreign = dir.Path() / "foreign";
        std::filesystem::create_directory(foreign);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(platform::PrepareWorkFolder(foreign, folder, error));
        EXPECT_NE(error.find("another user"), std::string::npos) << error;
    }

    ::unsetenv("XDG_STATE_HOME");
}

// A folder the user names keeps its rights: one others may enter gets a private folder inside.
TEST(WorkFolder, ANamedFolderKeepsItsRights) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::optional<mode_t> existing;
        std::string workFolder;
        mode_t namedModeAfter;
    };
    const Case cases[] = {
        {"new", std::nullopt, "new/", 0700},
        {"private", 0700, "private/", 0700},
        {"shared", 0775, "shared/tapfix/", 0775},
        {"entered", 0711, "entered/tapfix/", 0711},
    };
    for (const Case& c : cases) {
        const auto named = dir.Path() / c.name;
        if (c.existing) {
            std::filesystem::create_directory(named);
            ::chmod(named.c_str(), *c.existing);
        }
        platform::WorkFolder folder;
        std::string error;
        ASSERT_TRUE(platform::PrepareWorkFolder(named, folder, error)) << error;
        EXPECT_EQ(folder.path, dir.Path() / c.workFolder) << c.name;
        EXPECT_EQ(ModeOf(folder.path), 0700u) << c.name;
        EXPECT_EQ(ModeOf(named), c.namedModeAfter) << c.name;
        EXPECT_EQ(folder.sharedRequested.empty(), c.workFolder == std::string(c.name) + "/");
    }
}

// Nobody may create folders in /sys, root included: the reason is the parent's, not "No such
// file or directory" for the folder itself.
TEST(WorkFolder, AFolderThatCannotBeCreatedSaysWhy) {
    platform::WorkFolder folder;
    std::string error;
    EXPECT_FALSE(platform::PrepareWorkFolder("/sys/tapfix-test/work", folder, error));
    EXPECT_NE(error.find("/sys/tapfix-test:"), std::string::npos) << error;
    EXPECT_EQ(error.find("No such file"), std::string::npos) << error;
}

class RecordingClock : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return {}; }
    void Sleep(platform::Milliseconds duration) override { slept += duration; }
    platform::Milliseconds slept{0};
};

TEST(HelperPrograms, AreNotLaunchedOnLinuxButLeaveAHint) {
    std::vector<std::string> lines;
    const config::LogSink log = [&](std::string_view line) { lines.emplace_back(line); };
    config::RunDriverInstaller("setupOLD.exe", log);
    RecordingClock clock;
    config::RunModeSwitch(clock, log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("setupOLD.exe skipped"), std::string::npos);
    EXPECT_NE(lines[1].find("usb_modeswitch"), std::string::npos);
    EXPECT_EQ(clock.slept, platform::ScaledWait(std::chrono::milliseconds(2000)));
}

}  // namespace
}  // namespace tapfix
