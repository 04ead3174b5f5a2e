#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QStringList>

#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

constexpr int kProgramWaitMs = 60000;

struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
};

ProgramRun RunUpdateProgram(const QStringList& arguments) {
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(TAPFIX_UPDATE_PROGRAM, arguments);
    ProgramRun run;
    run.finished = program.waitForFinished(kProgramWaitMs);
    run.exitCode = program.exitCode();
    return run;
}

TEST(ScreenshotTest, SavesThePictureOfTheWindowInTheChosenLanguage) {
    TempDir folder;
    const struct {
        QStringList options;
        QString file;
    } cases[] = {{{}, "ru.png"}, {{"--lang", "ru"}, "ru-again.png"}, {{"--lang", "en"}, "en.png"}};
    for (const auto& entry : cases) {
        const QString file = QString::fromStdString((folder.Path() / entry.file.toStdString()));
        const ProgramRun run =
            RunUpdateProgram(QStringList(entry.options) << "--screenshot" << file);
        ASSERT_TRUE(run.finished) << entry.file.toStdString();
        EXPECT_EQ(run.exitCode, 0) << entry.file.toStdString();
    }
    const auto picture = [&folder](const char* name) {
        return QImage(QString::fromStdString(folder.Path() / name));
    };
    const QImage russian = picture("ru.png");
    ASSERT_FALSE(russian.isNull());
    // The window (737 x 385 in DejaVu Sans 9 pt) under a title bar.
    EXPECT_EQ(russian.width(), 737);
    EXPECT_GT(russian.height(), 385);
    EXPECT_EQ(russian, picture("ru-again.png"));
    EXPECT_NE(russian, picture("en.png"));
}

TEST(ScreenshotTest, AnUnwritablePictureOrAnUnknownLanguageFails) {
    TempDir folder;
    const QString missing = QString::fromStdString(folder.Path() / "no-such-folder" / "w.png");
    for (const QStringList& arguments :
         {QStringList{"--screenshot", missing}, QStringList{"--lang", "de"}}) {
        const ProgramRun run = RunUpdateProgram(arguments);
        ASSERT_TRUE(run.finished) << arguments.join(' ').toStdString();
        EXPECT_NE(run.exitCode, 0) << arguments.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace tapfix::test
