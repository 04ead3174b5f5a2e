// tapfix-reference-firmware: writes a synthetic firmware package folder for tests, the
// simulator and demonstrations.
#include <CLI/CLI.hpp>
#include <iostream>

#include "reference/firmware.hpp"

int main(int argc, char** argv) {
    tapfix::reference::ReferenceFirmwareOptions options;
    CLI::App app{"Writes the twenty files of a synthetic router firmware package"};
    app.add_option("--output", options.output, "folder to write into")->required();
    app.add_flag("--full", options.full, "use the real package's file sizes (about 140 MB)");
    app.add_option("--build-id", options.buildId,
                   "build id written into dsp2.mbn; a device running this firmware reports "
                   "\"<build id>V<suffix>\"")
        ->capture_default_str();
    app.add_flag("--sahara", options.sahara,
                 "a package for a router whose boot stage speaks Sahara (download.xml sets "
                 "ITEM_DL_armprg_type_Sahara)");
    CLI11_PARSE(app, argc, argv);
    std::string error;
    if (!tapfix::reference::GenerateReferenceFirmware(options, error)) {
        std::cerr << "tapfix-reference-firmware: " << error << "\n";
        return 1;
    }
    std::cout << "firmware written to " << options.output.string() << " (build id "
              << options.buildId << ")\n";
    return 0;
}
