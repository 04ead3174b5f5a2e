#include "sim/faults.hpp"

#include <charconv>
#include <vector>

namespace tapfix::sim {
namespace {

// The longest gap of a split answer: a day, far beyond any exchange's time-out.
constexpr unsigned long kLongestSplitGapMs = 24UL * 60 * 60 * 1000;

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
        if (end == std::string_view::npos) {
            return parts;
        }
        begin = end + 1;
    }
}

// Decimal, or hexadecimal with a 0x prefix.
bool ParseNumber(std::string_view text, unsigned long* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseByte(std::string_view text, std::uint8_t* value) {
    unsigned long number = 0;
    if (!ParseNumber(text, &number) || number > 0xFF) {
        return false;
    }
    *value = static_cast<std::uint8_t>(number);
    return true;
}

bool ParseAnswerIndex(std::string_view text, std::set<unsigned>& into) {
    unsigned long number = 0;
    if (!ParseNumber(text, &number) || number == 0 || number > 1000000) {
        return false;
    }
    into.insert(static_cast<unsigned>(number));
    return true;
}

// "name:N[:VALUE]": the Nth event gets VALUE (at most `maximum`; `fallback` when left out).
template <typename Value>
bool ParseCountedValue(const std::vector<std::string_view>& fields, unsigned long fallback,
                       unsigned long maximum, std::map<unsigned, Value>& into) {
    std::set<unsigned> index;
    unsigned long value = fallback;
    if (!ParseAnswerIndex(fields[1], index) ||
        (fields.size() == 3 && (!ParseNumber(fields[2], &value) || value > maximum))) {
        return false;
    }
    into[*index.begin()] = static_cast<Value>(value);
    return true;
}

bool ParseEntry(const std::vector<std::string_view>& fields, FaultPlan& plan) {
    const std::string_view name = fields[0];
    const std::size_t arguments = fields.size() - 1;
    if (name == "silent" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.silentAnswers);
    }
    if (name == "badcrc" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.badCrcAnswers);
    }
    if (name == "split" && arguments <= 1) {
        unsigned long gap = 1;
        if (arguments == 1 && (!ParseNumber(fields[1], &gap) || gap > kLongestSplitGapMs)) {
            return false;
        }
        plan.split = true;
        plan.splitGap = std::chrono::milliseconds(gap);
        return true;
    }
    if (name == "diagerror" && (arguments == 1 || arguments == 2)) {
        std::uint8_t command = 0;
        std::uint8_t error = 0x13;
        if (!ParseByte(fields[1], &command) || (arguments == 2 && !ParseByte(fields[2], &error))) {
            return false;
        }
        plan.diagErrors[command] = error;
        return true;
    }
    if (name == "nak" && (arguments == 1 || arguments == 2)) {
        return ParseCountedValue(fields, 7, 0xFFFF, plan.nakWrites);
    }
    if (name == "badsum" && (arguments == 1 || arguments == 2)) {
        std::map<unsigned, unsigned> times;
        if (!ParseCountedValue(fields, 1, 2, times) || times.begin()->second == 0) {
            return false;
        }
        plan.badSums.insert(times.begin(), times.end());
        return true;
    }
    if (name == "ackloop" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.ackLoops);
    }
    if (name == "powerloss" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.powerLossImages);
    }
    if (name == "hang" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.hangImages);
    }
    if (name == "nvwrite-refused" && arguments == 1) {
        unsigned long item = 0;
        if (!ParseNumber(fields[1], &item) || item > 0xFFFF) {
            return false;
        }
        plan.refusedNvWrites.insert(static_cast<std::uint16_t>(item));
        return true;
    }
    if (name == "nvread-refused" && (arguments == 1 || arguments == 2)) {
        std::map<unsigned, std::uint16_t> refused;
        if (!ParseCountedValue(fields, 4, 0xFFFF, refused) || refused.begin()->first > 0xFFFF) {
            return false;
        }
        const auto& [item, status] = *refused.begin();
        plan.refusedNvReads[static_cast<std::uint16_t>(item)] = status;
        return true;
    }
    if (name == "sahara-repeat" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.saharaRepeats);
    }
    if (name == "sahara-swap" && arguments == 1) {
        return ParseAnswerIndex(fields[1], plan.saharaSwaps);
    }
    if (name == "dlflag-refused" && arguments == 1) {
        std::set<unsigned> count;
        if (!ParseAnswerIndex(fields[1], count)) {
            return false;
        }
        plan.refusedDlFlags = *count.begin();
        return true;
    }
    if (name == "noport-after-reset" && arguments == 0) {
        plan.noPortAfterReset = true;
        return true;
    }
    return false;
}

}  // namespace

bool FaultPlan::Parse(std::string_view text, std::string* error) {
    FaultPlan parsed = *this;
    if (text.empty()) {
        return true;
    }
    for (const std::string_view entry : SplitOn(text, ',')) {
        if (!ParseEntry(SplitOn(entry, ':'), parsed)) {
            if (error != nullptr) {
                *error = "unknown or malformed fault \"" + std::string(entry) + "\"";
            }
            return false;
        }
    }
    *this = std::move(parsed);
    return true;
}

std::optional<std::uint16_t> FaultCounter::NextBootWrite() {
    const auto found = plan_.nakWrites.find(++bootWrites_);
    return found == plan_.nakWrites.end() ? std::nullopt : std::optional(found->second);
}

UnitFate FaultCounter::NextUnit() {
    const auto found = plan_.badSums.find(++units_);
    return {found == plan_.badSums.end() ? 0 : found->second, plan_.ackLoops.contains(units_)};
}

ImageFate FaultCounter::NextImage() {
    ++images_;
    return {plan_.powerLossImages.contains(images_), plan_.hangImages.contains(images_)};
}

std::optional<std::uint16_t> FaultCounter::RefusedNvRead(std::uint16_t item) const {
    const auto found = plan_.refusedNvReads.find(item);
    return found == plan_.refusedNvReads.end() ? std::nullopt : std::optional(found->second);
}

SaharaRequestFate FaultCounter::NextSaharaRequest() {
    ++saharaRequests_;
    return {plan_.saharaRepeats.contains(saharaRequests_),
            plan_.saharaSwaps.contains(saharaRequests_)};
}

bool FaultCounter::NextDlFlagRefused() {
    return ++dlFlagRequests_ <= plan_.refusedDlFlags;
}

AnswerFate FaultCounter::NextAnswer() {
    ++count_;
    return {plan_.silentAnswers.contains(count_), plan_.badCrcAnswers.contains(count_)};
}

}  // namespace tapfix::sim
