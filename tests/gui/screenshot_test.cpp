#include <gtest/gtest.h>

#include <QFile>
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

ProgramRun RunUpdateProgram(const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess program;
    program.setProcessChannelMode(output ? QProcess::MergedChannels : QProcess::ForwardedChannels);
    program.start(TAPFIX_UPDATE_PROGRAM, arguments);
    ProgramRun run;
    run.finished = program.waitForFinished(kProgramWaitMs);
    run.exitCode = program.exitCode();
    if (output) {
        *output = program.readAll();
    }
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

// Mistyped options were once passed to the toolkit and ignored; the toolkit's own still work.
// A picture's name chooses its format.
TEST(UpdateProgramOptions, UnknownOnesAreRefusedWithTheUsageAndTheToolkitsPassThrough) {
    TempDir folder;
    const auto picture = [&folder](const char* name) {
        return QString::fromStdString(folder.Path() / name);
    };
    const struct {
        QStringList arguments;
        int exitCode;
        const char* printed;
        QByteArray magic;
    } cases[] = {
        {{"--work-dri", "/tmp/x"}, 2, "--work-dir", ""},
        {{"-platform", "offscreen", "--reverse", "--screenshot", picture("w.png")},
         0,
         "",
         "\x89PNG"},
        {{"-style=fusion", "--screenshot", picture("w.jpg")}, 0, "", "\xFF\xD8\xFF"},
        {{"--help"}, 0, "tapfix.log", ""},
    };
    for (const auto& c : cases) {
        QByteArray output;
        const ProgramRun run = RunUpdateProgram(c.arguments, &output);
        ASSERT_TRUE(run.finished) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << output.toStdString();
        EXPECT_TRUE(output.contains(c.printed)) << output.toStdString();
        QFile written(c.arguments.last());
        EXPECT_TRUE(c.magic.isEmpty() ||
                    (written.open(QIODevice::ReadOnly) && written.read(c.magic.size()) == c.magic))
            << c.arguments.last().toStdString();
    }
}

}  // namespace
}  // namespace tapfix::test
