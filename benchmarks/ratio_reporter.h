// A console reporter that also prints the ratios the benchmarks exist for
// (lookup throughput over line-scan throughput, tool run time over floor run
// time), each against its goal, after the usual table.
//
// A ratio uses the median of a benchmark's repetitions when it has any, and
// its single run otherwise. A ratio whose two runs are not both there (a
// filter left one out, or one failed) is reported as not measured rather
// than silently dropped.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::bench {

// What a ratio divides: the real time of one iteration, or a user counter
// by name (bytes_per_second is shown in MB/s, 10^6 bytes).
inline constexpr const char *real_time = "real_time";

enum class Goal {
    None,    // shown for information only
    AtLeast, // the ratio should be at least the limit
    AtMost,  // the ratio should be at most the limit
};

struct Ratio {
    std::string numerator;   // benchmark name, without repetition suffixes
    std::string denominator; // likewise
    std::string measure = real_time;
    Goal goal = Goal::None;
    double limit = 0;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that saved output stays plain text.
    explicit RatioReporter(std::vector<Ratio> ratios);

    void ReportRuns(const std::vector<Run> &reports) override;
    void Finalize() override;

    // True when a benchmark stopped with an error (its own check failed):
    // that is a broken benchmark, not a slow one, and fails the run. A
    // missed goal is only printed: timing is not a test.
    [[nodiscard]] bool any_error() const { return any_error_; }

  private:
    struct Measured {
        double value = 0;
        bool from_median = false;
    };

    std::vector<Ratio> ratios_;
    // benchmark name -> measure -> value
    std::map<std::string, std::map<std::string, Measured>> measured_;
    bool any_error_ = false;
};

} // namespace quorvel::bench
