#include "platform/single_instance.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

using platform::SingleInstanceLock;
constexpr std::string_view kName = "QVOMDM9215,BEB76632-0DFF-4771-B3A1-55DBFF6C6BAB";

TEST(SingleInstanceLock, SecondHolderIsRefusedUntilTheFirstHasGone) {
    TempDir dir;
    const std::filesystem::path folder = dir.Path() / "runtime";
    std::string error;
    auto first = std::make_unique<SingleInstanceLock>();
    ASSERT_EQ(first->Acquire(folder, kName, error), SingleInstanceLock::Outcome::Acquired) << error;
    EXPECT_TRUE(std::filesystem::exists(folder / (std::string(kName) + ".lock")));
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);

    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(folder, kName, error), SingleInstanceLock::Outcome::HeldElsewhere);
    EXPECT_FALSE(second.Held());
    EXPECT_NE(error.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos) << error;
    SingleInstanceLock otherName;
    EXPECT_EQ(otherName.Acquire(folder, "another-program", error),
              SingleInstanceLock::Outcome::Acquired);

    first.reset();
    EXPECT_EQ(second.Acquire(folder, kName, error), SingleInstanceLock::Outcome::Acquired);
    EXPECT_TRUE(second.Held());
}

TEST(SingleInstanceLock, FolderThatCannotHoldTheLockFileFailsWithAReason) {
    TempDir dir;
    const std::filesystem::path notAFolder = dir.Path() / "file";
    std::ofstream(notAFolder) << "x";
    SingleInstanceLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(notAFolder, kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_NE(error.find(notAFolder.string()), std::string::npos) << error;
    EXPECT_EQ(lock.Acquire({}, kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_FALSE(lock.Held());
}

TEST(SingleInstanceLock, LockFileIsNotFollowedThroughASymlink) {
    TempDir dir;
    std::filesystem::create_symlink(dir.Path() / "elsewhere",
                                    dir.Path() / (std::string(kName) + ".lock"));
    SingleInstanceLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(dir.Path(), kName, error), SingleInstanceLock::Outcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "elsewhere"));
}

// Per user and never beside the work folder, so copies with different work folders meet.
TEST(SingleInstanceLock, LivesInTheRuntimeFolderElseInTheUsersStateFolder) {
    struct Case {
        std::optional<std::string> runtime;
        std::optional<std::string> state;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {"/run/user/1000", "/home/u/state", "/run/user/1000"},
        {std::nullopt, "/home/u/state", "/home/u/state/tapfix"},
        {std::nullopt, std::nullopt, "/home/u/.local/state/tapfix"},
        {"relative", "also-relative", "/home/u/.local/state/tapfix"},
    };
    ScopedEnvironment home("HOME", "/home/u");
    for (const Case& c : cases) {
        ScopedEnvironment runtime("XDG_RUNTIME_DIR", c.runtime.value_or(""));
        ScopedEnvironment state("XDG_STATE_HOME", c.state.value_or(""));
        EXPECT_EQ(SingleInstanceLock::DefaultFolder(), c.expected);
    }
}

}  // namespace
}  // namespace tapfix::test
