#include "app/command_line.hpp"

#include <CLI/CLI.hpp>
#include <string>

#include "nv/backup_record.hpp"

namespace tapfix::app {

void AddStartupOptions(CLI::App& cli, StartupOptions& options) {
    cli.add_option_function<std::string>(
           "--lang",
           [&options](const std::string& language) { options.english = language == "en"; },
           "language of the texts at start (default ru, as the window)")
        ->check(CLI::IsMember({"en", "ru"}));
    cli.add_option("--work-dir", options.workFolder,
                   "folder for the firmware package, the NV backup and the log "
                   "(default: $XDG_STATE_HOME/tapfix/TapfixUpdate)");
    cli.add_option("--package", options.package,
                   "firmware package file (default: the one this program carries)");
    cli.add_option("--texts", options.textFile,
                   "language file of the update's step texts (section Download_String_Table)")
        ->check(CLI::ExistingFile);
    cli.add_flag("--verbose,-v", options.verbose, "the log on standard error too");
    cli.add_flag("--allow-unsigned", options.allowUnsigned,
                 "accept an unsigned package although trusted keys are installed");
    cli.add_flag("--allow-downgrade", options.allowDowngrade,
                 "write a signed package whose build is older than the router's");
    cli.add_option("--resume", options.resumeImei,
                   "write back the saved data of the router with this IMEI to a router that "
                   "cannot tell whose it is (no firmware or no IMEI)")
        ->check([](const std::string& imei) {
            return nv::IsRealImei(imei) ? std::string() : std::string("must be 15 digits");
        });
    cli.footer(
        "Files: the work folder is $XDG_STATE_HOME/tapfix/TapfixUpdate/ (by default "
        "~/.local/state/tapfix/TapfixUpdate/), or --work-dir; it keeps the unpacked package, the "
        "router's NV backup and the log tapfix.log, every step of every run with its time: send "
        "it along with a report.");
}

}  // namespace tapfix::app
