// tapfix-update: the firmware updater's window.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/application.hpp"
#include "app/command_line.hpp"
#include "gui/main_window.hpp"
#include "gui/toolkit_arguments.hpp"

namespace {

using tapfix::gui::CUITapfixDlg;

// Another copy runs, or start-up failed; the user has been told in a message box.
constexpr int kExitNotStarted = 1;
// The command line was refused.
constexpr int kExitUsage = 2;

struct Options {
    tapfix::app::StartupOptions start;
    std::filesystem::path screenshot;
};

// Qt's own options (-platform, -style, ...) go to the toolkit; everything else must be ours.
bool ParseOptions(std::vector<std::string> arguments, Options& options, int& exitCode) {
    CLI::App cli{"Updates the firmware of a USB mobile Wi-Fi router in a window"};
    cli.set_version_flag("--version", "tapfix-update " TAPFIX_VERSION);
    cli.failure_message(CLI::FailureMessage::help);
    tapfix::app::AddStartupOptions(cli, options.start);
    cli.add_option("--screenshot", options.screenshot,
                   "save a picture of the window once its texts are set (PNG, or the format "
                   "its name's suffix names), and exit");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    try {
        cli.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        exitCode = cli.exit(error) == 0 ? 0 : kExitUsage;
        return false;
    }
    options.start.program = "tapfix-update " TAPFIX_VERSION;
    options.start.arguments.assign(arguments.begin() + 1, arguments.end());
    return true;
}

// The offscreen platform draws no frame, so the picture gets a plain title bar with the caption
// and the icon above the window's client area.
QPixmap WindowPicture(CUITapfixDlg& window) {
    const QPixmap client = window.grab();
    const int barHeight = window.fontMetrics().height() * 2;
    QPixmap picture(client.width(), client.height() + barHeight);
    picture.fill(window.palette().color(QPalette::Mid));
    QPainter painter(&picture);
    const int iconSize = barHeight - 8;
    window.windowIcon().paint(&painter, QRect(4, 4, iconSize, iconSize));
    painter.setFont(window.font());
    painter.drawText(QRect(iconSize + 12, 0, client.width(), barHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawPixmap(0, barHeight, client);
    return picture;
}

int SaveScreenshot(CUITapfixDlg& window, const std::filesystem::path& file) {
    window.show();
    QApplication::processEvents();
    // The name's suffix chooses the format; a name without one gets PNG.
    const char* format = file.has_extension() ? nullptr : "PNG";
    if (!WindowPicture(window).save(QString::fromStdString(file.string()), format)) {
        std::cerr << "tapfix-update: cannot write " << file.string()
                  << " (a folder that exists, and a picture format such as .png)\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const tapfix::gui::SplitArguments arguments =
        tapfix::gui::SplitToolkitArguments(std::vector<std::string>(argv, argv + argc));
    Options options;
    int exitCode = 0;
    if (!ParseOptions(arguments.program, options, exitCode)) {
        return exitCode;
    }
    std::vector<std::string> toolkitArguments = arguments.toolkit;
    std::vector<char*> toolkitArgv;
    for (std::string& argument : toolkitArguments) {
        toolkitArgv.push_back(argument.data());
    }
    int toolkitArgc = static_cast<int>(toolkitArgv.size());
    toolkitArgv.push_back(nullptr);
    QApplication toolkit(toolkitArgc, toolkitArgv.data());
    QApplication::setApplicationName("tapfix-update");
    QApplication::setFont(tapfix::gui::DialogFont());
    QApplication::setWindowIcon(tapfix::gui::ProgramIcon());

    // The window outlives the application, whose end waits for the threads that notify it.
    CUITapfixDlg window;
    tapfix::app::CUpdateApplication application(window);
    window.Attach(application.Controller(), application.Channel());
    if (!options.screenshot.empty()) {
        application.Controller().Initialize(options.start.english);
        return SaveScreenshot(window, options.screenshot);
    }
    if (application.Start(options.start) !=
        tapfix::app::CUpdateApplication::StartOutcome::Running) {
        return kExitNotStarted;
    }
    window.show();
    return QApplication::exec();
}
