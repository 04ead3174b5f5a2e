#pragma once

#include <cstdint>
#include <span>

#include "config/download_config.hpp"
#include "session/progress.hpp"

// The ways an opened image goes to the flash programmer, chosen per file list entry.
namespace tapfix::session {

class CDownloadService;

// One image being written: the entry, the slot and the progress of its list.
struct ImageJob {
    CDownloadService& service;
    int slot;
    const config::DownloadFile& entry;
    ProgressState& progress;
};

// Blocks of 1,024 bytes, each acknowledged before the next (dlType 0).
bool NormalTransfer(const ImageJob& job);
// Blocks of 1,024 bytes with up to four unacknowledged; the ones whose acknowledgement never
// came are written again, acknowledged, at the end (dlType 1).
bool PipelinedTransfer(const ImageJob& job);
// 32 MiB raw segments with a checksum each (dlType 3).
bool HighSpeedTransfer(const ImageJob& job);
// 128 KiB raw blocks with a checksum each, one resend on a mismatch (dlType 4).
bool ChecksummedTransfer(const ImageJob& job);

// The checksum sent after a raw unit: the sum of its 32-bit little-endian words, modulo 2^32.
std::uint32_t UnitChecksum(std::span<const std::uint8_t> unit);

}  // namespace tapfix::session
