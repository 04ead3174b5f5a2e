#include "app/application.hpp"

#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "config/package.hpp"
#include "config/signature.hpp"
#include "config/ui_text.hpp"
#include "platform/work_folder.hpp"

namespace tapfix::app {
namespace {

// The end texts of the backup tools (English ids of the text table): success, failure.
constexpr std::pair<int, int> kBackupEndTexts{220, 224};
constexpr std::pair<int, int> kRestoreEndTexts{222, 226};

using namespace std::chrono_literals;

// How often a program that ends looks whether the router's restart is done.
constexpr platform::Milliseconds kFinishingPoll = 50ms;

// A text file that lacks keys is taken, the keys it lacks keep their built-in texts and the log
// names them; a file that is no text table fails the start.
bool LoadTexts(config::CLanguageManager& language, platform::DebugOutput& log,
               const std::filesystem::path& file, std::string& failure) {
    std::vector<std::string> lacking;
    std::string error;
    if (!language.LoadTextFile(file, lacking, error)) {
        failure = "texts: " + error;
        return false;
    }
    if (!lacking.empty()) {
        std::string keys;
        for (const std::string& key : lacking) {
            keys += (keys.empty() ? "" : ", ") + key;
        }
        log.Write("The text file " + file.string() + " lacks " + std::to_string(lacking.size()) +
                  " keys; they keep their built-in texts: " + keys);
    }
    return true;
}

}  // namespace

std::filesystem::path PackageSource(const StartupOptions& options) {
    if (!options.package.empty()) {
        return options.package;
    }
    const std::filesystem::path running = config::CFirmwarePackage::RunningProgram();
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(running, ec);
    return ec ? running : resolved;
}

CUpdateApplication::CUpdateApplication(View& view, platform::Clock& clock)
    : view_(view),
      clock_(clock),
      service_(clock),
      watcher_(service_, shared_, channel_, clock),
      worker_(service_, shared_, clock),
      controller_(view, *this, clock, [this](std::string_view text) { debug_.Write(text); }) {
    channel_.SetHandler([this](const session::Notification& notification) {
        if (station_) {
            HandleStationNotification(notification);
            return;
        }
        if (observer_) {
            observer_(notification);
        }
        controller_.HandleNotification(notification);
    });
    service_.SetNvSteps(&nvSteps_);
    worker_.SetQuestion([this](std::string_view question) { return AskUser(question); });
}

bool CUpdateApplication::AskUser(std::string_view question) {
    channel_.Notify(session::TextNotification(session::kNotifyQuestion, shared_.context.slot,
                                              std::string(question)));
    // Handled on the front-end's thread before Notify returned; a closed channel asks nothing.
    return controller_.TakeAnswer();
}

CUpdateApplication::~CUpdateApplication() {
    Shutdown();
}

void CUpdateApplication::SetObserver(std::function<void(const session::Notification&)> observer) {
    observer_ = std::move(observer);
}

CUpdateApplication::StartOutcome CUpdateApplication::Start(const StartupOptions& options) {
    const StartOutcome outcome = Prepare(options);
    if (outcome == StartOutcome::Running) {
        watcher_.Start();
        controller_.WatcherStarted();
    }
    return outcome;
}

CUpdateApplication::StartOutcome CUpdateApplication::StartStation(const StartupOptions& options,
                                                                  const StationOptions& station) {
    const StartOutcome outcome = Prepare(options);
    if (outcome == StartOutcome::Running) {
        station_ = std::make_unique<CStation>(service_, shared_, clock_);
        station_->Start(station);
    }
    return outcome;
}

void CUpdateApplication::HandleStationNotification(const session::Notification& notification) {
    const bool logged = notification.kind == session::kNotifyLog ||
                        notification.kind == session::kNotifyLog2 ||
                        notification.kind == session::kNotifyHint;
    const std::string label =
        StationLabel(notification.slot, station_->RouterOnSlot(notification.slot));
    if (logged) {
        debug_.Write(label + " " + notification.text);
    } else if (notification.kind == session::kNotifyEnd) {
        const bool english = service_.Language().Language() == config::UiLanguage::English;
        debug_.Write(label + " end result " + std::to_string(notification.value) + ": " +
                     std::string(EndResultText(notification.value, english)));
    }
    if (observer_) {
        observer_(notification);
    }
}

CUpdateApplication::StartOutcome CUpdateApplication::Prepare(const StartupOptions& options) {
    debug_.SetEcho(options.verbose);
    std::string error;
    switch (instanceLock_.Acquire(platform::SingleInstanceLock::DefaultFolder(), kInstanceName,
                                  error)) {
        case platform::SingleInstanceLock::Outcome::HeldElsewhere:
            view_.ShowMessage(std::string(kAlreadyRunningText) +
                              (error.empty() ? "" : "\n" + error));
            return StartOutcome::AlreadyRunning;
        case platform::SingleInstanceLock::Outcome::Failed:
            FailStartup(error);
            return StartOutcome::Failed;
        case platform::SingleInstanceLock::Outcome::Acquired:
            break;
    }
    controller_.Initialize(options.english);
    if (options.task != Task::Update) {
        const auto [success, failure] =
            options.task == Task::Backup ? kBackupEndTexts : kRestoreEndTexts;
        controller_.SetEndTexts(success, failure);
    }
    if (!InitializeTool(options, error)) {
        FailStartup(error);
        return StartOutcome::Failed;
    }
    return StartOutcome::Running;
}

bool CUpdateApplication::InitializeTool(const StartupOptions& options, std::string& failure) {
    std::string error;
    platform::WorkFolder folder;
    if (!platform::PrepareWorkFolder(options.workFolder, folder, error)) {
        failure = "work folder: " + error;
        return false;
    }
    shared_.workFolder = folder.path;
    if (!debug_.Open(shared_.workFolder / platform::DebugOutput::kFileName, error)) {
        debug_.Write(error);
    }
    const std::filesystem::path source = PackageSource(options);
    LogHeader(options, source);
    if (!LoadTexts(service_.Language(), debug_, options.textFile, failure)) {
        return false;
    }
    TellPrivateFolder(folder, options.english);
    config::CFirmwarePackage package;
    if (!package.Open(source)) {
        failure = package.LastError();
        return false;
    }
    if (!AcceptSignature(source, options, failure)) {
        return false;
    }
    if (!package.ExtractPackage(shared_.workFolder)) {
        failure = package.LastError();
        return false;
    }
    LogBuildIds();
    session::PortContext& context = shared_.context;
    context = session::PortContext{};
    context.imageFolder = shared_.workFolder;
    context.nvRoot = shared_.workFolder;
    shared_.resumeImei = options.resumeImei;
    shared_.task = options.task;
    shared_.restoreWhich = options.restoreWhich;
    if (!config::LoadFolderConfig(shared_.workFolder, service_.Config(), true, failure)) {
        return false;
    }
    service_.SetNotifier(&channel_);
    return true;
}

bool CUpdateApplication::AcceptSignature(const std::filesystem::path& package,
                                         const StartupOptions& options, std::string& failure) {
    const config::PackageTrust trust = config::JudgePackage(package, options.allowUnsigned);
    for (const std::string& problem : trust.keyProblems) {
        debug_.Write("a trusted key cannot be used: " + problem);
    }
    debug_.Write("package " + package.string() + ": " + config::DescribeSignature(trust.check));
    if (!trust.verdict.accepted) {
        failure = trust.verdict.line;
        return false;
    }
    if (!trust.verdict.line.empty()) {
        debug_.Write(trust.verdict.line);
    }
    shared_.packageBuildId = trust.BuildId();
    shared_.allowDowngrade = options.allowDowngrade;
    return true;
}

void CUpdateApplication::LogHeader(const StartupOptions& options,
                                   const std::filesystem::path& package) {
    std::string arguments;
    for (const std::string& argument : options.arguments) {
        arguments += " " + argument;
    }
    debug_.Write("==== " + (options.program.empty() ? std::string("tapfix") : options.program) +
                 " starts");
    debug_.Write("options:" + (arguments.empty() ? std::string(" none") : arguments));
    debug_.Write("work folder: " + shared_.workFolder.string());
    debug_.Write("package: " + std::filesystem::absolute(package).string());
    debug_.Write("step texts: " +
                 (options.textFile.empty() ? std::string("built in") : options.textFile.string()));
}

void CUpdateApplication::LogBuildIds() {
    std::string names;
    for (const std::string& name :
         ImageVersionStrings(shared_.workFolder / CUpdateWorker::kImageFile)) {
        names += (names.empty() ? "" : ", ") + name;
    }
    debug_.Write("the package's " + std::string(CUpdateWorker::kImageFile) + " names " +
                 (names.empty() ? std::string("no build id") : names));
}

void CUpdateApplication::TellPrivateFolder(const platform::WorkFolder& folder, bool english) {
    if (folder.sharedRequested.empty()) {
        return;
    }
    const std::string text =
        config::FillText(config::PairText(config::kTextSharedWorkFolder, english),
                         {folder.sharedRequested.string(), folder.path.string()});
    debug_.Write(text);
    // The watcher has not started: on this thread the hint is shown at once.
    channel_.Notify(session::TextNotification(session::kNotifyHint, 0, text));
}

void CUpdateApplication::FailStartup(std::string_view failure) {
    debug_.Write(std::string(kStartupFailedText) + " " + std::string(failure));
    // The fixed text alone tells the user nothing: the second line says what failed, in one
    // line; the log has the details.
    view_.ShowMessage(std::string(kStartupFailedText) + "\n" + config::FailureLine(failure));
}

void CUpdateApplication::StartWorker() {
    // Set here, on the window's thread, so that no close request slips in before the worker
    // has started.
    shared_.updateRunning = true;
    workerThread_ =
        std::thread([this, facts = watcher_.Facts()] { worker_.RunUpdateWorker(facts); });
}

bool CUpdateApplication::FinishDevice() {
    const session::PortContext& context = shared_.context;
    // No port was ever found: nothing to restart, and "COM0 is not present" would mislead.
    if (context.portNumber <= 0 || !service_.ReopenLink(context.slot, context.portNumber)) {
        return false;
    }
    // The after-download steps end with a reset and its pause: the window stays responsive
    // meanwhile and closes when told.
    finishing_ = true;
    finisherThread_ = std::thread([this, context] {
        service_.AfterDownload(context);
        finishing_ = false;
        channel_.Run([this] { controller_.DeviceFinished(); });
    });
    return true;
}

void CUpdateApplication::LanguageChanged(bool english) {
    service_.Language().SetLanguage(english ? config::UiLanguage::English
                                            : config::UiLanguage::Russian);
}

void CUpdateApplication::Shutdown() {
    // A router being restarted still says what it does: its lines belong in the log.
    while (finishing_) {
        channel_.WaitAndServe(kFinishingPoll);
    }
    if (station_) {
        // Nothing is written any more (the front-end ends only then): only waits are cut short.
        station_->StopWatching();
    }
    channel_.Close();
    if (station_) {
        station_->Stop();
    }
    if (finisherThread_.joinable()) {
        finisherThread_.join();
    }
    watcher_.Stop();
    watcher_.Join();
    if (workerThread_.joinable()) {
        workerThread_.join();
    }
}

}  // namespace tapfix::app
