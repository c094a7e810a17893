#include "ratio_reporter.h"

#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string_view>

namespace quorvel::bench {
namespace {

// The plain name of the benchmark a run belongs to: function and
// arguments, without "/repeats:N", "/iterations:N" or the aggregate suffix.
std::string base_name(const benchmark::BenchmarkReporter::Run &run)
{
    std::string name = run.run_name.function_name;
    if (!run.run_name.args.empty()) {
        name += "/" + run.run_name.args;
    }
    return name;
}

constexpr std::string_view bytes_per_second = "bytes_per_second";

std::string unit_of(const std::string &measure)
{
    if (measure == real_time) {
        return "ms";
    }
    return measure == bytes_per_second ? "MB/s" : measure;
}

} // namespace

RatioReporter::RatioReporter(std::vector<Ratio> ratios)
    : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular), ratios_(std::move(ratios))
{
}

void RatioReporter::ReportRuns(const std::vector<Run> &reports)
{
    ConsoleReporter::ReportRuns(reports);
    for (const Run &run : reports) {
        if (run.error_occurred) {
            any_error_ = true;
            continue;
        }
        const bool is_median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Aggregate && !is_median) {
            continue;
        }
        auto &entry = measured_[base_name(run)];
        const auto record = [&](const std::string &measure, double value) {
            Measured &slot = entry[measure];
            // A median outranks the single repetitions it summarises.
            if (is_median || !slot.from_median) {
                slot = Measured{value, is_median};
            }
        };
        record(real_time, run.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit));
        for (const auto &[name, counter] : run.counters) {
            record(name, name == bytes_per_second ? counter.value / 1e6 : counter.value);
        }
    }
}

void RatioReporter::Finalize()
{
    std::ostream &out = GetOutputStream();
    if (!ratios_.empty()) {
        out << "\nRatios (medians of repetitions where there are repetitions; MB = 10^6 bytes, where the table's M is "
               "2^20):\n";
    }
    for (const Ratio &ratio : ratios_) {
        const auto find = [&](const std::string &name) -> const Measured * {
            const auto benchmark = measured_.find(name);
            if (benchmark == measured_.end()) {
                return nullptr;
            }
            const auto value = benchmark->second.find(ratio.measure);
            return value == benchmark->second.end() ? nullptr : &value->second;
        };
        const Measured *numerator = find(ratio.numerator);
        const Measured *denominator = find(ratio.denominator);
        char line[512];
        if (numerator == nullptr || denominator == nullptr || denominator->value <= 0) {
            std::snprintf(line, sizeof line, "  %s / %s (%s): not measured\n", ratio.numerator.c_str(),
                          ratio.denominator.c_str(), ratio.measure.c_str());
            out << line;
            continue;
        }
        const double value = numerator->value / denominator->value;
        const std::string unit = unit_of(ratio.measure);
        std::snprintf(line, sizeof line, "  %s / %s = %.3f %s / %.3f %s = %.3f", ratio.numerator.c_str(),
                      ratio.denominator.c_str(), numerator->value, unit.c_str(), denominator->value, unit.c_str(),
                      value);
        out << line;
        if (ratio.goal != Goal::None) {
            const bool met = ratio.goal == Goal::AtLeast ? value >= ratio.limit : value <= ratio.limit;
            std::snprintf(line, sizeof line, " (goal %s %.2f: %s)",
                          ratio.goal == Goal::AtLeast ? ">=" : "<=", ratio.limit, met ? "met" : "NOT met");
            out << line;
        }
        out << '\n';
    }
    out.flush();
    ConsoleReporter::Finalize();
}

} // namespace quorvel::bench
