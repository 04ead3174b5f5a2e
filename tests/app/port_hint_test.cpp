#include "app/port_hint.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace tapfix::test {
namespace {

using app::PortOpenFailure;
using platform::PortHolder;

TEST(PortOpenHint, TellsWhatTheUserCanDoInTheWindowsLanguage) {
    const PortOpenFailure busy{EBUSY, "/dev/ttyUSB2", "ttyUSB2 is held by ..."};
    const PortOpenFailure locked{EWOULDBLOCK, "/dev/ttyUSB2", "ttyUSB2 is held by ..."};
    const PortOpenFailure denied{EACCES, "/dev/ttyUSB2", "cannot open: Permission denied"};
    const PortOpenFailure gone{ENOENT, "", "COM3 is not present"};
    const std::vector<PortHolder> modemManager{{77, "minicom"}, {812, "ModemManager"}};
    const std::vector<PortHolder> other{{4242, "minicom"}};
    struct Case {
        PortOpenFailure failure;
        std::vector<PortHolder> holders;
        bool english;
        std::string hint;
    };
    const Case cases[] = {
        {busy, modemManager, true,
         "The router's port is held by ModemManager (pid 812). Stop it: sudo systemctl stop "
         "ModemManager"},
        {locked, modemManager, false,
         "Порт роутера занят ModemManager (pid 812). Остановите его: sudo systemctl stop "
         "ModemManager"},
        {busy, other, true, "The router's port is held by minicom (pid 4242). Close that program."},
        {busy,
         {},
         true,
         "The router's port is in use by another program (ModemManager, if it runs: sudo "
         "systemctl stop ModemManager)"},
        {denied,
         {},
         true,
         "Permission denied: add yourself to the dialout group, or install the udev rules"},
        {denied,
         {},
         false,
         "Нет доступа к порту: добавьте себя в группу dialout или установите правила udev"},
        {gone, {}, true, "The router's port cannot be opened: COM3 is not present"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::PortOpenHint(c.failure, c.holders, c.english), c.hint) << c.hint;
    }
    EXPECT_TRUE(app::HoldersOf(denied).empty()) << "only a port held elsewhere has holders";
}

}  // namespace
}  // namespace tapfix::test
