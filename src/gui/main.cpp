// tapfix-update: the firmware updater's window.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/application.hpp"
#include "app/command_line.hpp"
#include "gui/main_window.hpp"

namespace {

using tapfix::gui::CUITapfixDlg;

// Another copy runs, or start-up failed; the user has been told in a message box.
constexpr int kExitNotStarted = 1;

struct Options {
    tapfix::app::StartupOptions start;
    std::filesystem::path screenshot;
};

bool ParseOptions(int argc, char** argv, Options& options, int& exitCode) {
    CLI::App cli{"Updates the firmware of a USB mobile Wi-Fi router in a window"};
    // Qt's own options (-platform, -style, ...) pass through to the toolkit.
    cli.allow_extras();
    cli.set_version_flag("--version", "tapfix-update " TAPFIX_VERSION);
    tapfix::app::AddStartupOptions(cli, options.start);
    cli.add_option("--screenshot", options.screenshot,
                   "save a PNG of the window once its texts are set, and exit");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        exitCode = cli.exit(error);
        return false;
    }
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
    if (!WindowPicture(window).save(QString::fromStdString(file.string()), "PNG")) {
        std::cerr << "tapfix-update: cannot write " << file.string() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = 0;
    if (!ParseOptions(argc, argv, options, exitCode)) {
        return exitCode;
    }
    QApplication toolkit(argc, argv);
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
