#pragma once

#include <array>
#include <optional>
#include <string>

#include "sim/diag_common.hpp"

namespace tapfix::sim {

// The EFS2 file system over DIAG subsystem 0x13 (and 0x3E, which reaches the same files):
// open, close, read, write, stat, fstat, and the item-file get and put. Answers carry the
// file system's error numbers (2 = no such file).
class EfsService {
  public:
    Bytes Handle(diag::Exchange& exchange);

  private:
    struct OpenFile {
        std::string path;
        bool readable = false;
        bool writable = false;
    };
    static constexpr std::size_t kMaxOpenFiles = 16;

    Bytes Open(diag::Exchange& exchange);
    Bytes Close(diag::Exchange& exchange);
    Bytes Read(diag::Exchange& exchange);
    Bytes Write(diag::Exchange& exchange);
    Bytes Stat(diag::Exchange& exchange);
    Bytes Fstat(diag::Exchange& exchange);
    Bytes Put(diag::Exchange& exchange);
    Bytes Get(diag::Exchange& exchange);

    // The open file behind a descriptor whose file still exists.
    OpenFile* Lookup(std::uint32_t fd, DeviceState& state);
    std::optional<std::uint32_t> FreeDescriptor() const;

    std::array<std::optional<OpenFile>, kMaxOpenFiles> files_;
};

}  // namespace tapfix::sim
