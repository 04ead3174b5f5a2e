// tapfix-pack: appends a firmware folder to a copy of the updater program (or makes a package
// file of it), signs what it writes, makes signing keys, and lists what a packed program carries.
#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>

#include "config/failure_text.hpp"
#include "config/package.hpp"
#include "config/signature.hpp"

namespace {

namespace config = tapfix::config;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct PackOptions {
    std::filesystem::path firmware;
    std::filesystem::path program;
    std::filesystem::path output;
    std::filesystem::path listed;
    std::filesystem::path key;
    std::string keygen;
    std::string buildId;
    std::string name;
    bool verbose = false;
};

// One line for the user; the details after it only with --verbose.
int Failed(const std::string& error, bool verbose) {
    std::cerr << "tapfix-pack: " << (verbose ? error : config::FailureLine(error)) << "\n";
    return kExitFailed;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = {};
    gmtime_r(&now, &utc);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

int List(const PackOptions& options) {
    config::CFirmwarePackage package;
    if (!package.Open(options.listed)) {
        return Failed(package.LastError(), options.verbose);
    }
    for (const config::PackageEntry& entry : package.Entries()) {
        std::cout << entry.resourceId << "  " << entry.size << "  " << config::HexText(entry.sha256)
                  << "  " << entry.name << "\n";
    }
    const config::TrustedKeys keys = config::LoadTrustedKeys(config::TrustedKeyFolders());
    std::cout << "signature: "
              << config::DescribeSignature(config::CheckPackageSignature(options.listed, keys))
              << "\n";
    return 0;
}

int MakeKeys(const PackOptions& options) {
    config::SigningKey key;
    std::string error;
    const std::filesystem::path base(options.keygen);
    if (!config::GenerateSigningKey(base.filename().string(), key, error) ||
        !config::WriteKeyPair(base, key, error)) {
        return Failed(error, options.verbose);
    }
    std::cout << "wrote " << base.string() << ".key (private: keep it safe) and " << base.string()
              << ".pub (key id " << config::KeyIdText(key.publicKey.id) << ")\n";
    return 0;
}

int Pack(const PackOptions& options) {
    config::SigningKey key;
    config::PackSigning signing;
    std::string error;
    if (!options.key.empty()) {
        if (!config::ReadSigningKey(options.key, key, error)) {
            return Failed(error, options.verbose);
        }
        const std::string name =
            options.name.empty() ? options.output.filename().string() : options.name;
        signing = {&key, config::SignatureComment(name, options.buildId, UtcNow())};
    }
    if (!config::CheckFirmwareFolder(options.firmware, error) ||
        !config::WritePackage(options.program, options.firmware, options.output, error, signing)) {
        return Failed(error, options.verbose);
    }
    std::cout << "wrote " << options.output.string();
    if (signing.key != nullptr) {
        std::cout << ", signed by key " << config::KeyIdText(key.publicKey.id);
    }
    std::cout << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    PackOptions options;
    CLI::App app{"Packs router firmware into the updater program, signs it, makes signing keys"};
    auto* firmware = app.add_option("--firmware", options.firmware,
                                    "folder with the twenty package files and download.xml");
    auto* into = app.add_option("--into", options.program,
                                "program to copy (without it: a side package file)");
    auto* output = app.add_option("--output", options.output, "file to write");
    auto* sign = app.add_option("--sign", options.key, "private key file to sign the output with");
    auto* buildId = app.add_option("--build-id", options.buildId,
                                   "the firmware's build id, for the signed comment");
    auto* name = app.add_option("--name", options.name,
                                "package name for the signed comment "
                                "(default: the output's file name)");
    auto* list =
        app.add_option("--list", options.listed, "print the package index and signature of a file");
    auto* keygen = app.add_option("--keygen", options.keygen,
                                  "write a key pair NAME.key (private) and NAME.pub");
    app.add_flag("--verbose,-v", options.verbose, "print the details of a failure");
    firmware->needs(output);
    for (CLI::Option* option : {into, output, sign, buildId, name}) {
        option->needs(firmware);
    }
    buildId->needs(sign);
    name->needs(sign);
    list->excludes(firmware, keygen);
    keygen->excludes(firmware);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);
        }
        std::cerr << "tapfix-pack: " << error.what() << " (--help lists the options)\n";
        return kExitUsage;
    }
    if (!options.listed.empty()) {
        return List(options);
    }
    if (!options.keygen.empty()) {
        return MakeKeys(options);
    }
    if (options.firmware.empty()) {
        std::cerr << app.help();
        return kExitUsage;
    }
    return Pack(options);
}
