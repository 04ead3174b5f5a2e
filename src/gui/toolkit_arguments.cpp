#include "gui/toolkit_arguments.hpp"

#include <algorithm>
#include <string_view>

namespace tapfix::gui {
namespace {

struct ToolkitOption {
    std::string_view name;
    bool takesValue;
};

// The options the toolkit takes out of the command line itself, with one dash or two.
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"geometry", true},      {"qwindowicon", true},
    {"icon", true},          {"qwindowtitle", true},
    {"title", true},         {"display", true},
    {"style", true},         {"stylesheet", true},
    {"session", true},       {"name", true},
    {"reverse", false},      {"widgetcount", false},
    {"nograb", false},       {"dograb", false},
    {"sync", false},
};

// The toolkit option an argument names ("-style", "--style", "-style=fusion"), if any.
const ToolkitOption* ToolkitOptionOf(std::string_view argument) {
    if (!argument.starts_with('-')) {
        return nullptr;
    }
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    const std::string_view name = argument.substr(0, argument.find('='));
    const auto* found =
        std::find_if(std::begin(kToolkitOptions), std::end(kToolkitOptions),
                     [name](const ToolkitOption& option) { return option.name == name; });
    return found == std::end(kToolkitOptions) ? nullptr : found;
}

}  // namespace

SplitArguments SplitToolkitArguments(const std::vector<std::string>& arguments) {
    SplitArguments split;
    if (arguments.empty()) {
        return split;
    }
    split.program.push_back(arguments.front());
    split.toolkit.push_back(arguments.front());
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const ToolkitOption* option = ToolkitOptionOf(arguments[i]);
        if (option == nullptr) {
            split.program.push_back(arguments[i]);
            continue;
        }
        split.toolkit.push_back(arguments[i]);
        const bool valueFollows = option->takesValue && arguments[i].find('=') == std::string::npos;
        if (valueFollows && i + 1 < arguments.size()) {
            split.toolkit.push_back(arguments[++i]);
        }
    }
    return split;
}

}  // namespace tapfix::gui
