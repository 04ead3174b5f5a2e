// tapfix-update: the firmware updater's window.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/notification_channel.hpp"
#include "gui/main_window.hpp"
#include "gui/startup.hpp"

namespace {

using tapfix::gui::CUITapfixDlg;

struct Options {
    std::string language = "ru";
    tapfix::gui::StartOptions start;
    std::filesystem::path screenshot;
};

bool ParseOptions(int argc, char** argv, Options& options, int& exitCode) {
    CLI::App cli{"Updates the firmware of a USB mobile Wi-Fi router in a window"};
    // Qt's own options (-platform, -style, ...) pass through to the toolkit.
    cli.allow_extras();
    cli.add_option("--lang", options.language, "language of the window at start (default ru)")
        ->check(CLI::IsMember({"en", "ru"}));
    cli.add_option("--work-dir", options.start.workFolder,
                   "folder for the firmware package, the NV backup and the log");
    cli.add_option("--package", options.start.package,
                   "firmware package file (default: the one this program carries)");
    cli.add_flag("--verbose", options.start.verbose, "echo the log to standard error");
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
    QApplication application(argc, argv);
    QApplication::setApplicationName("tapfix-update");
    QApplication::setFont(tapfix::gui::DialogFont());
    QApplication::setWindowIcon(tapfix::gui::ProgramIcon());

    tapfix::app::CNotificationChannel channel;
    tapfix::gui::CStartUp startUp(options.start, channel);
    CUITapfixDlg window(startUp.Control(), channel, startUp.DebugSink());
    const bool english = options.language == "en";
    if (!options.screenshot.empty()) {
        window.Controller().Initialize(english);
        return SaveScreenshot(window, options.screenshot);
    }
    if (!startUp.Run(window.Controller(), english)) {
        return 0;
    }
    window.show();
    exitCode = QApplication::exec();
    startUp.Finish();
    return exitCode;
}
