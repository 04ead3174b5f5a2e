#include "sim/efs_service.hpp"

#include <algorithm>

namespace tapfix::sim {
namespace {

using diag::Exchange;
using wire::AppendLe16;
using wire::AppendLe32;
using wire::ReadLe16;
using wire::ReadLe32;

enum EfsCommand : std::uint16_t {
    kOpen = 0x0002,
    kClose = 0x0003,
    kRead = 0x0004,
    kWrite = 0x0005,
    kStat = 0x000F,
    kFstat = 0x0011,
    kPut = 0x0026,
    kGet = 0x0027,
};

// The file system's error numbers.
constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kNoEntry = 2;
constexpr std::uint32_t kBadDescriptor = 9;
constexpr std::uint32_t kExists = 17;
constexpr std::uint32_t kIsDirectory = 21;
constexpr std::uint32_t kTooManyOpen = 24;
constexpr std::uint32_t kTooLarge = 27;
constexpr std::uint32_t kOutOfRange = 34;
constexpr std::uint32_t kFailed = 0xFFFFFFFF;

constexpr std::uint32_t kAccessMask = 0x3;
constexpr std::uint32_t kWriteOnly = 0x1;
constexpr std::uint32_t kReadWrite = 0x2;
constexpr std::uint32_t kCreate = 0x40;
constexpr std::uint32_t kExclusive = 0x80;
constexpr std::uint32_t kTruncate = 0x200;

constexpr std::uint32_t kModeRegular = 0100644;
constexpr std::uint32_t kModeItem = 0160644;
constexpr std::uint32_t kModeDirectory = 040755;
constexpr std::uint32_t kFileTime = 0x5316F3A1;
// What one read answer carries at most: the DIAG packet limit of the firmware.
constexpr std::uint32_t kMaxReadChunk = 512;
// The flash behind EFS is small; a write past this is refused, not allocated.
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string Normalised(std::string path) {
    const auto first = path.find_first_not_of('/');
    return first == std::string::npos ? std::string() : path.substr(first);
}

bool IsDirectory(const DeviceState& state, const std::string& path) {
    if (path.empty()) {
        return true;
    }
    const std::string prefix = path + "/";
    const auto next = state.efs.lower_bound(prefix);
    return next != state.efs.end() && next->first.starts_with(prefix);
}

void AppendStatFields(Bytes& answer, std::uint32_t mode, std::uint32_t size) {
    const std::uint32_t fields[] = {mode, size, 1, kFileTime, kFileTime, kFileTime};
    for (const std::uint32_t field : fields) {
        AppendLe32(answer, field);
    }
}

void AppendStatOf(Bytes& answer, const DeviceState& state, const std::string& path) {
    const auto file = state.efs.find(path);
    if (file != state.efs.end()) {
        AppendLe32(answer, kNoError);
        AppendStatFields(answer, file->second.type == EfsType::Item ? kModeItem : kModeRegular,
                         static_cast<std::uint32_t>(file->second.data.size()));
    } else if (IsDirectory(state, path)) {
        AppendLe32(answer, kNoError);
        AppendStatFields(answer, kModeDirectory, 0);
    } else {
        AppendLe32(answer, kNoEntry);
        AppendStatFields(answer, 0, 0);
    }
}

Bytes Malformed(Exchange& exchange) {
    exchange.trace["malformed"] = true;
    return diag::ErrorAnswer(diag::kBadLength, exchange.request);
}

// The descriptor argument every descriptor request starts with.
std::optional<std::uint32_t> DescriptorArgument(Exchange& exchange) {
    const auto fd = ReadLe32(exchange.request, diag::kSubsystemHeader);
    if (fd) {
        exchange.trace["fd"] = *fd;
    }
    return fd;
}

// A path field that is not terminated inside the request.
Bytes BadPath(Exchange& exchange) {
    exchange.trace["malformed"] = true;
    return diag::ErrorAnswer(diag::kBadParameters, exchange.request);
}

}  // namespace

Bytes EfsService::Handle(Exchange& exchange) {
    const auto command = ReadLe16(exchange.request, 2);
    switch (command.value_or(0xFFFF)) {
        case kOpen:
            return Open(exchange);
        case kClose:
            return Close(exchange);
        case kRead:
            return Read(exchange);
        case kWrite:
            return Write(exchange);
        case kStat:
            return Stat(exchange);
        case kFstat:
            return Fstat(exchange);
        case kPut:
            return Put(exchange);
        case kGet:
            return Get(exchange);
        default:
            exchange.Name("efs_unsupported");
            return diag::ErrorAnswer(diag::kBadCommand, exchange.request);
    }
}

EfsService::OpenFile* EfsService::Lookup(std::uint32_t fd, DeviceState& state) {
    if (fd >= files_.size() || !files_[fd] || !state.efs.contains(files_[fd]->path)) {
        return nullptr;
    }
    return &*files_[fd];
}

std::optional<std::uint32_t> EfsService::FreeDescriptor() const {
    for (std::uint32_t fd = 0; fd < files_.size(); ++fd) {
        if (!files_[fd]) {
            return fd;
        }
    }
    return std::nullopt;
}

Bytes EfsService::Open(Exchange& exchange) {
    exchange.Name("efs_open");
    const auto flags = ReadLe32(exchange.request, 4);
    std::string path;
    if (!flags || !ReadLe32(exchange.request, 8)) {
        return Malformed(exchange);
    }
    if (!diag::ReadText(exchange.request, 12, &path)) {
        return BadPath(exchange);
    }
    path = Normalised(path);
    exchange.trace["path"] = path;
    exchange.trace["flags"] = *flags;
    DeviceState& state = exchange.State();
    const std::uint32_t access = *flags & kAccessMask;
    const bool writable = access == kWriteOnly || access == kReadWrite;
    const bool exists = state.efs.contains(path);
    std::uint32_t error = kNoError;
    std::optional<std::uint32_t> fd = FreeDescriptor();
    if (IsDirectory(state, path)) {
        error = kIsDirectory;
    } else if (!exists && (*flags & kCreate) == 0) {
        error = kNoEntry;
    } else if (exists && (*flags & kCreate) != 0 && (*flags & kExclusive) != 0) {
        error = kExists;
    } else if (!fd) {
        error = kTooManyOpen;
    }
    if (error == kNoError) {
        EfsFile& file = state.efs[path];
        if (writable && (*flags & kTruncate) != 0) {
            file.data.clear();
        }
        files_[*fd] = OpenFile{path, access != kWriteOnly, writable};
    }
    const std::uint32_t answeredFd = error == kNoError ? *fd : kFailed;
    exchange.trace["fd"] = static_cast<std::int32_t>(answeredFd);
    exchange.trace["errno"] = error;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe32(answer, answeredFd);
    AppendLe32(answer, error);
    return answer;
}

Bytes EfsService::Close(Exchange& exchange) {
    exchange.Name("efs_close");
    const auto fd = DescriptorArgument(exchange);
    if (!fd) {
        return Malformed(exchange);
    }
    const bool open = *fd < files_.size() && files_[*fd].has_value();
    if (open) {
        files_[*fd].reset();
    }
    exchange.trace["errno"] = open ? kNoError : kBadDescriptor;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe32(answer, open ? kNoError : kBadDescriptor);
    return answer;
}

Bytes EfsService::Read(Exchange& exchange) {
    exchange.Name("efs_read");
    const auto fd = DescriptorArgument(exchange);
    const auto count = ReadLe32(exchange.request, 8);
    const auto offset = ReadLe32(exchange.request, 12);
    if (!fd || !count || !offset) {
        return Malformed(exchange);
    }
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe32(answer, *fd);
    AppendLe32(answer, *offset);
    const OpenFile* open = Lookup(*fd, exchange.State());
    exchange.trace["offset"] = *offset;
    if (open == nullptr || !open->readable) {
        exchange.trace["errno"] = kBadDescriptor;
        AppendLe32(answer, kFailed);
        AppendLe32(answer, kBadDescriptor);
        return answer;
    }
    const Bytes& data = exchange.State().efs.at(open->path).data;
    const std::size_t start = std::min<std::size_t>(*offset, data.size());
    const std::size_t length = std::min<std::size_t>({*count, kMaxReadChunk, data.size() - start});
    exchange.trace["path"] = open->path;
    exchange.trace["bytes"] = length;
    AppendLe32(answer, static_cast<std::uint32_t>(length));
    AppendLe32(answer, kNoError);
    answer.insert(answer.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
                  data.begin() + static_cast<std::ptrdiff_t>(start + length));
    return answer;
}

Bytes EfsService::Write(Exchange& exchange) {
    exchange.Name("efs_write");
    const auto fd = DescriptorArgument(exchange);
    const auto offset = ReadLe32(exchange.request, 8);
    constexpr std::size_t kDataOffset = 12;
    if (!fd || !offset) {
        return Malformed(exchange);
    }
    const auto data = exchange.request.subspan(kDataOffset);
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe32(answer, *fd);
    AppendLe32(answer, *offset);
    const OpenFile* open = Lookup(*fd, exchange.State());
    exchange.trace["offset"] = *offset;
    const std::uint32_t error = open == nullptr || !open->writable     ? kBadDescriptor
                                : *offset + data.size() > kMaxFileSize ? kTooLarge
                                                                       : kNoError;
    if (error != kNoError) {
        exchange.trace["errno"] = error;
        AppendLe32(answer, kFailed);
        AppendLe32(answer, error);
        return answer;
    }
    Bytes& contents = exchange.State().efs.at(open->path).data;
    if (contents.size() < *offset + data.size()) {
        contents.resize(*offset + data.size(), 0);
    }
    std::copy(data.begin(), data.end(), contents.begin() + *offset);
    exchange.trace["path"] = open->path;
    exchange.trace["bytes"] = data.size();
    AppendLe32(answer, static_cast<std::uint32_t>(data.size()));
    AppendLe32(answer, kNoError);
    return answer;
}

Bytes EfsService::Stat(Exchange& exchange) {
    exchange.Name("efs_stat");
    std::string path;
    if (!diag::ReadText(exchange.request, diag::kSubsystemHeader, &path)) {
        return BadPath(exchange);
    }
    path = Normalised(path);
    exchange.trace["path"] = path;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendStatOf(answer, exchange.State(), path);
    exchange.trace["errno"] = ReadLe32(answer, diag::kSubsystemHeader).value_or(kFailed);
    return answer;
}

Bytes EfsService::Fstat(Exchange& exchange) {
    exchange.Name("efs_fstat");
    const auto fd = DescriptorArgument(exchange);
    if (!fd) {
        return Malformed(exchange);
    }
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    const OpenFile* open = Lookup(*fd, exchange.State());
    if (open == nullptr) {
        exchange.trace["errno"] = kBadDescriptor;
        AppendLe32(answer, kBadDescriptor);
        AppendStatFields(answer, 0, 0);
        return answer;
    }
    exchange.trace["errno"] = kNoError;
    AppendStatOf(answer, exchange.State(), open->path);
    return answer;
}

Bytes EfsService::Put(Exchange& exchange) {
    exchange.Name("efs_put");
    const auto length = ReadLe32(exchange.request, 4);
    const auto flags = ReadLe32(exchange.request, 8);
    const auto sequence = ReadLe16(exchange.request, 12);
    constexpr std::size_t kDataOffset = 14;
    // A sequence number read means the request reaches kDataOffset.
    if (!length || !flags || !sequence || exchange.request.size() - kDataOffset < *length) {
        return Malformed(exchange);
    }
    const auto data = exchange.request.subspan(kDataOffset, *length);
    std::string path;
    if (!diag::ReadText(exchange.request, kDataOffset + *length, &path)) {
        return BadPath(exchange);
    }
    path = Normalised(path);
    DeviceState& state = exchange.State();
    std::uint32_t error = kNoError;
    if (IsDirectory(state, path)) {
        error = kIsDirectory;
    } else if (!state.efs.contains(path) && (*flags & kCreate) == 0) {
        error = kNoEntry;
    } else {
        state.efs[path] = {EfsType::Item, Bytes(data.begin(), data.end())};
    }
    exchange.trace["path"] = path;
    exchange.trace["bytes"] = *length;
    exchange.trace["errno"] = error;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe16(answer, *sequence);
    AppendLe32(answer, error);
    return answer;
}

Bytes EfsService::Get(Exchange& exchange) {
    exchange.Name("efs_get");
    const auto wanted = ReadLe32(exchange.request, 4);
    const auto sequence = ReadLe16(exchange.request, 12);
    constexpr std::size_t kPathOffset = 14;
    if (!wanted || !ReadLe32(exchange.request, 8) || !sequence) {
        return Malformed(exchange);
    }
    std::string path;
    if (!diag::ReadText(exchange.request, kPathOffset, &path)) {
        return BadPath(exchange);
    }
    path = Normalised(path);
    const DeviceState& state = exchange.State();
    const auto file = state.efs.find(path);
    std::uint32_t error = kNoError;
    if (file == state.efs.end()) {
        error = IsDirectory(state, path) ? kIsDirectory : kNoEntry;
    } else if (file->second.data.size() > *wanted) {
        error = kOutOfRange;
    }
    exchange.trace["path"] = path;
    exchange.trace["errno"] = error;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe32(answer,
               error == kNoError ? static_cast<std::uint32_t>(file->second.data.size()) : kFailed);
    AppendLe32(answer, error);
    AppendLe16(answer, *sequence);
    if (error == kNoError) {
        answer.insert(answer.end(), file->second.data.begin(), file->second.data.end());
    }
    return answer;
}

}  // namespace tapfix::sim
