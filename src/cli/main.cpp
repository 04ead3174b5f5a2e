// tapfix-cli: the update tool in a terminal, driving the same window controller as the window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <iostream>
#include <optional>

#include "app/application.hpp"
#include "app/command_line.hpp"
#include "cli/backup_tools.hpp"
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
    bool backup = false;
    bool listBackups = false;
    // FILE, then the backup to export (empty: the newest complete one).
    std::vector<std::string> exportXqcn;
    std::string importXqcn;
    // Station mode: every router at once (--all), or those at the named ports' places.
    bool all = false;
    std::vector<std::string> ports;
    bool exitWhenIdle = false;
};

void AddStationOptions(CLI::App& cli, CliOptions& options) {
    auto* all = cli.add_flag("--all", options.all,
                             "station mode: update every router plugged in, and each one plugged "
                             "in later, at the same time (up to eight; more wait for a free "
                             "slot), until Ctrl-C");
    cli.add_option("--port", options.ports,
                   "COMn (repeatable): with --all, only the routers at these ports' USB places")
        ->needs(all);
    cli.add_flag("--exit-when-idle", options.exitWhenIdle,
                 "with --all: end once every router found has its result and no other is "
                 "plugged in")
        ->needs(all);
}

// "COM7" or "7"; none for anything else.
std::optional<int> PortNumberOf(std::string_view text) {
    if (text.starts_with("COM")) {
        text.remove_prefix(3);
    }
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number <= 0) {
        return std::nullopt;
    }
    return number;
}

void AddBackupOptions(CLI::App& cli, CliOptions& options) {
    auto* backup = cli.add_flag("--backup", options.backup,
                                "back the plugged-in router's NV items, EFS RF files and Wi-Fi "
                                "MAC up into the archive, without updating it");
    auto* restore =
        cli.add_option("--restore", options.startup.restoreWhich,
                       "write a backup back to the plugged-in router it belongs to: an archive "
                       "folder, or an IMEI (its newest complete backup); without a value the "
                       "router's own newest")
            ->expected(0, 1);
    restore->excludes(backup);
    cli.add_flag("--list-backups", options.listBackups,
                 "list every backup of the work folder (with --json: one object each), and exit");
    cli.add_option("--export-xqcn", options.exportXqcn,
                   "FILE [WHICH]: write a backup (a folder or an IMEI; default the newest "
                   "complete one) as an XQCN file, and exit")
        ->expected(1, 2);
    cli.add_option("--import-xqcn", options.importXqcn,
                   "FILE: take an XQCN file into the archive as a backup of the IMEI it holds "
                   "(then --restore writes it back), and exit");
}

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
    AddBackupOptions(cli, options);
    AddStationOptions(cli, options);
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

int RunStation(CliOptions& options, tapfix::app::StationOptions station) {
    tapfix::cli::CStationView view(std::cout, StyleFor(options), tapfix::platform::SystemClock(),
                                   options.startup.english);
    tapfix::cli::CConsoleView startView(std::cout, StyleFor(options),
                                        tapfix::platform::SystemClock());
    tapfix::app::CUpdateApplication application(startView);
    tapfix::app::CStation* running = nullptr;
    application.SetObserver([&](const tapfix::session::Notification& notification) {
        view.Observe(notification,
                     running != nullptr ? running->RouterOnSlot(notification.slot) : std::nullopt);
    });
    if (application.StartStation(options.startup, station) !=
        tapfix::app::CUpdateApplication::StartOutcome::Running) {
        return kExitOther;
    }
    running = application.Station();
    const int status = tapfix::cli::RunStation(application, view, options.exitWhenIdle);
    application.Shutdown();
    view.Finish(running->Routers(), status);
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
        "whose update was interrupted and whose data is not in this work folder, 7 a backup of "
        "another router (--restore; nothing written).\n"
        "--backup and --restore start once the router is shown, on Enter or with --yes."};
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
    if (options.listBackups) {
        return tapfix::cli::ListBackups(options.startup.workFolder, options.json, std::cout);
    }
    if (!options.exportXqcn.empty()) {
        return tapfix::cli::ExportXqcn(options.startup, options.exportXqcn.front(),
                                       options.exportXqcn.size() > 1 ? options.exportXqcn[1] : "",
                                       std::cout, std::cerr);
    }
    if (!options.importXqcn.empty()) {
        return tapfix::cli::ImportXqcn(options.startup, options.importXqcn, std::cout, std::cerr);
    }
    if (options.all && (options.backup || cli.count("--restore") > 0)) {
        std::cerr << "--all updates; the backup tools take one router at a time\n";
        return kExitOther;
    }
    if (options.all) {
        tapfix::app::StationOptions station;
        for (const std::string& port : options.ports) {
            const std::optional<int> number = PortNumberOf(port);
            if (!number) {
                std::cerr << "--port takes COMn: " << port << '\n';
                return kExitOther;
            }
            station.ports.push_back(*number);
        }
        return RunStation(options, station);
    }
    if (options.backup) {
        options.startup.task = tapfix::app::Task::Backup;
    }
    if (cli.count("--restore") > 0) {
        options.startup.task = tapfix::app::Task::Restore;
    }
    return RunUpdate(options);
}
