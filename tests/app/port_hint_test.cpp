#include "app/port_hint.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace tapfix::test {
namespace {

using app::PortOpenFailure;
using platform::PortHolder;

TEST(PortOpenHint, TellsWhatTheUserCanDoInTheWindowsLanguage) {
    const PortOpenFailure busy{EBUSY, "/dev/ttyUSB2", "ttyUSB2 is held by ..."};
    const PortOpenFailure denied{EACCES, "/dev/ttyUSB2", "cannot open: Permission denied"};
    const std::vector<PortHolder> modemManager{{77, "minicom"}, {812, "ModemManager"}};
    const struct {
        PortOpenFailure failure;
        std::vector<PortHolder> holders;
        bool english;
        std::string hint;
    } cases[] = {
        {busy, modemManager, true,
         "The router's port is held by ModemManager (pid 812). Stop it: sudo systemctl stop "
         "ModemManager"},
        {{EWOULDBLOCK, "/dev/ttyUSB2", ""},
         {{4242, "minicom"}},
         false,
         "Порт роутера занят программой minicom (pid 4242). Закройте её."},
        {busy,
         {},
         true,
         "The router's port is in use by another program (ModemManager, if it runs: sudo "
         "systemctl stop ModemManager)"},
        {denied,
         {},
         true,
         "Permission denied: add yourself to the dialout group, or install the udev rules"},
        {{ENOENT, "", "COM3 is not present"},
         {},
         true,
         "The router's port cannot be opened: COM3 is not present"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::PortOpenHint(c.failure, c.holders, c.english), c.hint) << c.hint;
    }
    EXPECT_TRUE(app::HoldersOf(denied).empty()) << "only a port held elsewhere has holders";
}

}  // namespace
}  // namespace tapfix::test
