// Parsing large generated listings into a CFTPFolderContent: the time per
// entry and the peak memory of the process.
//
// Targets: 1,000,000 UNIX lines in at most 0.3 s and 200 MB peak (run
// BM_ParseUnixListing/1000000 alone for its peak), and 10,000,000 lines
// within 10 times the 1,000,000 figure. The last is BM_ParseUnixListingScale,
// which needs about 2.5 GB and a minute: it is registered only when the
// environment has QB_BENCH_LARGE=1.
#include "engine/listing_parser.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

constexpr std::time_t kNow = 1733400000; // 5 December 2024

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWords[] = {"report", "backup", "photo", "IMG",  "data", "release", "notes",
                              "final",  "draft",  "2023",  "v1.2", "src",  "build",   "old copy"};
const char* const kExtensions[] = {".txt", ".tar.gz", ".jpg", ".pdf", ".c", "", ".log", ".zip"};

std::string Name(std::mt19937& rng, int index) {
    std::string name = kWords[rng() % std::size(kWords)];
    name += rng() % 3 == 0 ? " " : "_";
    name += kWords[rng() % std::size(kWords)];
    // A fixed width: lines of every listing size are alike, so that times of
    // different sizes compare.
    char number[16];
    std::snprintf(number, sizeof number, "_%08d", index);
    name += number;
    name += kExtensions[rng() % std::size(kExtensions)];
    return name;
}

// An `ls -l` listing: mostly files, some folders and links, dates of this
// year with a time and older ones with a year, CR LF line ends.
// `owner` and `group` as the listing writes them: names, or vsftpd's numbers.
std::string UnixListing(int lines, const char* owner = "ftpuser", const char* group = "ftpgroup") {
    std::mt19937 rng(42);
    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 96);
    text = "total " + std::to_string(lines * 4) + "\r\n";
    char line[512];
    for (int i = 0; i < lines; ++i) {
        const unsigned kind = rng() % 20;
        const char* mode = kind == 0 ? "lrwxrwxrwx" : kind < 4 ? "drwxr-xr-x" : "-rw-r--r--";
        const unsigned long long size = kind < 4 ? 4096 : rng() % 50000000;
        const char* month = kMonths[rng() % 12];
        const unsigned day = 1 + rng() % 28;
        char when[8];
        if (rng() % 2 == 0) {
            std::snprintf(when, sizeof when, "%02u:%02u", rng() % 24, rng() % 60);
        } else {
            std::snprintf(when, sizeof when, "%u", 1995 + rng() % 30);
        }
        const std::string name = Name(rng, i);
        std::snprintf(line, sizeof line, "%s %3u %-8s %-8s %12llu %s %2u %5s %s%s\r\n", mode,
                      1 + rng() % 9, owner, group, size, month, day, when, name.c_str(),
                      kind == 0 ? " -> ../shared/target" : "");
        text += line;
    }
    return text;
}

std::string NtListing(int lines) {
    std::mt19937 rng(7);
    std::string text;
    char line[512];
    for (int i = 0; i < lines; ++i) {
        const bool folder = rng() % 6 == 0;
        const std::string size = folder ? "<DIR>" : std::to_string(rng() % 50000000);
        const std::string name = Name(rng, i);
        std::snprintf(line, sizeof line, "%02u-%02u-%02u  %02u:%02u%s  %20s %s\r\n", 1 + rng() % 12,
                      1 + rng() % 28, rng() % 100, 1 + rng() % 12, rng() % 60,
                      rng() % 2 ? "AM" : "PM", size.c_str(), name.c_str());
        text += line;
    }
    return text;
}

std::string VmsListing(int lines) {
    std::mt19937 rng(9);
    std::string text = "Directory DKA0:[PUB]\r\n\r\n";
    char line[512];
    for (int i = 0; i < lines; ++i) {
        std::string name = Name(rng, i);
        for (char& c : name) {
            c = c == ' ' || c == '.' ? '_' : static_cast<char>(std::toupper(c));
        }
        name += rng() % 6 == 0 ? ".DIR;1" : ".DAT;" + std::to_string(1 + rng() % 9);
        // Long names wrap onto a line of their own.
        const char* gap = name.size() > 24 ? "\r\n                          " : "  ";
        const unsigned blocks = rng() % 100000;
        std::snprintf(line, sizeof line,
                      "%s%s%u/%u  %u-%s-%u %02u:%02u:%02u  [GRP,OWN]  (RWED,RWED,RE,)\r\n",
                      name.c_str(), gap, blocks, blocks + 3, 1 + rng() % 28, kMonths[rng() % 12],
                      1990 + rng() % 30, rng() % 24, rng() % 60, rng() % 60);
        text += line;
    }
    return text + "\r\nTotal of " + std::to_string(lines) + " files.\r\n";
}

double PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Run(benchmark::State& state, int serverType, const std::string& listing) {
    const qb::ListingContext context{"/home/ftpuser", "pub", kNow};
    const qb::CFTPFile folder("pub", qb::SiteRef{}, false);
    std::size_t entries = 0;
    for (auto _ : state) {
        auto content = std::make_unique<qb::CFTPFolderContent>(folder);
        qb::ParseListingText(serverType, listing, context, *content,
                             [](std::uint64_t) { return true; });
        entries = content->GetFiles().GetSize() + content->GetFolders().GetSize();
        state.PauseTiming();
        content.reset();
        state.ResumeTiming();
    }
    state.counters["entries"] = static_cast<double>(entries);
    state.counters["peak_MB"] = PeakMegabytes();
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(entries));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listing.size()));
}

void BM_ParseUnixListing(benchmark::State& state) {
    Run(state, 0, UnixListing(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ParseUnixListing)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// vsftpd writes owner and group as numbers, which look like days and sizes.
void BM_ParseUnixListingNumericOwners(benchmark::State& state) {
    Run(state, 0, UnixListing(static_cast<int>(state.range(0)), "0", "0"));
}
BENCHMARK(BM_ParseUnixListingNumericOwners)->Arg(100000)->Unit(benchmark::kMillisecond);

// As `qbftp ls` reads: the listing arrives in pieces of 256 KiB, each piece's
// entries are told and dropped (nothing is kept). The time here is what the
// reading adds to the transfer; vsftpd sends 100,000 such lines in about 7 ms.
void BM_ReadUnixListingStreamed(benchmark::State& state) {
    const std::string listing = UnixListing(static_cast<int>(state.range(0)), "0", "0");
    const qb::ListingContext context{"/home/ftpuser", "pub", kNow};
    const qb::CFTPFile folder("pub", qb::SiteRef{}, false);
    constexpr std::size_t kPiece = 256 * 1024;
    std::size_t told = 0;
    for (auto _ : state) {
        qb::CFTPFolderContent content(folder);
        qb::ListingReader reader(0, context, content);
        reader.SetEntries(
            [&told](std::span<const qb::ListedEntry> entries) { told += entries.size(); }, false);
        for (std::size_t at = 0; at < listing.size(); at += kPiece) {
            reader.Feed(std::string_view(listing).substr(at, kPiece));
        }
        reader.Finish();
    }
    state.counters["entries"] = static_cast<double>(told / state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(told));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listing.size()));
}
BENCHMARK(BM_ReadUnixListingStreamed)->Arg(100000)->Unit(benchmark::kMillisecond);

double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct ParseTime {
    double wall = 0; // seconds
    double cpu = 0;  // seconds of the process (one thread), whatever else runs
};

// One parse of `listing`; the content is freed outside the time.
ParseTime TimeParse(const std::string& listing) {
    const qb::ListingContext context{"/home/ftpuser", "pub", kNow};
    const qb::CFTPFile folder("pub", qb::SiteRef{}, false);
    auto content = std::make_unique<qb::CFTPFolderContent>(folder);
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    qb::ParseListingText(0, listing, context, *content, [](std::uint64_t) { return true; });
    const auto end = std::chrono::steady_clock::now();
    const double cpuEnd = CpuSeconds();
    benchmark::DoNotOptimize(content->GetFiles().GetSize());
    return ParseTime{std::chrono::duration<double>(end - start).count(), cpuEnd - cpuStart};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Linear cost: the times of 1,000,000 and 10,000,000 lines and their ratio
// (at most 10 when parsing is linear). Both sizes are measured alike: after an
// untimed first run, with the memory kept by the allocator between runs. On a
// virtual machine the first touch of memory fresh from the host costs more
// the more of it a process takes at once, which would be measured instead of
// the parser; the first runs' times are printed apart.
//
// The host's load changes over seconds, by a factor of two at times, and
// alike for both sizes. So the runs are interleaved: each round parses the
// small listing, the large one, and the small one again, and the ratio of the
// round is the large time over the mean of the two small ones around it. The
// ratio printed is the median of the rounds'; the times are the medians of
// all runs of their size. The CPU time of the process is printed too: on a
// shared machine it does not count the time other programs hold the
// processor.
void BM_ParseUnixListingScale(benchmark::State& state) {
    ::mallopt(M_TRIM_THRESHOLD, INT_MAX);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    constexpr int kRounds = 5;
    std::vector<double> millionWall;
    std::vector<double> millionCpu;
    std::vector<double> tenMillionWall;
    std::vector<double> tenMillionCpu;
    std::vector<double> ratios;
    std::vector<double> cpuRatios;
    ParseTime millionFirst;
    ParseTime tenMillionFirst;
    for (auto _ : state) {
        const std::string million = UnixListing(1000000);
        const std::string tenMillion = UnixListing(10000000);
        millionFirst = TimeParse(million);
        tenMillionFirst = TimeParse(tenMillion);
        for (int round = 0; round < kRounds; ++round) {
            const ParseTime before = TimeParse(million);
            const ParseTime large = TimeParse(tenMillion);
            const ParseTime after = TimeParse(million);
            millionWall.insert(millionWall.end(), {before.wall, after.wall});
            millionCpu.insert(millionCpu.end(), {before.cpu, after.cpu});
            tenMillionWall.push_back(large.wall);
            tenMillionCpu.push_back(large.cpu);
            ratios.push_back(large.wall * 2 / (before.wall + after.wall));
            cpuRatios.push_back(large.cpu * 2 / (before.cpu + after.cpu));
        }
    }
    const double million = Median(millionWall);
    const double tenMillion = Median(tenMillionWall);
    const double ratio = Median(ratios);
    const double millionCpuTime = Median(millionCpu);
    const double tenMillionCpuTime = Median(tenMillionCpu);
    const double cpuRatio = Median(cpuRatios);
    state.counters["ms_1M"] = million * 1000;
    state.counters["ms_10M"] = tenMillion * 1000;
    state.counters["ratio"] = ratio;
    state.counters["cpu_ms_1M"] = millionCpuTime * 1000;
    state.counters["cpu_ms_10M"] = tenMillionCpuTime * 1000;
    state.counters["cpu_ratio"] = cpuRatio;
    state.counters["peak_MB"] = PeakMegabytes();
    std::printf("1,000,000 lines: %.0f ms; 10,000,000 lines: %.0f ms; ratio %.2f (target <= 10)\n"
                "per line: %.1f ns and %.1f ns\n"
                "CPU time: %.0f ms and %.0f ms; ratio %.2f\n"
                "round ratios:",
                million * 1000, tenMillion * 1000, ratio, million * 1e3, tenMillion * 1e2,
                millionCpuTime * 1000, tenMillionCpuTime * 1000, cpuRatio);
    for (const double r : ratios) {
        std::printf(" %.2f", r);
    }
    std::printf("\nfirst runs: %.0f ms and %.0f ms\n", millionFirst.wall * 1000,
                tenMillionFirst.wall * 1000);
}

[[maybe_unused]] const bool kLargeRegistered = [] {
    const char* large = std::getenv("QB_BENCH_LARGE");
    if (large && std::string(large) == "1") {
        benchmark::RegisterBenchmark("BM_ParseUnixListingScale", BM_ParseUnixListingScale)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

void BM_ParseNtListing(benchmark::State& state) {
    Run(state, 9, NtListing(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ParseNtListing)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ParseVmsListing(benchmark::State& state) {
    Run(state, 8, VmsListing(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ParseVmsListing)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
