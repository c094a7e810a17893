// Throughput of the settings lookup on a large Configuration.ini, beside the
// two scans of the same file that bound it:
//
//   FgetsLineScan  fgets into a 256-byte buffer until the end, doing nothing
//                  per line: the cheapest way to see the pieces the lookup
//                  examines, and the reference it should keep up with.
//   MemchrScan     memchr for line feeds over blocks read with read(2):
//                  about the fastest any line-aware reader can go.
//
// The file is generated once per process (about 10 MB of comment, blank and
// setting lines, with the sought key only on its last line) and stays in
// the page cache, so the figures are the parsing cost, not the disk's.
// Every iteration also checks its result, so a broken scan stops the
// benchmark with an error instead of reporting a speed.
#include "config_lookup.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view sought_key = "SLEW_RATE_FOR_PORTS_3_AND_4";
constexpr std::string_view sought_value = "1";

struct GeneratedFile {
    std::filesystem::path directory;
    std::filesystem::path path;
    std::size_t size = 0;
    std::size_t line_feeds = 0;
};

// Text shaped like the comments of the sample Configuration.ini: words of
// ordinary length, lines from a few characters to a little over a screen
// width, and now and then one too long for a 256-byte line buffer.
std::string make_comment(std::mt19937 &random)
{
    static constexpr std::array<std::string_view, 24> words = {
        "the",   "protocol", "of",     "ports",    "pair",  "slew",   "rate",     "default",
        "board", "RS232",    "select", "register", "value", "number", "from",     "setting",
        "0",     "3",        "Low",    "each",     "line",  "key",    "comment,", "(see",
    };
    std::uniform_int_distribution<int> length_of(8, 110);
    std::uniform_int_distribution<std::size_t> word_of(0, words.size() - 1);
    std::size_t target = static_cast<std::size_t>(length_of(random));
    if (random() % 200 == 0) {
        target = 260 + random() % 400;
    }
    std::string line = "#";
    while (line.size() < target) {
        line += ' ';
        line += words[word_of(random)];
    }
    return line;
}

// Settings of other keys, some of them exactly as long as the sought key so
// that the lookup has to compare them letter by letter.
std::string make_setting(std::mt19937 &random)
{
    static constexpr std::array<std::string_view, 8> keys = {
        "PROTOCOL_FOR_PORTS_1_AND_2",
        "PROTOCOL_FOR_PORTS_3_AND_4",
        "SLEW_RATE_FOR_PORTS_1_AND_2",
        "SLEW_RATE_FOR_PORTS_3_AND_5",
        "slew_rate_for_ports_1_and_2",
        "BAUD_RATE_FOR_PORTS_3_AND_4",
        "PORT_NAME",
        "SLEW_RATE_FOR_PORTS_3_AND_4_BACKUP",
    };
    std::string line(keys[random() % keys.size()]);
    line += '=';
    line += std::to_string(random() % 4);
    return line;
}

GeneratedFile generate_file(std::size_t minimum_size)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    GeneratedFile generated;
    generated.directory = pattern;
    generated.path = generated.directory / "Configuration.ini";

    // A fixed seed: every run and every machine measures the same file.
    std::mt19937 random(20240611); // NOLINT(cert-msc32-c,cert-msc51-cpp)
    std::string text;
    text.reserve(minimum_size + 1024);
    while (text.size() < minimum_size) {
        const auto kind = random() % 10;
        if (kind < 6) {
            text += make_comment(random);
        } else if (kind < 8) {
            text += make_setting(random);
        }
        text += '\n';
    }
    text += sought_key;
    text += '=';
    text += sought_value;
    text += '\n';

    std::ofstream out(generated.path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + generated.path.string());
    }
    generated.size = text.size();
    for (const char c : text) {
        generated.line_feeds += c == '\n' ? 1 : 0;
    }
    return generated;
}

const GeneratedFile &configuration()
{
    constexpr std::size_t ten_megabytes = 10'000'000;
    static const GeneratedFile file = generate_file(ten_megabytes);
    return file;
}

void report_size(benchmark::State &state)
{
    const GeneratedFile &file = configuration();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size));
    state.counters["file_bytes"] = static_cast<double>(file.size);
}

void SettingsLookup(benchmark::State &state)
{
    const GeneratedFile &file = configuration();
    for (auto _ : state) {
        auto value = quorvel::find_config_value(sought_key, quorvel::File(std::fopen(file.path.c_str(), "r")));
        if (!value || *value != sought_value) {
            state.SkipWithError("the lookup did not find the setting on the last line");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    report_size(state);
}

void FgetsLineScan(benchmark::State &state)
{
    const GeneratedFile &file = configuration();
    for (auto _ : state) {
        std::FILE *stream = std::fopen(file.path.c_str(), "r");
        if (stream == nullptr) {
            state.SkipWithError("cannot open the file");
            break;
        }
        char line[256];
        std::size_t pieces = 0;
        while (std::fgets(line, sizeof line, stream) != nullptr) {
            ++pieces;
        }
        std::fclose(stream);
        benchmark::DoNotOptimize(pieces);
        // Long lines come in several pieces, so there are at least as many
        // pieces as lines; fewer means the scan stopped early.
        if (pieces < file.line_feeds) {
            state.SkipWithError("fgets stopped before the end of the file");
            break;
        }
    }
    report_size(state);
}

void MemchrScan(benchmark::State &state)
{
    const GeneratedFile &file = configuration();
    constexpr std::size_t block_size = std::size_t{64} * 1024;
    std::vector<char> block(block_size);
    for (auto _ : state) {
        const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            state.SkipWithError("cannot open the file");
            break;
        }
        std::size_t line_feeds = 0;
        ssize_t count = 0;
        while ((count = ::read(fd, block.data(), block.size())) > 0) {
            const char *at = block.data();
            const char *const end = at + count;
            while (const auto *found =
                       static_cast<const char *>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) {
                ++line_feeds;
                at = found + 1;
            }
        }
        ::close(fd);
        if (line_feeds != file.line_feeds) {
            state.SkipWithError("memchr scan miscounted the line feeds");
            break;
        }
    }
    report_size(state);
}

BENCHMARK(SettingsLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(FgetsLineScan)->Unit(benchmark::kMillisecond);
BENCHMARK(MemchrScan)->Unit(benchmark::kMillisecond);

// Google Benchmark's own flags, with defaults that give medians of
// interleaved repetitions unless the command line says otherwise.
std::vector<char *> with_default_flags(int argc, char **argv, std::vector<std::string> &storage)
{
    const std::vector<std::pair<std::string, std::string>> defaults = {
        {"--benchmark_repetitions", "--benchmark_repetitions=15"},
        {"--benchmark_enable_random_interleaving", "--benchmark_enable_random_interleaving=true"},
        {"--benchmark_min_time", "--benchmark_min_time=0.2"},
        {"--benchmark_display_aggregates_only", "--benchmark_display_aggregates_only=true"},
    };
    std::vector<char *> args(argv, argv + argc);
    storage.reserve(defaults.size());
    for (const auto &[flag, setting] : defaults) {
        bool given = false;
        for (int i = 1; i < argc; ++i) {
            given = given || std::string_view(argv[i]).substr(0, flag.size()) == flag;
        }
        if (!given) {
            storage.push_back(setting);
            args.push_back(storage.back().data());
        }
    }
    args.push_back(nullptr);
    return args;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> storage;
    std::vector<char *> args = with_default_flags(argc, argv, storage);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 2;
    }
    int status = 0;
    try {
        const GeneratedFile &file = configuration();
        std::printf("Generated %s: %zu bytes, %zu lines, \"%.*s\" on the last line\n", file.path.c_str(), file.size,
                    file.line_feeds, static_cast<int>(sought_key.size()), sought_key.data());
        std::fflush(stdout);
        quorvel::bench::RatioReporter reporter({
            {"SettingsLookup", "FgetsLineScan", "bytes_per_second", quorvel::bench::Goal::AtLeast, 0.8},
            {"SettingsLookup", "MemchrScan", "bytes_per_second"},
            {"FgetsLineScan", "MemchrScan", "bytes_per_second"},
        });
        benchmark::RunSpecifiedBenchmarks(&reporter);
        std::filesystem::remove_all(file.directory);
        status = reporter.any_error() ? 1 : 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    benchmark::Shutdown();
    return status;
}
