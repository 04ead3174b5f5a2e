#include "platform/work_folder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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

    std::filesystem::path folder;
    std::string error;
    ASSERT_TRUE(platform::PrepareWorkFolder({}, folder, error)) << error;
    EXPECT_EQ(folder, dir.Path() / "tapfix" / "TapfixUpdate" / "");
    EXPECT_EQ(ModeOf(folder.parent_path()), 0700u);

    // An existing folder with loose rights is tightened; a second call keeps it.
    ::chmod(folder.parent_path().c_str(), 0755);
    ASSERT_TRUE(platform::PrepareWorkFolder({}, folder, error)) << error;
    EXPECT_EQ(ModeOf(folder.parent_path()), 0700u);

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

    ASSERT_TRUE(platform::PrepareWorkFolder(dir.Path() / "chosen", folder, error)) << error;
    EXPECT_EQ(folder, dir.Path() / "chosen" / "");
    ::unsetenv("XDG_STATE_HOME");
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
