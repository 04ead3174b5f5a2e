#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>

#include "gui/toolkit_arguments.hpp"
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

TEST(ScreenshotTest, TheFilesSuffixChoosesThePicturesFormat) {
    TempDir folder;
    const struct {
        const char* name;
        QByteArray magic;
    } cases[] = {{"w.jpg", "\xFF\xD8\xFF"}, {"w.png", "\x89PNG"}, {"w", "\x89PNG"}};
    for (const auto& c : cases) {
        const QString file = QString::fromStdString(folder.Path() / c.name);
        ASSERT_EQ(RunUpdateProgram({"--screenshot", file}).exitCode, 0) << c.name;
        QFile picture(file);
        ASSERT_TRUE(picture.open(QIODevice::ReadOnly)) << c.name;
        EXPECT_TRUE(picture.read(c.magic.size()) == c.magic) << c.name;
    }
}

// Mistyped options were once passed to the toolkit and ignored; the toolkit's own still work.
TEST(UpdateProgramOptions, UnknownOnesAreRefusedWithTheUsageAndTheToolkitsPassThrough) {
    TempDir folder;
    const QString picture = QString::fromStdString(folder.Path() / "w.png");
    const struct {
        QStringList arguments;
        int exitCode;
        const char* printed;
    } cases[] = {
        {{"--work-dri", "/tmp/x"}, 2, "--work-dir"},
        {{"-platform", "offscreen", "--reverse", "--screenshot", picture}, 0, ""},
        {{"--help"}, 0, "tapfix.log"},
    };
    for (const auto& c : cases) {
        QByteArray output;
        const ProgramRun run = RunUpdateProgram(c.arguments, &output);
        ASSERT_TRUE(run.finished) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << output.toStdString();
        EXPECT_TRUE(output.contains(c.printed)) << output.toStdString();
    }
}

TEST(ToolkitArguments, TheToolkitsOwnGoToItAndTheRestToTheProgram) {
    using Args = std::vector<std::string>;
    const struct {
        Args arguments;
        Args program;
        Args toolkit;
    } cases[] = {
        {{"p", "--lang", "en"}, {"p", "--lang", "en"}, {"p"}},
        {{"p", "-platform", "offscreen", "-v"}, {"p", "-v"}, {"p", "-platform", "offscreen"}},
        {{"p", "--style=fusion", "--work-dri", "x"},
         {"p", "--work-dri", "x"},
         {"p", "--style=fusion"}},
        {{"p", "-reverse", "--package", "f"}, {"p", "--package", "f"}, {"p", "-reverse"}},
        {{"p", "-style"}, {"p"}, {"p", "-style"}},
    };
    for (const auto& c : cases) {
        const gui::SplitArguments split = gui::SplitToolkitArguments(c.arguments);
        EXPECT_EQ(split.program, c.program) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(split.toolkit, c.toolkit) << ::testing::PrintToString(c.arguments);
    }
}

}  // namespace
}  // namespace tapfix::test
