#pragma once

#include "app/application.hpp"

namespace CLI {
class App;
}

namespace tapfix::app {

// The start-up options every front-end takes: --lang, --work-dir, --package, --texts,
// --verbose, --allow-unsigned and --allow-downgrade.
void AddStartupOptions(CLI::App& cli, StartupOptions& options);

}  // namespace tapfix::app
