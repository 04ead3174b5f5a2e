#include "answer_seeds.hpp"

#include <string>

namespace tapfix::fuzz {
namespace {

using link::MODE_DIAG;
using link::MODE_DMSS;
using link::MODE_RAW;
using link::MODE_STREAM;

Bytes Text(std::string_view text, std::size_t width) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(width, 0);
    return bytes;
}

Bytes Filled(std::size_t count, std::uint8_t value) {
    return Bytes(count, value);
}

// Nine version texts, each followed by its zero, then the date and time fields.
Bytes VersionAnswer(std::size_t texts) {
    Bytes answer{0x39};
    for (std::size_t k = 0; k < texts; ++k) {
        const Bytes text = Text("M9615A-CEFWMAZM-2.0.1017V0" + std::to_string(k), 31);
        answer.insert(answer.end(), text.begin(), text.end());
    }
    return Join({answer, Text("Jun 11 2024", 13), Text("10:20:30", 10)});
}

Bytes NvAnswer(std::string_view head, Bytes data) {
    data.resize(128, 0);
    return Join({HexBytes(head), data, HexBytes("00 00")});
}

Bytes HelloAnswer(std::string_view flashId) {
    Bytes answer = Join({HexBytes("02"), Text("QCOM fast download protocol targ", 32),
                         HexBytes("02 02 00 04 00 00 00 00 00 00")});
    answer.push_back(static_cast<std::uint8_t>(flashId.size()));
    answer.insert(answer.end(), flashId.begin(), flashId.end());
    return answer;
}

const Bytes kMac = HexBytes("00 12 AB 34 CD 56");

}  // namespace

Bytes HexBytes(std::string_view text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != ' ') {
            bytes.push_back(
                static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i, 2)), nullptr, 16)));
            ++i;
        }
    }
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

const std::vector<AnswerSeed>& AnswerSeeds() {
    static const std::vector<AnswerSeed> seeds{
        {"ResetPhone", MODE_DIAG, {HexBytes("29 02 00")}},
        {"SetPhoneOffline", MODE_DIAG, {HexBytes("13 29 01 00"), HexBytes("29 01 00")}},
        {"GetEsn", MODE_DIAG, {HexBytes("01 78 56 34 12")}},
        {"GetSoftwareVersion", MODE_DIAG, {VersionAnswer(9)}},
        {"GetSoftwareVersion", MODE_DIAG, {VersionAnswer(8)}},
        {"GetSoftwareVersion", MODE_DIAG, {Join({HexBytes("39"), Text("short", 100)})}},
        {"SwitchToDownloader", MODE_DIAG, {HexBytes("3A")}},
        {"SendSpc", MODE_DIAG, {HexBytes("41 01")}},
        {"SendSubsysCmd", MODE_DIAG, {HexBytes("4B 04 0E 00 00")}},
        {"ProbeDiag", MODE_RAW, {HexBytes("0C 00 7E 7D")}},
        {"AutoRunAction", MODE_RAW, {HexBytes("4B A1 00 00 01"), HexBytes("4B A1 00 00 00")}},
        {"SetSpecialDlMode", MODE_RAW, {HexBytes("4B AA 00 00 00")}},
        {"ReadDevicePartitionTable",
         MODE_DIAG,
         {Join({HexBytes("4B C9 0F 00 00 00 18 00"), Filled(24, 0xAA)})}},
        {"ReadNvItem", MODE_DIAG, {NvAnswer("26 BF 01", kMac)}},
        {"ReadNvItem", MODE_DIAG, {Join({NvAnswer("26 BF 01", {}), HexBytes("05 00")})}},
        {"WriteNvItem", MODE_DIAG, {NvAnswer("27 46 12", {})}},
        {"GetImei", MODE_DIAG, {NvAnswer("26 26 02", HexBytes("08 3A 21 43 65 87 09 21 43"))}},
        {"EfsOpen", MODE_RAW, {HexBytes("4B 13 02 00 00 00 00 00 00 00 00 00")}},
        {"EfsClose", MODE_RAW, {HexBytes("4B 13 03 00 00 00 00 00")}},
        {"EfsRead",
         MODE_RAW,
         {Join({HexBytes("4B 13 04 00 00 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00"),
                Filled(8, 0x7E)})}},
        {"EfsWrite",
         MODE_RAW,
         {HexBytes("4B 13 05 00 00 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00")}},
        {"EfsStat", MODE_RAW, {HexBytes("4B 13 0F 00 00 00 00 00 A4 81 00 00 32 00 00 00")}},
        {"EfsFstat", MODE_RAW, {HexBytes("4B 13 11 00 00 00 00 00 A4 81 00 00 32 00 00 00")}},
        {"EfsPut", MODE_RAW, {HexBytes("4B 13 26 00 01 00 00 00 00 00")}},
        {"EfsGet", MODE_RAW, {Join({HexBytes("4B 13 27 00 06 00 00 00 00 00 00 00 01 00"), kMac})}},
        {"SendOnboardBackupList", MODE_RAW, {HexBytes("4B F0 00 00 00")}},
        {"QueryOnboardResult",
         MODE_RAW,
         {HexBytes("4B F0 01 00 00 05"), HexBytes("4B F0 01 00 00 03 01 00 00 00 02 00 00 00")}},
        {"StartOnboardRestore", MODE_RAW, {HexBytes("4B F0 02 00 00")}},
        {"SendOnboardCommand", MODE_RAW, {HexBytes("4B F0 04 00 00")}},
        {"WaitOnboardResult",
         MODE_RAW,
         {HexBytes("4B F0 07 00 00 05"), HexBytes("4B F0 07 00 00 00")}},
        {"ReadWifiValue", MODE_RAW, {Join({HexBytes("4B CD 69 00 00 01 02 06 00"), kMac})}},
        {"WriteWifiValue", MODE_RAW, {HexBytes("4B CD 68 00 00")}},
        {"CommitWifiValues", MODE_RAW, {HexBytes("4B CD 03 00 00")}},
        {"RestoreWifiPassword", MODE_RAW, {HexBytes("4B D0 00 03 00")}},
        {"RestoreSsid", MODE_RAW, {HexBytes("4B D0 00 02 00")}},
        {"ReadWifiMac0", MODE_RAW, {Join({HexBytes("4B CF 00 01 00"), kMac})}},
        {"ReadWifiMac1", MODE_RAW, {Join({HexBytes("4B FA 05 00 00"), kMac})}},
        {"ReadWifiMac2", MODE_RAW, {Join({HexBytes("4B D3 00 00"), kMac, HexBytes("00")})}},
        {"ReadWifiMac3", MODE_RAW, {Join({HexBytes("4B C8 01 00 00"), kMac})}},
        {"ReadWifiMac447", MODE_DIAG, {NvAnswer("26 BF 01", HexBytes("56 CD 34 AB 12 00"))}},
        {"ReadWifiMac4678", MODE_DIAG, {NvAnswer("26 46 12", kMac)}},
        {"WriteWifiMac0", MODE_RAW, {HexBytes("4B CE 00 00 00")}},
        {"WriteWifiMac2", MODE_RAW, {Join({HexBytes("4B D3 01 00"), kMac, HexBytes("00")})}},
        {"WriteWifiMac447", MODE_DIAG, {NvAnswer("27 BF 01", HexBytes("56 CD 34 AB 12 00"))}},
        {"WriteWifiMac4678", MODE_RAW, {HexBytes("13 4B CE 00 00 06"), NvAnswer("27 46 12", kMac)}},
        {"DmssNop", MODE_DMSS, {HexBytes("02")}},
        {"GetFlashInfo", MODE_DMSS, {HexBytes("08 03 01 00 04 00 00 51 03 05")}},
        {"GetFlashInfo", MODE_DMSS, {HexBytes("0D 05 51 43 4F 4D 7E")}},
        {"DmssGo", MODE_DMSS, {HexBytes("03 00 02")}},
        {"DmssWrite32", MODE_DMSS, {HexBytes("02")}},
        {"StreamHello", MODE_STREAM, {HelloAnswer("MDM9x15 NAND")}},
        {"StreamSecurityMode", MODE_STREAM, {HexBytes("18 00")}},
        {"StreamPartitionTable",
         MODE_STREAM,
         {HexBytes("1A 01"), HexBytes("1A 01"), HexBytes("1A 01"), HexBytes("1A 00")}},
        {"StreamOpenMultiImage", MODE_STREAM, {HexBytes("0D 0E 00 00 00")}},
        {"StreamWrite", MODE_STREAM, {HexBytes("08 00 00 7D 7E")}},
        {"PipelinedWrite",
         MODE_STREAM,
         {HexBytes("08 00 00 00 00"), HexBytes("08 00 04 00 00"), HexBytes("08 00 08 00 00")}},
        {"StreamNop", MODE_STREAM, {HexBytes("0A 11")}},
        {"StreamReset", MODE_STREAM, {HexBytes("0C")}},
        {"StreamClose", MODE_STREAM, {HexBytes("16"), HexBytes("0D 06 00 00 00")}},
        {"ChecksumUnit",
         MODE_STREAM,
         {HexBytes("29 01"), HexBytes("29 00 01"), HexBytes("08 FF FF 01 00")}},
    };
    return seeds;
}

}  // namespace tapfix::fuzz
