#include "platform/port_registry.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/port_enumeration.hpp"

namespace tapfix::platform {
namespace fs = std::filesystem;

namespace {

bool Fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

}  // namespace

fs::path RegistryLinkPath(const fs::path& registry, int number) {
    return registry / ("COM" + std::to_string(number));
}

fs::path RegistryNamePath(const fs::path& registry, int number) {
    return registry / ("COM" + std::to_string(number) + ".name");
}

std::optional<fs::path> PortsDirectory() {
    const char* dir = std::getenv("TAPFIX_PORTS_DIR");
    if (dir == nullptr || *dir == '\0') {
        return std::nullopt;
    }
    return fs::path(dir);
}

std::optional<fs::path> ResolvePortDevice(int number) {
    if (number <= 0) {
        return std::nullopt;
    }
    if (const auto registry = PortsDirectory()) {
        const fs::path link = RegistryLinkPath(*registry, number);
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(link, ec))) {
            return std::nullopt;
        }
        return link;
    }
    return ResolveTtyPortDevice(number, "/dev");
}

bool RegisterPort(const fs::path& registry, int number, const fs::path& device,
                  std::string_view displayName, std::string* error) {
    std::error_code ec;
    fs::create_directories(registry, ec);
    const fs::path namePath = RegistryNamePath(registry, number);
    const fs::path nameTemp = namePath.string() + ".tmp";
    {
        std::ofstream out(nameTemp, std::ios::binary | std::ios::trunc);
        out << displayName << '\n';
        if (!out) {
            return Fail(error, "cannot write " + nameTemp.string());
        }
    }
    fs::rename(nameTemp, namePath, ec);
    if (ec) {
        return Fail(error, "cannot rename " + nameTemp.string() + ": " + ec.message());
    }
    const fs::path link = RegistryLinkPath(registry, number);
    const fs::path linkTemp = link.string() + ".tmp";
    ::unlink(linkTemp.c_str());
    if (::symlink(device.c_str(), linkTemp.c_str()) != 0) {
        return Fail(error, "cannot link " + linkTemp.string() + ": " + std::strerror(errno));
    }
    if (::rename(linkTemp.c_str(), link.c_str()) != 0) {
        ::unlink(linkTemp.c_str());
        return Fail(error, "cannot rename " + linkTemp.string() + ": " + std::strerror(errno));
    }
    return true;
}

void UnregisterPort(const fs::path& registry, int number) {
    ::unlink(RegistryLinkPath(registry, number).c_str());
    ::unlink(RegistryNamePath(registry, number).c_str());
}

int LowestFreePortNumber(const fs::path& registry, int start) {
    int number = start < 1 ? 1 : start;
    std::error_code ec;
    while (fs::exists(fs::symlink_status(RegistryLinkPath(registry, number), ec))) {
        ++number;
    }
    return number;
}

}  // namespace tapfix::platform
