// tapfix-pack: appends a firmware folder to a copy of the updater program, or lists the
// package a program carries.
#include <CLI/CLI.hpp>
#include <iostream>

#include "config/package.hpp"

namespace {

int List(const std::filesystem::path& file) {
    tapfix::config::CFirmwarePackage package;
    if (!package.Open(file)) {
        std::cerr << "tapfix-pack: " << package.LastError() << "\n";
        return 1;
    }
    for (const tapfix::config::PackageEntry& entry : package.Entries()) {
        std::cout << entry.resourceId << "  " << entry.size << "  "
                  << tapfix::config::HexText(entry.sha256) << "  " << entry.name << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path firmware;
    std::filesystem::path program;
    std::filesystem::path output;
    std::filesystem::path listed;
    CLI::App app{"Packs router firmware into the updater program"};
    auto* firmwareOption =
        app.add_option("--firmware", firmware, "folder with the twenty package files");
    auto* intoOption =
        app.add_option("--into", program, "program to copy (without it: a side package file)");
    auto* outputOption = app.add_option("--output", output, "program to write");
    auto* listOption = app.add_option("--list", listed, "print the package index of a program");
    firmwareOption->needs(outputOption);
    listOption->excludes(firmwareOption, intoOption, outputOption);
    CLI11_PARSE(app, argc, argv);

    if (!listed.empty()) {
        return List(listed);
    }
    if (firmware.empty()) {
        std::cerr << app.help();
        return 2;
    }
    std::string error;
    if (!tapfix::config::WritePackage(program, firmware, output, error)) {
        std::cerr << "tapfix-pack: " << error << "\n";
        return 1;
    }
    std::cout << "wrote " << output.string() << "\n";
    return 0;
}
