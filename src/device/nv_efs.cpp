#include "device/nv_efs.hpp"

#include <algorithm>
#include <optional>

#include "device/command_pattern.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

using namespace diag;

namespace failures {
constexpr std::string_view kNvReadExchange = "cannot read #%d NVItem, since %s";
constexpr std::string_view kNvReadStatus = "cannot read #%d NV Item, since %s";
constexpr std::string_view kNvWriteExchange = "Cannot write #%d NVItem, Since %s";
constexpr std::string_view kNvWriteStatus = "Cannot Write #%d NVItem, Since %s";
constexpr std::string_view kNvOtherItem = "the Phone answered for another NV item";
// The device's file requests other than write and close share the open's text.
constexpr std::string_view kEfsFile = "open file operation failed, Since %s";
constexpr std::string_view kEfsClose = "close file operation failed, Since %s";
constexpr std::string_view kEfsWrite = "Write file sequence block operation failed, Since %s";
}  // namespace failures

struct NvFailureTexts {
    std::string_view exchange;
    std::string_view status;
};
constexpr NvFailureTexts kNvReadTexts{failures::kNvReadExchange, failures::kNvReadStatus};
constexpr NvFailureTexts kNvWriteTexts{failures::kNvWriteExchange, failures::kNvWriteStatus};
constexpr ExchangePlan kNvPlan{3, 2000};

constexpr std::uint8_t kEfsSubsystem = 0x13;
constexpr std::uint8_t kAlternateEfsSubsystem = 0x3E;
constexpr ExchangePlan kEfsPlan{1, 2000};
constexpr std::uint32_t kNoCount = 0xFFFFFFFF;
// Error number the device gives for a file it does not have.
constexpr std::uint32_t kNoSuchFile = 2;

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

struct OpenMode {
    std::uint32_t flags;
    std::uint32_t mode;
};
constexpr OpenMode kOpenForReading{0x000, 0444};
constexpr OpenMode kOpenForWriting{0x241, 0666};  // create, truncate, write-only
// The open flags a put hands to the device's file system: create.
constexpr std::uint32_t kPutFlags = 0x40;

// Answer offsets behind the 4-byte header.
constexpr std::size_t kOpenDescriptor = 4;
constexpr std::size_t kOpenError = 8;
constexpr std::size_t kCloseError = 4;
constexpr std::size_t kReadCount = 12;
constexpr std::size_t kReadError = 16;
constexpr std::size_t kReadData = 20;
constexpr std::size_t kWriteError = 16;
constexpr std::size_t kStatError = 4;
constexpr std::size_t kStatMode = 8;
constexpr std::size_t kStatSize = 12;
constexpr std::size_t kFstatError = 4;
constexpr std::size_t kFstatValue = 12;
constexpr std::size_t kPutError = 6;
constexpr std::size_t kGetCount = 4;
constexpr std::size_t kGetError = 8;
constexpr std::size_t kGetData = 14;

bool NvExchange(link::CPacket& packet, std::uint8_t code, std::uint16_t item,
                const NvItemData& data, const NvFailureTexts& texts, std::uint16_t& status) {
    std::array<std::uint8_t, kRecordNvStatus + 2> record{code};
    wire::WriteLe16(record, kRecordWord, item);
    std::copy(data.begin(), data.end(), record.begin() + kRecordItemData);
    status = kNvStatusNoAnswer;
    if (!ExchangeDiag(packet, record, kNvPlan, texts.exchange, item)) {
        return false;
    }
    if (wire::ReadLe16(packet.Response(), kResponseWord) != item) {
        packet.SetLastError(failures::kNvOtherItem);
        return packet.FailWith(texts.exchange, item);
    }
    status = *wire::ReadLe16(packet.Response(), kResponseNvStatus);
    if (status != 0) {
        packet.SetLastError(NvStatusText(status));
        return packet.FailWith(texts.status, item);
    }
    return true;
}

char DigitOf(std::uint8_t nibble) {
    return static_cast<char>('0' + nibble);
}

ByteVector EfsHeader(EfsCommand command, std::uint8_t subsystem = kEfsSubsystem) {
    ByteVector request{diag::kSubsystem, subsystem};
    wire::AppendLe16(request, command);
    return request;
}

// The path as the device takes it: zero-terminated, within the capacity, no embedded zero.
std::optional<ByteVector> PathBytes(std::string_view path) {
    if (path.size() + 1 > kEfsPathCapacity || path.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    ByteVector bytes(path.begin(), path.end());
    bytes.push_back(0);
    return bytes;
}

void Append(ByteVector& request, ConstBytes bytes) {
    request.insert(request.end(), bytes.begin(), bytes.end());
}

// An answer that does not meet the operation's condition: back to DIAG, LastError untouched.
bool Reject(link::CPacket& packet) {
    packet.SetMode(link::MODE_DIAG);
    return false;
}

bool EfsExchange(link::CPacket& packet, const ByteVector& request, std::string_view failure) {
    if (!ExchangeRaw(packet, request, kEfsPlan, failure)) {
        return false;
    }
    return BeginsWith(Answer(packet), ConstBytes(request).first(4)) || Reject(packet);
}

bool ErrorNumberIsZero(link::CPacket& packet, std::size_t offset) {
    return AnswerLe32(packet, offset) == 0U || Reject(packet);
}

// Copies the `count` answer bytes at `offset` into the front of `out`.
bool CopyData(link::CPacket& packet, std::size_t offset, std::uint32_t count,
              std::span<std::uint8_t> out) {
    if (count > out.size()) {
        packet.SetLastError(texts::kTooMuchData);
        return Reject(packet);
    }
    const std::optional<ConstBytes> data = AnswerBytes(packet, offset, count);
    if (!data) {
        return Reject(packet);
    }
    std::copy(data->begin(), data->end(), out.begin());
    return true;
}

}  // namespace

bool ReadNvItem(link::CPacket& packet, std::uint16_t item, NvItemData& data,
                std::uint16_t& status) {
    if (!NvExchange(packet, kNvRead, item, data, kNvReadTexts, status)) {
        data.fill(0);
        return false;
    }
    std::copy_n(packet.Response().begin() + kResponseItemData, kNvItemSize, data.begin());
    return true;
}

bool WriteNvItem(link::CPacket& packet, std::uint16_t item, const NvItemData& data,
                 std::uint16_t& status) {
    return NvExchange(packet, kNvWrite, item, data, kNvWriteTexts, status);
}

// The item holds the IMEI as packed BCD behind a length byte: the first digit in the high
// nibble of byte 1, then two digits per byte, low nibble first.
bool GetImei(link::CPacket& packet, ImeiText& imei) {
    std::uint16_t status = 0;
    return GetImei(packet, imei, status);
}

bool GetImei(link::CPacket& packet, ImeiText& imei, std::uint16_t& status) {
    imei.fill('\0');
    NvItemData item{};
    if (!ReadNvItem(packet, kImeiItem, item, status)) {
        return false;
    }
    imei = DecodeImei(item);
    return true;
}

ImeiText DecodeImei(const NvItemData& item) {
    ImeiText imei{};
    std::size_t digit = 0;
    imei[digit++] = DigitOf(item[1] >> 4);
    for (std::size_t byte = 2; byte <= 8; ++byte) {
        imei[digit++] = DigitOf(item[byte] & 0x0F);
        imei[digit++] = DigitOf(item[byte] >> 4);
    }
    return imei;
}

bool EfsOpen(link::CPacket& packet, std::string_view path, EfsAccess access,
             std::uint32_t& descriptor, EfsVolume volume) {
    const std::optional<ByteVector> pathBytes = PathBytes(path);
    if (!pathBytes) {
        return false;
    }
    const OpenMode open = access == EfsAccess::Read ? kOpenForReading : kOpenForWriting;
    ByteVector request =
        EfsHeader(kOpen, volume == EfsVolume::Alternate ? kAlternateEfsSubsystem : kEfsSubsystem);
    wire::AppendLe32(request, open.flags);
    wire::AppendLe32(request, open.mode);
    Append(request, *pathBytes);
    if (!EfsExchange(packet, request, failures::kEfsFile)) {
        return false;
    }
    const std::optional<std::uint32_t> answered = AnswerLe32(packet, kOpenDescriptor);
    const std::optional<std::uint32_t> error = AnswerLe32(packet, kOpenError);
    if (!answered || !error) {
        return Reject(packet);
    }
    descriptor = *answered;
    // A file the device does not have yet counts as opened: its callers go on and find out.
    return (*error == 0 && *answered == 0) || *error == kNoSuchFile || Reject(packet);
}

bool EfsClose(link::CPacket& packet) {
    ByteVector request = EfsHeader(kClose);
    wire::AppendLe32(request, 0);
    return EfsExchange(packet, request, failures::kEfsClose) &&
           ErrorNumberIsZero(packet, kCloseError);
}

bool EfsRead(link::CPacket& packet, std::uint32_t descriptor, std::uint32_t offset,
             std::span<std::uint8_t> data, std::uint32_t& bytesRead) {
    bytesRead = 0;
    ByteVector request = EfsHeader(kRead);
    wire::AppendLe32(request, descriptor);
    wire::AppendLe32(request, static_cast<std::uint32_t>(data.size()));
    wire::AppendLe32(request, offset);
    if (!EfsExchange(packet, request, failures::kEfsFile)) {
        return false;
    }
    const std::optional<std::uint32_t> count = AnswerLe32(packet, kReadCount);
    if (!count || *count == kNoCount || !ErrorNumberIsZero(packet, kReadError) ||
        !CopyData(packet, kReadData, *count, data)) {
        return Reject(packet);
    }
    bytesRead = *count;
    return true;
}

bool EfsWrite(link::CPacket& packet, std::uint32_t offset, std::span<const std::uint8_t> data) {
    ByteVector request = EfsHeader(kWrite);
    wire::AppendLe32(request, 0);
    wire::AppendLe32(request, offset);
    Append(request, data);
    return EfsExchange(packet, request, failures::kEfsWrite) &&
           ErrorNumberIsZero(packet, kWriteError);
}

bool EfsStat(link::CPacket& packet, std::string_view path, EfsStatResult& result) {
    const std::optional<ByteVector> pathBytes = PathBytes(path);
    if (!pathBytes) {
        return false;
    }
    ByteVector request = EfsHeader(kStat);
    Append(request, *pathBytes);
    if (!EfsExchange(packet, request, failures::kEfsFile)) {
        return false;
    }
    const std::optional<std::uint32_t> error = AnswerLe32(packet, kStatError);
    const std::optional<std::uint32_t> mode = AnswerLe32(packet, kStatMode);
    const std::optional<std::uint32_t> size = AnswerLe32(packet, kStatSize);
    result = {error.value_or(0), mode.value_or(0), size.value_or(0)};
    return (error == 0U && mode && size) || Reject(packet);
}

bool EfsFstat(link::CPacket& packet, std::uint32_t descriptor, std::uint32_t& value) {
    ByteVector request = EfsHeader(kFstat);
    wire::AppendLe32(request, descriptor);
    if (!EfsExchange(packet, request, failures::kEfsFile) ||
        !ErrorNumberIsZero(packet, kFstatError)) {
        return false;
    }
    const std::optional<std::uint32_t> answered = AnswerLe32(packet, kFstatValue);
    if (!answered) {
        return Reject(packet);
    }
    value = *answered;
    return true;
}

bool EfsPut(link::CPacket& packet, std::string_view path, std::span<const std::uint8_t> data,
            std::uint16_t sequence) {
    const std::optional<ByteVector> pathBytes = PathBytes(path);
    if (!pathBytes) {
        return false;
    }
    ByteVector request = EfsHeader(kPut);
    wire::AppendLe32(request, static_cast<std::uint32_t>(data.size()));
    wire::AppendLe32(request, kPutFlags);
    wire::AppendLe16(request, sequence);
    Append(request, data);
    Append(request, *pathBytes);
    return EfsExchange(packet, request, failures::kEfsFile) && ErrorNumberIsZero(packet, kPutError);
}

bool EfsGet(link::CPacket& packet, std::string_view path, std::uint16_t sequence,
            std::span<std::uint8_t> data, std::uint32_t& length) {
    length = 0;
    const std::optional<ByteVector> pathBytes = PathBytes(path);
    if (!pathBytes) {
        return false;
    }
    ByteVector request = EfsHeader(kGet);
    wire::AppendLe32(request, static_cast<std::uint32_t>(data.size()));
    wire::AppendLe32(request, static_cast<std::uint32_t>(pathBytes->size()));
    wire::AppendLe16(request, sequence);
    Append(request, *pathBytes);
    if (!EfsExchange(packet, request, failures::kEfsFile) ||
        !ErrorNumberIsZero(packet, kGetError)) {
        return false;
    }
    const std::optional<std::uint32_t> count = AnswerLe32(packet, kGetCount);
    if (!count || *count == kNoCount || !CopyData(packet, kGetData, *count, data)) {
        return Reject(packet);
    }
    length = *count;
    return true;
}

}  // namespace tapfix::device
