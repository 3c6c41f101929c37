// Throughput of the LZH and RLE codecs next to zlib (deflate level 9, inflate) on one corpus, with
// compressed sizes, a closing table of every figure as a ratio to zlib's, and the LZH codec's speed
// goals as measured ratios.
//
// Corpus (built at start, from files on this machine; nothing is downloaded):
//   text    1 MiB of English: /usr/share/common-licenses/*, then /usr/share/doc/*/copyright, in
//           name order, cut at 1 MiB
//   exe     an x86-64 Windows DLL of about 600 KB shipped with Wine (wsdapi.dll, or the first DLL of
//           550-650 KB in that folder)
//   random  1 MiB from a fixed-seed generator
//   zeros   1 MiB of zero bytes
//   payload the setup's payload files (resources/payload/*) one after another, when present
#include <zlib.h>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/codec_driver.h"
#include "archive/format.h"
#include "archive/sha256_blocks.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr size_t kMiB = 1 << 20;

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<fs::path> SortedFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes EnglishText() {
    Bytes text;
    auto add = [&](const fs::path& path) {
        if (text.size() < kMiB) {
            const Bytes b = ReadFile(path);
            text.insert(text.end(), b.begin(), b.end());
        }
    };
    for (const auto& f : SortedFiles("/usr/share/common-licenses")) {
        add(f);
    }
    std::vector<fs::path> docs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/share/doc", error)) {
        if (fs::is_regular_file(entry.path() / "copyright")) {
            docs.push_back(entry.path() / "copyright");
        }
    }
    std::sort(docs.begin(), docs.end());
    for (const auto& f : docs) {
        add(f);
    }
    text.resize(std::min(text.size(), kMiB));
    return text;
}

Bytes WindowsExecutable(std::string& name) {
    const fs::path folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    if (fs::exists(folder / "wsdapi.dll")) {
        name = "wsdapi.dll";
        return ReadFile(folder / "wsdapi.dll");
    }
    for (const auto& f : SortedFiles(folder)) {
        const auto size = fs::file_size(f);
        if (f.extension() == ".dll" && size >= 550000 && size <= 650000) {
            name = f.filename().string();
            return ReadFile(f);
        }
    }
    return {};
}

Bytes RandomBytes() {
    std::mt19937 rng(20251208);
    Bytes b(kMiB);
    for (auto& x : b) {
        x = static_cast<uint8_t>(rng() >> 24);
    }
    return b;
}

Bytes Payload() {
    Bytes all;
    for (const auto& f : SortedFiles(fs::path(TANDREL_SOURCE_DIR) / "resources/payload")) {
        const Bytes b = ReadFile(f);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

struct Sample {
    std::string name;
    Bytes data;
};

std::vector<Sample>& Corpus() {
    static std::vector<Sample> corpus;
    return corpus;
}

// Compressed sizes by "sample/codec", for the closing table.
std::map<std::string, size_t>& CompressedSizes() {
    static std::map<std::string, size_t> sizes;
    return sizes;
}

Bytes Run(const Bytes& input, uint8_t method, bool expand, int32_t destSize) {
    TCustomMemoryStream source(input.data(), static_cast<int64_t>(input.size()));
    TMemoryStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(input.size()), destSize, method, checksum, expand);
    return dest.TakeBytes();
}

Bytes Deflate(const Bytes& input) {
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    Bytes out(size);
    compress2(out.data(), &size, input.data(), static_cast<uLong>(input.size()), 9);
    out.resize(size);
    return out;
}

Bytes Inflate(const Bytes& coded, size_t size) {
    Bytes out(size);
    uLongf n = static_cast<uLongf>(size);
    uncompress(out.data(), &n, coded.data(), static_cast<uLong>(coded.size()));
    out.resize(n);
    return out;
}

void Encode(benchmark::State& state, const Sample* sample, const std::string& codec) {
    Bytes coded;
    for (auto _ : state) {
        coded = codec == "zlib"  ? Deflate(sample->data)
                : codec == "lzh" ? Run(sample->data, cmLZH, false, 0)
                                 : Run(sample->data, cmRLE, false, 0);
        benchmark::DoNotOptimize(coded.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sample->data.size()));
    state.counters["coded"] = static_cast<double>(coded.size());
    CompressedSizes()[sample->name + "/" + codec] = coded.size();
}

void Decode(benchmark::State& state, const Sample* sample, const std::string& codec) {
    const auto size = static_cast<int32_t>(sample->data.size());
    const Bytes coded = codec == "zlib"  ? Deflate(sample->data)
                        : codec == "lzh" ? Run(sample->data, cmLZH, false, 0)
                                         : Run(sample->data, cmRLE, false, 0);
    Bytes plain;
    for (auto _ : state) {
        plain = codec == "zlib"  ? Inflate(coded, sample->data.size())
                : codec == "lzh" ? Run(coded, cmLZH, true, size)
                                 : Run(coded, cmRLE, true, size);
        benchmark::DoNotOptimize(plain.data());
    }
    if (plain != sample->data) {
        state.SkipWithError("decoded data differs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sample->data.size()));
}

// SHA-256 over 1 MiB through one block function (the portable one, or the processor's instructions).
void Digest(benchmark::State& state, sha256::BlockFunction blocks) {
    const Bytes data = RandomBytes();
    for (auto _ : state) {
        std::array<uint32_t, 8> words{};
        blocks(words, data.data(), data.size() / 64);
        benchmark::DoNotOptimize(words.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Keeps each run's throughput for the closing table, and prints as the console does.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> mbPerSecond;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto found = run.counters.find("bytes_per_second");
            if (found != run.counters.end()) {
                mbPerSecond[run.benchmark_name()] = found->second / 1e6;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// A benchmark's measured MB/s, or 0 when it did not run.
double Speed(const TableReporter& reporter, const std::string& name) {
    const auto it = reporter.mbPerSecond.find(name);
    return it == reporter.mbPerSecond.end() ? 0.0 : it->second;
}

void PrintTable(const TableReporter& reporter) {
    std::printf("\n%-8s %-6s %9s %9s %9s %9s %9s %9s %10s %10s %7s\n", "data", "codec", "enc MB/s",
                "zlib enc", "ratio", "dec MB/s", "zlib dec", "ratio", "coded", "zlib coded", "size x");
    for (const Sample& sample : Corpus()) {
        auto speed = [&](const std::string& kind, const std::string& codec) {
            return Speed(reporter, kind + "/" + sample.name + "/" + codec);
        };
        for (const std::string codec : {"lzh", "rle"}) {
            const double enc = speed("encode", codec);
            const double zenc = speed("encode", "zlib");
            const double dec = speed("decode", codec);
            const double zdec = speed("decode", "zlib");
            const size_t coded = CompressedSizes()[sample.name + "/" + codec];
            const size_t zcoded = CompressedSizes()[sample.name + "/zlib"];
            std::printf("%-8s %-6s %9.1f %9.1f %9.2f %9.1f %9.1f %9.2f %10zu %10zu %7.2f\n",
                        sample.name.c_str(), codec.c_str(), enc, zenc, zenc > 0 ? enc / zenc : 0, dec, zdec,
                        zdec > 0 ? dec / zdec : 0, coded, zcoded,
                        zcoded > 0 ? static_cast<double>(coded) / static_cast<double>(zcoded) : 0);
        }
    }
}

// The speed goals of the LZH codec, each as a measured ratio against its bound: against zlib on the
// same data, or against the codec's own speed on the text.
void PrintGoals(const TableReporter& reporter) {
    struct Goal {
        const char* what;
        std::string measured;
        std::string against;
        double atLeast;  // the ratio measured / against must reach this
    };
    const Goal goals[] = {
        {"encode text vs zlib -9", "encode/text/lzh", "encode/text/zlib", 1.0},
        {"encode exe vs zlib -9", "encode/exe/lzh", "encode/exe/zlib", 1.0},
        {"decode text vs inflate", "decode/text/lzh", "decode/text/zlib", 0.15},
        {"decode exe vs inflate", "decode/exe/lzh", "decode/exe/zlib", 0.12},
        {"encode zeros vs text", "encode/zeros/lzh", "encode/text/lzh", 5.0},
        {"decode zeros vs text", "decode/zeros/lzh", "decode/text/lzh", 5.0},
        {"encode random vs text", "encode/random/lzh", "encode/text/lzh", 1.0 / 3},
        {"decode random vs text", "decode/random/lzh", "decode/text/lzh", 1.0 / 3},
        {"sha256 instructions vs portable", "sha256/instructions", "sha256/portable", 2.0},
    };
    std::printf("\n%-32s %9s %9s %6s\n", "lzh goal", "ratio", "at least", "");
    for (const Goal& goal : goals) {
        const double measured = Speed(reporter, goal.measured);
        const double against = Speed(reporter, goal.against);
        if (measured <= 0 || against <= 0) {
            continue;  // not run (a filter, or a missing sample)
        }
        const double ratio = measured / against;
        std::printf("%-32s %9.2f %9.2f %6s\n", goal.what, ratio, goal.atLeast,
                    ratio >= goal.atLeast ? "met" : "missed");
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string exeName;
    Corpus().push_back({"text", EnglishText()});
    Corpus().push_back({"exe", WindowsExecutable(exeName)});
    Corpus().push_back({"random", RandomBytes()});
    Corpus().push_back({"zeros", Bytes(kMiB, 0)});
    Corpus().push_back({"payload", Payload()});
    std::erase_if(Corpus(), [](const Sample& s) { return s.data.empty(); });
    for (const Sample& s : Corpus()) {
        std::printf("corpus %-8s %8zu bytes%s\n", s.name.c_str(), s.data.size(),
                    s.name == "exe" ? (" (" + exeName + ")").c_str() : "");
    }
    for (const Sample& s : Corpus()) {
        for (const std::string codec : {"lzh", "rle", "zlib"}) {
            benchmark::RegisterBenchmark(("encode/" + s.name + "/" + codec).c_str(), Encode, &s, codec)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("decode/" + s.name + "/" + codec).c_str(), Decode, &s, codec)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("sha256/portable", Digest, &sha256::PortableBlocks)
        ->Unit(benchmark::kMillisecond);
    if (sha256::BlockFunction accelerated = sha256::AcceleratedBlocks(); accelerated != nullptr) {
        benchmark::RegisterBenchmark("sha256/instructions", Digest, accelerated)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter);
    PrintGoals(reporter);
    benchmark::Shutdown();
    return 0;
}
