// A whole run of QUORVELSerialProtocolSelection on a simulated board, from
// spawning the process to reaping it, against the floor: an empty C program
// loading one small shared library, started the same way.
//
//   Floor                the empty C program and its one shared library
//   FloorWithCxxRuntime  the same, also loading the shared C++ runtime
//   FloorWithBoardIo     the same, doing in C the file work that one run of
//                        the tool does on the simulated board
//   Tool                 the tool of this build, with the sample settings
//   NAME                 any other program given as --program=NAME=PATH,
//                        run in the same directory with the same machine
//                        (scripts/bench passes the tool of a build that
//                        links the C++ runtime dynamically)
//
// Each repetition is one run of one program, and the repetitions of all
// programs are interleaved at random, so a change in machine load during
// the benchmark falls on all of them alike; the figures are medians over
// the repetitions. Besides the wall time, each run reports the child's CPU
// time (user plus system), which a busy machine distorts less, and the
// page faults it took, most of which come from mapping and relocating the
// program and its libraries.
//
// Every run must exit with status 0: the tool does so only when it has
// written both registers, so a run that did not configure the board stops
// the benchmark with an error.
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Program {
    std::string name;
    std::string path;
};

// The simulated machine (four ports, COM3 to COM6, as scripts/demo sets
// up) and a working directory holding the sample Configuration.ini.
class SimulatedBoard {
  public:
    SimulatedBoard()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvel-run-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        root_ = pattern;
        fs::create_directory(machine());
        fs::create_directory(working_directory());
        std::ofstream map(machine() / "SERIALCOMM", std::ios::binary);
        for (int port = 3; port <= 6; ++port) {
            map << "\\Device\\ser15x" << port - 3 << "=COM" << port << '\n';
            std::ofstream(machine() / ("COM" + std::to_string(port)), std::ios::binary);
        }
        fs::copy_file(QUORVEL_SAMPLE_CONFIGURATION, working_directory() / "Configuration.ini");
    }
    ~SimulatedBoard()
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    SimulatedBoard(const SimulatedBoard &) = delete;
    SimulatedBoard &operator=(const SimulatedBoard &) = delete;

    [[nodiscard]] fs::path machine() const { return root_ / "machine"; }
    [[nodiscard]] fs::path working_directory() const { return root_ / "work"; }

  private:
    fs::path root_;
};

struct RunResult {
    double wall_seconds = 0;
    double cpu_seconds = 0;
    long minor_faults = 0;
    int status = -1;
};

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Starts the program in the current directory with this process's
// environment, its output going nowhere, and waits for it.
RunResult run_once(const std::string &path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>(path.c_str()), nullptr};

    RunResult result;
    const double start = now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return result;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return result;
        }
    }
    result.wall_seconds = now() - start;
    result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.minor_faults = usage.ru_minflt;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void run_program(benchmark::State &state, const std::string &path)
{
    double cpu_seconds = 0;
    double minor_faults = 0;
    for (auto _ : state) {
        const RunResult result = run_once(path);
        if (result.status != 0) {
            state.SkipWithError(("the run did not exit with status 0: " + path).c_str());
            break;
        }
        state.SetIterationTime(result.wall_seconds);
        cpu_seconds += result.cpu_seconds;
        minor_faults += static_cast<double>(result.minor_faults);
    }
    state.counters["child_cpu_ms"] = benchmark::Counter(cpu_seconds * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["page_faults"] = benchmark::Counter(minor_faults, benchmark::Counter::kAvgIterations);
}

// Google Benchmark's flags with defaults that give medians of many
// interleaved single runs; the command line overrides any of them.
std::vector<char *> with_default_flags(std::vector<char *> args, std::vector<std::string> &storage)
{
    const std::vector<std::pair<std::string, std::string>> defaults = {
        {"--benchmark_repetitions", "--benchmark_repetitions=301"},
        {"--benchmark_enable_random_interleaving", "--benchmark_enable_random_interleaving=true"},
        {"--benchmark_report_aggregates_only", "--benchmark_report_aggregates_only=true"},
    };
    storage.reserve(defaults.size());
    for (const auto &[flag, setting] : defaults) {
        bool given = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            given = given || std::string_view(args[i]).substr(0, flag.size()) == flag;
        }
        if (!given) {
            storage.push_back(setting);
            args.push_back(storage.back().data());
        }
    }
    return args;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<Program> programs = {
        {"Floor", QUORVEL_FLOOR_PATH},
        {"FloorWithCxxRuntime", QUORVEL_FLOOR_WITH_CXX_RUNTIME_PATH},
        {"FloorWithBoardIo", QUORVEL_FLOOR_WITH_BOARD_IO_PATH},
        {"Tool", QUORVEL_TOOL_PATH},
    };
    std::vector<char *> args{argv[0]};
    constexpr std::string_view program_flag = "--program=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, program_flag.size()) != program_flag) {
            args.push_back(argv[i]);
            continue;
        }
        const std::string_view definition = arg.substr(program_flag.size());
        const auto equals = definition.find('=');
        if (equals == 0 || equals == std::string_view::npos) {
            std::fprintf(stderr, "expected --program=NAME=PATH, got %s\n", argv[i]);
            return 2;
        }
        programs.push_back({std::string(definition.substr(0, equals)),
                            fs::absolute(std::string(definition.substr(equals + 1))).string()});
    }
    std::vector<std::string> storage;
    args = with_default_flags(std::move(args), storage);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 2;
    }

    int status = 0;
    try {
        const SimulatedBoard board;
        setenv("QUORVEL_SIM_DIR", board.machine().c_str(), 1);
        fs::current_path(board.working_directory());

        std::vector<quorvel::bench::Ratio> ratios;
        for (const Program &program : programs) {
            // A few untimed runs first, so that the first timed ones do not
            // pay for filling the page cache.
            for (int warm_up = 0; warm_up < 3; ++warm_up) {
                if (run_once(program.path).status != 0) {
                    throw std::runtime_error(program.path + " does not run to status 0 on the simulated board");
                }
            }
            benchmark::RegisterBenchmark(program.name.c_str(), run_program, program.path)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
            if (program.name != "Floor") {
                const bool is_tool = program.name.rfind("Tool", 0) == 0;
                ratios.push_back({program.name, "Floor", quorvel::bench::real_time,
                                  is_tool ? quorvel::bench::Goal::AtMost : quorvel::bench::Goal::None, 1.5});
                ratios.push_back({program.name, "Floor", "child_cpu_ms"});
            }
        }
        std::printf("Simulated machine %s, working directory %s\n", board.machine().c_str(),
                    board.working_directory().c_str());
        std::fflush(stdout);
        quorvel::bench::RatioReporter reporter(ratios);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        status = reporter.any_error() ? 1 : 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    benchmark::Shutdown();
    return status;
}
