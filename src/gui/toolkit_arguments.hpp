#pragma once

#include <string>
#include <vector>

namespace tapfix::gui {

// A command line split in two: the toolkit's own options (-platform offscreen, -style=fusion,
// --reverse, ...) for the toolkit, everything else for the program's strict parser, which
// refuses what it does not know. Both keep the program's name first.
struct SplitArguments {
    std::vector<std::string> program;
    std::vector<std::string> toolkit;
};

SplitArguments SplitToolkitArguments(const std::vector<std::string>& arguments);

}  // namespace tapfix::gui
