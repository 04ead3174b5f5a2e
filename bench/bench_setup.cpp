#include "bench_setup.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace tapfix::bench {

sim::LinkModel UsbLink() {
    sim::LinkModel link;
    link.latency = std::chrono::microseconds(500);
    link.bytesPerSecond = 30e6;
    return link;
}

bool MakePrivateFolder(std::filesystem::path& folder, std::string& failure) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tapfix-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        failure = "cannot make a temporary folder";
        return false;
    }
    folder = pattern;
    return true;
}

void RemoveFolder(const std::filesystem::path& folder) {
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

void FlushToDisk(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

std::filesystem::path PortRegistry(const std::filesystem::path& folder) {
    // The host finds the router's port through the registry, as it finds a real one.
    const auto registry = folder / "ports";
    ::setenv("TAPFIX_PORTS_DIR", registry.c_str(), 1);
    return registry;
}

}  // namespace tapfix::bench
