// tapfix-sim: the simulated router on a pseudo-terminal registered in TAPFIX_PORTS_DIR.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "platform/clock.hpp"
#include "sim/router.hpp"

namespace {

using tapfix::sim::DeviceMode;
using tapfix::sim::PortInfo;
using tapfix::sim::RouterOptions;

void PrintPort(const PortInfo& port, bool present) {
    if (present) {
        std::printf("port added: COM%d \"%s\" (%s)\n", port.number, port.displayName.c_str(),
                    std::string(tapfix::sim::ModeName(port.mode)).c_str());
    } else {
        std::printf("port removed: COM%d\n", port.number);
    }
    std::fflush(stdout);
}

// Blocks until SIGTERM or SIGINT arrives, or the time runs out (seconds <= 0: no limit).
void AwaitStop(const sigset_t& signals, double seconds) {
    if (seconds <= 0) {
        int received = 0;
        sigwait(&signals, &received);
        return;
    }
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_nsec = static_cast<long>((seconds - static_cast<double>(limit.tv_sec)) * 1e9);
    while (sigtimedwait(&signals, nullptr, &limit) < 0 && errno == EINTR) {
    }
}

// CLI11's own check prints the largest double as its bound.
CLI::Validator NotNegative() {
    return CLI::Validator(
        [](const std::string& text) {
            double value = 0;
            return CLI::detail::lexical_cast(text, value) && value >= 0
                       ? std::string()
                       : "must be a number of at least 0, not " + text;
        },
        "NONNEGATIVE");
}

std::chrono::microseconds ToMicroseconds(double milliseconds) {
    return std::chrono::microseconds(static_cast<long>(milliseconds * 1000));
}

// An option that sets one of the router's timings, in milliseconds.
void AddTiming(CLI::App& app, const std::string& name, std::chrono::milliseconds& timing,
               const std::string& help) {
    app.add_option_function<double>(
           name,
           [&timing](double ms) { timing = std::chrono::milliseconds(static_cast<long>(ms)); },
           help + " (default " + std::to_string(timing.count()) + ")")
        ->check(NotNegative());
}

// Where the router is plugged in, whether its programmer re-enumerates, and how long its own
// steps take.
void AddRouterOptions(CLI::App& app, RouterOptions& options) {
    tapfix::sim::DeviceProfile& profile = options.profile;
    app.add_option("--usb-path", options.usb.path,
                   "USB location registered with every port: bus and port chain (default 1-1)");
    app.add_option("--usb-serial", options.usb.serial,
                   "USB serial number registered with every port (default none)");
    app.add_flag("--programmer-reenumerates", profile.programmerReenumerates,
                 "the programmer leaves the boot stage's port and comes back on a new number");
    AddTiming(app, "--programmer-start", profile.programmerStartTime,
              "ms from the boot stage's port leaving to the programmer's");
    AddTiming(app, "--leave-after", profile.leaveAfterAnswer,
              "ms after the host read the answer that sends the router away, before it leaves");
    AddTiming(app, "--leave-at-latest", profile.leaveAtLatest,
              "ms after that answer by which the router leaves even if it was not read");
    AddTiming(app, "--downloader-time", profile.downloaderTime,
              "ms from leaving the bus on the switch to the boot stage's port");
    AddTiming(app, "--reboot-time", profile.rebootTime,
              "ms from leaving the bus on a reset to the new firmware's port");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated USB router for tapfix: answers on a registered pseudo-terminal"};
    RouterOptions options;
    std::string faults;
    double exitAfter = 0;
    app.add_option("--state", options.statePath,
                   "device state (JSON); created with defaults when missing");
    app.add_option("--trace", options.tracePath, "append a JSON-lines trace of the traffic");
    app.add_option("--faults", faults,
                   "comma-separated; each counted over the whole run:\n"
                   "  silent:N             the Nth answer is not sent\n"
                   "  badcrc:N             the Nth answer carries a wrong FCS\n"
                   "  split[:MS]           every answer in two writes MS ms apart (default 1)\n"
                   "  diagerror:CMD[:ERR]  DIAG command CMD answers error ERR (default 0x13)\n"
                   "  noport-after-reset   after a reset the port does not come back\n"
                   "  nak:N[:REASON]       the Nth boot-loader write is refused (default 7)\n"
                   "  badsum:K[:TIMES]     the Kth checksummed unit fails its checksum\n"
                   "  ackloop:K            the Kth unit is acknowledged by its first address "
                   "again and again\n"
                   "  powerloss:K          the power fails in the Kth image\n"
                   "  hang:K               the programmer stops answering as the Kth image "
                   "is opened\n"
                   "  nvwrite-refused:ITEM writes of NV item ITEM are refused (status 4)\n"
                   "  nvread-refused:ITEM[:STATUS] reads of NV item ITEM are refused "
                   "(default 4)\n"
                   "  sahara-repeat:K      Sahara asks for its Kth piece twice\n"
                   "  sahara-swap:K        Sahara makes its Kth and next request in the other "
                   "order\n"
                   "  dlflag-refused:N     the first N download-mode flag requests are refused");
    app.add_option("--exit-after", exitAfter, "stop after this many seconds")->check(NotNegative());
    app.add_flag("--power-cycle-on-host-loss", options.powerCycleOnHostLoss,
                 "when the host goes away in the middle of a download (updater killed, port "
                 "closed), cut the power and bring the router back: blank in download mode when "
                 "its partition table was rewritten, else booting its firmware");
    app.add_option("--registry", options.registry, "port registry (default: TAPFIX_PORTS_DIR)");
    app.add_option("--first-port", options.firstPortNumber, "lowest port number to take")
        ->check(CLI::Range(1, 255));
    app.add_option("--build-id-prefix", options.defaults.buildIdPrefix,
                   "build id of a new device's versions, before its last \"V\"");
    app.add_option("--imei", options.defaults.imei, "IMEI of a new device (15 digits)")
        ->check([](const std::string& text) {
            tapfix::sim::NvValue value{};
            return tapfix::sim::EncodeImei(text, &value) ? "" : "must be 15 digits";
        });
    app.add_option("--mac", options.defaults.wifiMac, "Wi-Fi MAC of a new device (12 hex digits)")
        ->check([](const std::string& text) {
            tapfix::sim::DeviceState probe;
            return tapfix::sim::SetWifiMac(probe, text) ? "" : "must be 12 hex digits";
        });
    std::string boot = "dmss";
    std::filesystem::path firmware;
    double latencyMs = 0;
    double gapMs = 0;
    app.add_option("--boot", boot, "boot stage protocol")->check(CLI::IsMember({"dmss", "sahara"}));
    app.add_option("--firmware", firmware,
                   "firmware folder: the boot stage runs only its narmprg.bin / armprg.bin");
    app.add_option("--sahara-image-id", options.profile.saharaImageId,
                   "image id Sahara asks for (7, or 13 announcing a pending image)")
        ->check(CLI::IsMember({7, 13}));
    app.add_option("--link-latency", latencyMs,
                   "link model: milliseconds from a request to its answer")
        ->check(NotNegative());
    app.add_option("--link-rate", options.profile.link.bytesPerSecond,
                   "link model: bytes per second in both directions (0: unlimited)")
        ->check(NotNegative());
    app.add_option("--link-packet", options.profile.link.packetSize,
                   "link model: answers leave in packets of this many bytes");
    app.add_option("--link-gap", gapMs, "link model: milliseconds between packets")
        ->check(NotNegative());
    AddRouterOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is no error; every other parse failure is a usage error, as a wrong fault is.
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }
    options.profile.boot =
        boot == "sahara" ? tapfix::sim::BootProtocol::Sahara : tapfix::sim::BootProtocol::Dmss;
    options.profile.link.latency = ToMicroseconds(latencyMs);
    options.profile.link.packetGap = ToMicroseconds(gapMs);
    if (!firmware.empty() && !tapfix::sim::LoadProgrammers(firmware, options.profile, &faults)) {
        std::fprintf(stderr, "tapfix-sim: %s\n", faults.c_str());
        return 2;
    }
    if (!options.faults.Parse(faults, &faults)) {
        std::fprintf(stderr, "tapfix-sim: %s\n", faults.c_str());
        return 2;
    }
    options.portListener = PrintPort;

    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    tapfix::sim::SimulatedRouter router(std::move(options));
    std::string error;
    if (!router.Start(&error)) {
        std::fprintf(stderr, "tapfix-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("time scale: %g\n", tapfix::platform::TimeScale());
    std::fflush(stdout);
    AwaitStop(signals, exitAfter);
    if (!router.Stop()) {
        std::fprintf(stderr, "tapfix-sim: %s\n", router.LastError().c_str());
        return 1;
    }
    std::printf("stopped\n");
    return 0;
}
