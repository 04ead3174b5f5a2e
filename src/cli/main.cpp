// tapfix-cli: the update tool in a terminal, driving the same window controller as the window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/application.hpp"
#include "app/command_line.hpp"
#include "cli/console_loop.hpp"
#include "cli/console_view.hpp"
#include "cli/inspect.hpp"

namespace {

constexpr int kExitOther = 4;

struct CliOptions {
    tapfix::app::StartupOptions startup;
    bool yes = false;
    bool json = false;
    bool listPorts = false;
    bool check = false;
};

void AddOptions(CLI::App& cli, CliOptions& options) {
    cli.set_version_flag("--version", "tapfix-cli " TAPFIX_VERSION);
    cli.add_flag("--yes,-y", options.yes,
                 "press \"Update\" as soon as the router's version has been read");
    tapfix::app::AddStartupOptions(cli, options.startup);
    cli.add_flag("--json", options.json,
                 "one JSON event per line, the result last (the README lists them); with "
                 "--list-ports and --check one object");
    cli.add_flag("--list-ports", options.listPorts,
                 "list the serial ports and which one is the router's, and exit");
    cli.add_flag("--check", options.check,
                 "check the firmware package and its configuration, and exit");
}

tapfix::cli::ConsoleStyle StyleFor(const CliOptions& options) {
    if (options.json) {
        return tapfix::cli::ConsoleStyle::Json;
    }
    return ::isatty(STDOUT_FILENO) ? tapfix::cli::ConsoleStyle::Terminal
                                   : tapfix::cli::ConsoleStyle::Lines;
}

int Update(CliOptions& options, tapfix::cli::CConsoleView& view) {
    if (!options.yes && ::isatty(STDIN_FILENO) == 0) {
        view.Say(tapfix::cli::kYesNeeded);
        return kExitOther;
    }
    tapfix::app::CUpdateApplication application(view);
    application.SetObserver(
        [&view](const tapfix::session::Notification& notification) { view.Observe(notification); });
    if (application.Start(options.startup) !=
        tapfix::app::CUpdateApplication::StartOutcome::Running) {
        return kExitOther;
    }
    tapfix::cli::ConsoleLoopOptions loop;
    loop.yes = options.yes;
    loop.interactive = !options.yes && ::isatty(STDIN_FILENO);
    const int status = tapfix::cli::RunConsole(application, view, loop);
    // A router still being restarted has its last lines printed before the result.
    application.Shutdown();
    return status;
}

int RunUpdate(CliOptions& options) {
    tapfix::cli::CConsoleView view(std::cout, StyleFor(options), tapfix::platform::SystemClock());
    const int status = Update(options, view);
    view.Finish(status);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{
        "Firmware update of a USB Wi-Fi router (Qualcomm MDM9x15) from the console.\n"
        "Exit status: 0 updated, 1 version mismatch, 2 bad IMEI, 3 no router found, "
        "4 anything else, 5 saved data waits for --resume IMEI (nothing written), 6 a router "
        "whose update was interrupted and whose data is not in this work folder."};
    CliOptions options;
    AddOptions(cli, options);
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return cli.exit(error) == 0 ? 0 : kExitOther;
    }
    options.startup.program = "tapfix-cli " TAPFIX_VERSION;
    options.startup.arguments.assign(argv + 1, argv + argc);
    if (options.listPorts) {
        return tapfix::cli::ListPorts(std::cout, std::cerr, options.json);
    }
    if (options.check) {
        return tapfix::cli::CheckPackage(
            tapfix::app::PackageSource(options.startup),
            {options.startup.allowUnsigned, options.startup.verbose, options.json}, std::cout,
            std::cerr);
    }
    return RunUpdate(options);
}
