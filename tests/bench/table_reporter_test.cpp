// The benchmarks' table: every figure beside its bound and the verdict, the explaining lines
// below the row they belong to.
#include "table_reporter.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string_view>

namespace tapfix::bench {
namespace {

using Report = benchmark::BenchmarkReporter::Run;

Report Timed(std::string label, double seconds) {
    Report run;
    run.report_label = std::move(label);
    run.real_accumulated_time = seconds;
    run.iterations = 1;
    run.family_index = 0;
    run.per_family_instance_index = 0;
    run.repetition_index = 0;
    run.repetitions = 1;
    return run;
}

Report WithCounters(Report run, std::map<std::string, double> counters) {
    for (const auto& [name, value] : counters) {
        run.counters[name] = value;
    }
    return run;
}

// The table's rows for these reports, one report per benchmark.
std::string Table(const std::vector<std::vector<Report>>& reports) {
    std::ostringstream console;
    std::ostringstream table;
    TableReporter reporter(false, table);
    reporter.SetOutputStream(&console);
    reporter.SetErrorStream(&console);
    for (const auto& runs : reports) {
        reporter.ReportRuns(runs);
    }
    reporter.Finalize();
    return table.str();
}

struct RowCase {
    std::string_view name;
    std::vector<Report> runs;
    std::string row;
};

TEST(TableReporter, JudgesEachFigureAgainstItsBound) {
    Report failed = Timed("restore", 0);
    failed.error_occurred = true;
    failed.error_message = "the device left";
    Report median = Timed("read", 0.0007);
    median.run_type = Report::RT_Aggregate;
    median.aggregate_name = "median";
    Report mean = median;
    mean.aggregate_name = "mean";
    mean.real_accumulated_time = 0.0020;
    const auto transfer = [](double megabytesPerSecond) {
        return WithCounters(Timed("16 MiB", 16.0 / megabytesPerSecond),
                            {{"bytes_per_second", megabytesPerSecond * 1e6},
                             {goal::kModelSeconds, 16.0 / 26.8},
                             {goal::kLinkRate, 30e6},
                             {goal::kModelShare, 0.9}});
    };
    const std::vector<RowCase> cases = {
        {"a time within its bound",
         {WithCounters(Timed("read", 0.0006), {{goal::kAtMostMs, 1.5}})},
         "| read | 0.600 ms | ≤ 1.5 ms | yes |\n"},
        {"a time over its bound",
         {WithCounters(Timed("backup", 2.5), {{goal::kAtMostMs, 2000}})},
         "| backup | 2500.000 ms | ≤ 2000 ms | no |\n"},
        {"a time without a bound",
         {Timed("framing", 0.001)},
         "| framing | 1.000 ms | — | reported |\n"},
        {"long times in seconds",
         {WithCounters(Timed("update", 75.12), {{goal::kAtMostMs, 75600}})},
         "| update | 75.12 s | ≤ 75.60 s | yes |\n"},
        {"the median stands for its repetitions",
         {mean, median},
         "| read | 0.700 ms | — | reported |\n"},
        {"a failure", {failed}, "| restore | failed: the device left | — | no |\n"},
        {"a rate that reaches its share of the link model",
         {transfer(25.2)},
         "| 16 MiB | 25.2 MB/s = 94 % of the link model's 26.8 MB/s, 84 % of 30.0 MB/s | ≥ 90 % of "
         "the link model | yes |\n"},
        {"a rate below it",
         {transfer(20.0)},
         "| 16 MiB | 20.0 MB/s = 75 % of the link model's 26.8 MB/s, 67 % of 30.0 MB/s | ≥ 90 % of "
         "the link model | no |\n"},
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Table({c.runs}), c.row);
    }
}

TEST(TableReporter, ExplainingLinesFollowTheirOwnRowOnly) {
    std::ostringstream console;
    std::ostringstream table;
    TableReporter reporter(true, table);
    reporter.SetOutputStream(&console);
    SetDetailRows({{"link's lower bound", "6.33 s"}, {"mandated waits", "68.00 s"}});
    reporter.ReportRuns({Timed("update", 75.0)});
    reporter.ReportRuns({Timed("framing", 0.001)});
    reporter.Finalize();
    EXPECT_EQ(table.str(), TableReporter::Header() +
                               "\n| update | 75.00 s | — | reported |\n"
                               "| ↳ link's lower bound | 6.33 s | | |\n"
                               "| ↳ mandated waits | 68.00 s | | |\n"
                               "| framing | 1.000 ms | — | reported |\n");
}

}  // namespace
}  // namespace tapfix::bench
