#include "soak_checks.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

namespace tapfix::test::soak {
namespace {

constexpr std::size_t kNvRecord = 136;
constexpr std::size_t kShownNames = 3;
constexpr int kExitOther = 4;
constexpr std::string_view kResultPrefix = "result: ";

std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return {};
    }
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start + 1));
}

// A result that tells a user whose router lost its firmware that the update failed or waits
// for them: "Download failed" (4) or the question whose data it is (5). Not "updated", nor a
// refusal that claims nothing was written (1, 2), nor another router or folder (3, 6, 7).
bool SaysItFailed(int exitStatus) {
    return exitStatus == kExitOther || exitStatus == 5;
}

// The exit status the console gives a result number.
int ExitStatusOf(int result) {
    constexpr int kPassedThrough[] = {0, 1, 2, 3, 5, 6, 7};
    return std::find(std::begin(kPassedThrough), std::end(kPassedThrough), result) !=
                   std::end(kPassedThrough)
               ? result
               : kExitOther;
}

std::string Shown(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kShownNames; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    return names.size() > kShownNames
               ? text + " and " + std::to_string(names.size() - kShownNames) + " more"
               : text;
}

// The simulator keeps an NV value as lower-case hex without its trailing zero bytes.
std::string StateHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t used = bytes.find_last_not_of('\0') + 1;
    std::string hex;
    for (const char byte : bytes.substr(0, used)) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 0x0F];
    }
    return hex;
}

std::string HexDigitsUpper(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return digits;
}

std::string RouterMac(const Json& state) {
    const Json nv = state.value("nv", Json::object());
    return HexDigitsUpper(nv.value("4678", "")).substr(0, 12);
}

// The names of what a backup holds that its router (state before the first run) does not.
std::vector<std::string> ForeignData(const std::filesystem::path& folder, const Json& router) {
    std::vector<std::string> foreign;
    const Json nv = router.value("nv", Json::object());
    for (const auto& [name, bytes] : e2e::BackupData(folder)) {
        if (name.starts_with("NV ")) {
            const std::string item = name.substr(3);
            if (nv.value(item, std::string()) != StateHex(bytes)) {
                foreign.push_back(name);
            }
        } else if (name == "MAC" && HexDigitsUpper(bytes).substr(0, 12) != RouterMac(router)) {
            foreign.push_back(name);
        }
    }
    return foreign;
}

std::map<std::string, std::string> IdentityOf(const std::filesystem::path& folder) {
    std::map<std::string, std::string> keys;
    std::ifstream in(folder / "device_identity");
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            keys[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return keys;
}

bool HasOwnCompleteCopy(const RouterRecord& router, const std::filesystem::path& workFolder) {
    const std::filesystem::path copy = workFolder / "SaveNV" / ("IMEI-" + router.imei);
    const auto identity = IdentityOf(copy);
    const auto value = [&](const char* key) {
        const auto found = identity.find(key);
        return found == identity.end() ? std::string() : found->second;
    };
    return value("imei") == router.imei && value("complete") == "1" &&
           ForeignData(copy, router.before).empty();
}

// Names whose value in `router` is another router's and not its own first one.
std::vector<std::string> TakenFrom(const std::map<std::string, Json>& router,
                                   const std::map<std::string, Json>& own,
                                   const std::map<std::string, Json>& other) {
    std::vector<std::string> taken;
    for (const auto& [name, value] : router) {
        const auto theirs = other.find(name);
        const auto mine = own.find(name);
        if (theirs != other.end() && theirs->second == value &&
            (mine == own.end() || mine->second != value)) {
            taken.push_back(name);
        }
    }
    return taken;
}

const RouterRecord* Owner(const std::vector<RouterRecord>& routers, const std::string& imei) {
    const auto found = std::find_if(routers.begin(), routers.end(),
                                    [&](const RouterRecord& r) { return r.imei == imei; });
    return found == routers.end() ? nullptr : &*found;
}

std::vector<std::string> ListedBackupProblems(const Json& entry,
                                              const std::vector<RouterRecord>& routers) {
    const std::string folder = entry.value("folder", "");
    const std::string imei = entry.value("imei", "");
    if (!entry.contains("complete") || !entry.at("complete").is_boolean()) {
        return {"backup " + folder + " is neither complete nor marked incomplete"};
    }
    if (!entry.at("complete").get<bool>()) {
        return {};
    }
    const RouterRecord* owner = Owner(routers, imei);
    if (owner == nullptr) {
        return {"backup " + folder + " names IMEI " + imei + ", no router of this case"};
    }
    const std::vector<std::string> foreign = ForeignData(folder, owner->before);
    if (foreign.empty()) {
        return {};
    }
    return {"complete backup " + folder + " of IMEI " + imei +
            " holds what its router did not have: " + Shown(foreign)};
}

// Backup folders under SaveNV/ and NVArchive/: a half-written NV file or a folder the tool
// does not list.
std::vector<std::string> FolderProblems(const std::filesystem::path& workFolder,
                                        const std::vector<std::string>& listedFolders) {
    std::vector<std::string> problems;
    for (const char* place : {"SaveNV", "NVArchive"}) {
        std::error_code ec;
        for (std::filesystem::recursive_directory_iterator entry(workFolder / place, ec), end;
             !ec && entry != end; entry.increment(ec)) {
            if (entry->path().filename() != "Channel0.nv") {
                continue;
            }
            const std::filesystem::path folder = entry->path().parent_path();
            if (entry->file_size() % kNvRecord != 0) {
                problems.push_back("half-written " + entry->path().string());
            }
            const bool listed =
                std::any_of(listedFolders.begin(), listedFolders.end(), [&](const std::string& f) {
                    return std::filesystem::path(f).lexically_normal() == folder.lexically_normal();
                });
            if (!listed) {
                problems.push_back("backup folder " + folder.string() + " is not listed");
            }
        }
    }
    return problems;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

std::vector<std::string> CheckRun(const RunRecord& run) {
    std::vector<std::string> problems;
    if (run.exitStatus < 0) {
        return {"did not end within " + std::to_string(run.bound.count()) + " ms"};
    }
    if (run.took > run.bound) {
        problems.push_back("took " + std::to_string(run.took.count()) + " ms, its bound is " +
                           std::to_string(run.bound.count()) + " ms");
    }
    const std::string last = LastLine(run.out);
    if (!last.starts_with(kResultPrefix)) {
        problems.push_back("ended without a result line (last line: \"" + last + "\")");
        return problems;
    }
    const int result = std::atoi(last.c_str() + kResultPrefix.size());
    if (ExitStatusOf(result) != run.exitStatus) {
        problems.push_back("exit status " + std::to_string(run.exitStatus) + " after \"" + last +
                           "\"");
    }
    return problems;
}

std::vector<std::string> CheckRouters(const std::vector<RouterRecord>& routers,
                                      const PackageFacts& package,
                                      const std::filesystem::path& workFolder) {
    std::vector<std::string> problems;
    for (const RouterRecord& router : routers) {
        const auto first = e2e::KeptData(router.before, package);
        const auto last = e2e::KeptData(router.after, package);
        const std::vector<std::string> changed = e2e::Differences(first, last);
        const bool blankAndSaved =
            (router.after.value("blank", false) || router.leftInDownloadMode) &&
            SaysItFailed(router.lastExitStatus) && HasOwnCompleteCopy(router, workFolder);
        if (!changed.empty() && !blankAndSaved) {
            problems.push_back("router " + router.imei + " lost or changed " + Shown(changed) +
                               " and has no complete backup waiting with a failure said");
        }
        for (const RouterRecord& other : routers) {
            if (&other == &router) {
                continue;
            }
            const auto taken = TakenFrom(last, first, e2e::KeptData(other.before, package));
            if (!taken.empty()) {
                problems.push_back("router " + router.imei + " holds router " + other.imei + "'s " +
                                   Shown(taken));
            }
        }
    }
    return problems;
}

std::vector<std::string> CheckBackups(const std::string& listed,
                                      const std::vector<RouterRecord>& routers,
                                      const std::filesystem::path& workFolder) {
    std::vector<std::string> problems;
    std::vector<std::string> folders;
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) {
        const Json entry = Json::parse(line, nullptr, false);
        if (!entry.is_object()) {
            problems.push_back("unreadable listing line: " + line);
            continue;
        }
        folders.push_back(entry.value("folder", ""));
        Append(problems, ListedBackupProblems(entry, routers));
    }
    Append(problems, FolderProblems(workFolder, folders));
    return problems;
}

}  // namespace tapfix::test::soak
