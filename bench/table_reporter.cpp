#include "table_reporter.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

namespace tapfix::bench {
namespace {

using Run = benchmark::BenchmarkReporter::Run;

std::optional<double> CounterOf(const Run& run, const char* name) {
    const auto found = run.counters.find(name);
    if (found == run.counters.end()) {
        return std::nullopt;
    }
    return found->second.value;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

using DetailRows = std::vector<std::pair<std::string, std::string>>;

DetailRows& PendingDetails() {
    static DetailRows rows;
    return rows;
}

// Milliseconds up to ten seconds, seconds beyond.
std::string TimeText(double milliseconds) {
    return milliseconds < 10e3 ? Format("%.3f ms", milliseconds)
                               : Format("%.2f s", milliseconds / 1e3);
}

std::string MegabytesPerSecond(double bytesPerSecond) {
    return Format("%.1f MB/s", bytesPerSecond / 1e6);
}

struct Judgement {
    std::string figure;
    std::string bound = "—";
    std::string met = "reported";
};

std::string Verdict(bool met) {
    return met ? "yes" : "no";
}

Judgement JudgeTime(const Run& run, double secondsPerIteration) {
    const double milliseconds = secondsPerIteration * 1e3;
    Judgement judgement{TimeText(milliseconds)};
    if (const auto bound = CounterOf(run, goal::kAtMostMs)) {
        judgement.bound = "≤ " + (*bound < 10e3 ? Format("%g ms", *bound) : TimeText(*bound));
        judgement.met = Verdict(milliseconds <= *bound);
    }
    return judgement;
}

Judgement JudgeRate(const Run& run, double bytesPerSecond, double secondsPerIteration) {
    Judgement judgement{MegabytesPerSecond(bytesPerSecond)};
    const auto modelSeconds = CounterOf(run, goal::kModelSeconds);
    if (!modelSeconds || *modelSeconds <= 0) {
        return judgement;
    }
    const double share = *modelSeconds / secondsPerIteration;
    judgement.figure += Format(" = %.0f %% of the link model's ", 100 * share) +
                        MegabytesPerSecond(bytesPerSecond / share);
    if (const auto rate = CounterOf(run, goal::kLinkRate)) {
        judgement.figure +=
            Format(", %.0f %% of ", 100 * bytesPerSecond / *rate) + MegabytesPerSecond(*rate);
    }
    if (const auto bound = CounterOf(run, goal::kModelShare)) {
        judgement.bound = Format("≥ %.0f %% of the link model", 100 * *bound);
        judgement.met = Verdict(share >= *bound);
    }
    return judgement;
}

std::string Row(const Run& run) {
    const std::string measure = run.report_label.empty() ? run.benchmark_name() : run.report_label;
    if (run.error_occurred) {
        return "| " + measure + " | failed: " + run.error_message + " | — | no |";
    }
    const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
    const auto bytesPerSecond = CounterOf(run, "bytes_per_second");
    const Judgement judgement =
        bytesPerSecond ? JudgeRate(run, *bytesPerSecond, seconds) : JudgeTime(run, seconds);
    return "| " + measure + " | " + judgement.figure + " | " + judgement.bound + " | " +
           judgement.met + " |";
}

}  // namespace

void SetDetailRows(DetailRows rows) {
    PendingDetails() = std::move(rows);
}

TableReporter::TableReporter(bool withHeader, std::ostream& table)
    : benchmark::ConsoleReporter(OO_Tabular), withHeader_(withHeader), table_(table) {}

std::string TableReporter::Header() {
    return "| measure | figure | bound | met |\n|---|---|---|---|";
}

// A benchmark that repeats itself is shown by its median run; a machine busy with other work
// slows single runs down.
void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    benchmark::ConsoleReporter::ReportRuns(runs);
    const auto median = std::find_if(runs.begin(), runs.end(), [](const Run& run) {
        return run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    });
    if (median != runs.end()) {
        rows_.push_back(Row(*median));
    } else {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                rows_.push_back(Row(run));
            }
        }
    }
    for (const auto& [measure, figure] : PendingDetails()) {
        rows_.push_back("| ↳ " + measure + " | " + figure + " | | |");
    }
    PendingDetails().clear();
}

void TableReporter::Finalize() {
    benchmark::ConsoleReporter::Finalize();
    if (withHeader_) {
        table_ << Header() << '\n';
    }
    for (const std::string& row : rows_) {
        table_ << row << '\n';
    }
    table_.flush();
}

}  // namespace tapfix::bench
