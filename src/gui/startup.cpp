#include "gui/startup.hpp"

#include <QApplication>
#include <QMessageBox>

#include "config/download_config.hpp"
#include "config/package.hpp"
#include "platform/work_folder.hpp"

namespace tapfix::gui {
namespace {

constexpr std::string_view kInstanceName = "QVOMDM9215,BEB76632-0DFF-4771-B3A1-55DBFF6C6BAB";
constexpr char kAlreadyRunning[] = "The program has been running. Cannot open it again!";
constexpr char kStartFailed[] = "11111111111111111111111111111!";

// Start-up's boxes carry the program's name as their caption.
void ShowStartMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

// The rest of the program as the window sees it.
class CStartUp::NoDeviceControl final : public app::UpdateControl {
  public:
    bool UpdateRunning() const override { return false; }
    bool StopWatcher() override { return false; }
    void StartWorker() override {}
    void FinishDevice() override {}
    void LanguageChanged(bool) override {}
};

CStartUp::CStartUp(StartOptions options, app::CNotificationChannel& channel)
    : options_(std::move(options)),
      channel_(channel),
      control_(std::make_unique<NoDeviceControl>()) {
    debugOutput_.SetEcho(options_.verbose);
}

CStartUp::~CStartUp() = default;

app::UpdateControl& CStartUp::Control() {
    return *control_;
}

app::DebugSink CStartUp::DebugSink() {
    return [this](std::string_view text) { debugOutput_.Write(text); };
}

bool CStartUp::Run(app::CWindowController& controller, bool english) {
    const std::filesystem::path workFolder =
        options_.workFolder.empty() ? platform::DefaultWorkFolder() : options_.workFolder;
    std::string error;
    const auto lock = lock_.Acquire(platform::SingleInstanceLock::DefaultFolder(workFolder),
                                    kInstanceName, error);
    if (lock == platform::SingleInstanceLock::Outcome::HeldElsewhere) {
        ShowStartMessage(kAlreadyRunning);
        return false;
    }
    controller.Initialize(english);
    if (lock == platform::SingleInstanceLock::Outcome::Failed || !InitializeTool(error)) {
        ShowStartMessage(QString(kStartFailed) + "\n" + QString::fromStdString(error));
        return false;
    }
    controller.WatcherStarted();
    return true;
}

bool CStartUp::InitializeTool(std::string& error) {
    std::filesystem::path folder;
    if (!platform::PrepareWorkFolder(options_.workFolder, folder, error) ||
        !debugOutput_.Open(folder / platform::DebugOutput::kFileName, error)) {
        return false;
    }
    config::CFirmwarePackage package;
    const std::filesystem::path packageFile =
        options_.package.empty() ? config::CFirmwarePackage::RunningProgram() : options_.package;
    if (!package.Open(packageFile) || !package.ExtractPackage(folder)) {
        error = package.LastError();
        return false;
    }
    const std::filesystem::path configFile = folder / "download.xml";
    config::DownloadServiceConfig config;
    return config::PointConfigAtWorkFolder(configFile, folder, folder, error) &&
           config::LoadConfig(configFile, config, error);
}

void CStartUp::Finish() {
    channel_.Close();
}

}  // namespace tapfix::gui
