// Throughput of every converter the factories create (six host image formats,
// export and import), converting full 1000-pixel chunks, next to memcpy of the
// same numbers of bytes: a chunk's input bytes and its output bytes. After the
// benchmark table a summary gives each converter's time per chunk and its
// ratio to memcpy.
//
// "convert" is the converter's own work on a chunk already in its input
// buffer. "convert+copy" adds the one copy the passes make around it: the
// host's bytes into the input buffer on export (SetInput), the output buffer
// into the host's buffer on import. File reads and writes are not included.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "convert/ConverterFactory.h"
#include "convert/IConvertBuffer.h"
#include "host/HostInterface.h"
#include "host/PluginContext.h"
#include "support/TestContext.h"

namespace {

struct HostImage {
  const char* name;
  int16_t mode;
  int32_t depth;
  int16_t planes;
};

constexpr HostImage kImages[] = {
    {"RGB8", host::kModeRGBColor, 8, 3}, {"Gray8", host::kModeGrayScale, 8, 1},
    {"RGB16", host::kModeRGB48, 16, 3},  {"Gray16", host::kModeGray16, 16, 1},
    {"RGB32F", host::kModeRGB96, 32, 3}, {"Gray32F", host::kModeGray32, 32, 1},
};

enum class Direction { kExport, kImport };

const char* DirectionName(Direction direction) {
  return direction == Direction::kExport ? "export" : "import";
}

std::string ConvertName(const HostImage& image, Direction direction, bool withCopy) {
  return std::string(withCopy ? "convert+copy/" : "convert/") + image.name + "/" +
         DirectionName(direction);
}

std::string MemcpyName(uint32_t bytes) { return "memcpy/" + std::to_string(bytes); }

// The converter the factory makes for a host image and a direction, owned by
// the context it was made in, initialised and filled with typical samples.
class Subject {
 public:
  Subject(const HostImage& image, Direction direction) : context_(BindRecord(image)) {
    const bool made = direction == Direction::kExport ? CreateExportConverter(context_.get())
                                                      : CreateImportConverter(context_.get());
    if (!made || !converter()->Init()) {
      std::fprintf(stderr, "no converter for %s %s\n", image.name, DirectionName(direction));
      std::abort();
    }
    Fill(image, direction);
  }

  IConvertBuffer* converter() { return context_->converter.get(); }

 private:
  host::FilterRecord* BindRecord(const HostImage& image) {
    record_.imageMode = image.mode;
    record_.depth = image.depth;
    record_.planes = image.planes;
    return &record_;
  }

  // Host 8-bit: any byte; host 16-bit: 0 to 32768; file 16-bit: any value;
  // floats: 0 to 1, as images hold them.
  void Fill(const HostImage& image, Direction direction) {
    IConvertBuffer* c = converter();
    const uint32_t sampleBytes = c->GetInPixelSize() / c->GetInChannels();
    const uint32_t samples = c->GetInBufferSize() / sampleBytes;
    std::mt19937 random(12345);
    uint8_t* bytes = static_cast<uint8_t*>(c->GetInBuffer());
    for (uint32_t k = 0; k < samples; ++k) {
      if (sampleBytes == 1) {
        bytes[k] = static_cast<uint8_t>(random());
      } else if (sampleBytes == 2) {
        const bool host16 = direction == Direction::kExport && image.depth == 16;
        const uint16_t value =
            static_cast<uint16_t>(host16 ? random() % 32769u : random() % 65536u);
        std::memcpy(bytes + 2 * k, &value, 2);
      } else {
        const float value = static_cast<float>(random() % 1000001u) / 1000000.0f;
        std::memcpy(bytes + 4 * k, &value, 4);
      }
    }
  }

  host::FilterRecord record_{};
  testsupport::BoundContext context_;
};

void ConvertChunks(benchmark::State& state, HostImage image, Direction direction, bool withCopy) {
  Subject subject(image, direction);
  IConvertBuffer* c = subject.converter();
  const uint32_t pixels = c->GetMaxPixels();
  const uint32_t inBytes = pixels * c->GetInPixelSize();
  const uint32_t outBytes = pixels * c->GetOutPixelSize();
  // The host's side of the chunk: where export takes its bytes from and
  // import puts them.
  std::vector<uint8_t> hostBytes(direction == Direction::kExport ? inBytes : outBytes);
  if (direction == Direction::kExport) std::memcpy(hostBytes.data(), c->GetInBuffer(), inBytes);

  for (auto _ : state) {
    if (withCopy && direction == Direction::kExport) c->SetInput(hostBytes.data(), inBytes, pixels);
    c->Convert(pixels);
    if (withCopy && direction == Direction::kImport) {
      std::memcpy(hostBytes.data(), c->GetOutBuffer(), outBytes);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * inBytes);
  state.counters["in_bytes"] = inBytes;
  state.counters["out_bytes"] = outBytes;
}

void CopyBytes(benchmark::State& state, uint32_t bytes) {
  std::vector<uint8_t> source(bytes);
  std::vector<uint8_t> target(bytes);
  std::mt19937 random(54321);
  for (uint8_t& b : source) b = static_cast<uint8_t>(random());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

// Keeps each benchmark's time per iteration in nanoseconds: the median when
// repetitions give one, else the fastest run.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that saved output stays plain text.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      const double ns =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") median_[name] = ns;
      } else {
        auto found = fastest_.find(name);
        if (found == fastest_.end() || ns < found->second) fastest_[name] = ns;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // 0 when the benchmark did not run.
  double Nanoseconds(const std::string& name) const {
    auto median = median_.find(name);
    if (median != median_.end()) return median->second;
    auto fastest = fastest_.find(name);
    return fastest != fastest_.end() ? fastest->second : 0.0;
  }

 private:
  std::map<std::string, double> median_;
  std::map<std::string, double> fastest_;
};

struct Sizes {
  uint32_t in;
  uint32_t out;
};

Sizes ChunkSizes(const HostImage& image, Direction direction) {
  Subject subject(image, direction);
  IConvertBuffer* c = subject.converter();
  const uint32_t pixels = c->GetMaxPixels();
  return {pixels * c->GetInPixelSize(), pixels * c->GetOutPixelSize()};
}

void PrintSummary(const SummaryReporter& reporter) {
  std::printf(
      "\nConverters on 1000-pixel chunks against memcpy of the same bytes (ratio = converter "
      "time / memcpy time;\n'larger' is the memcpy of the larger side, which moves at least as "
      "many bytes as the converter reads and writes)\n\n");
  std::printf("%-16s %6s %6s %9s %8s %9s %9s %7s %7s %7s %9s %7s\n", "converter", "in B", "out B",
              "ns/chunk", "GB/s in", "memcpy in", "memcpy out", "x in", "x out", "x larger",
              "+copy ns", "x larger");
  double worst = 0.0;
  std::string worstName;
  for (const HostImage& image : kImages) {
    for (Direction direction : {Direction::kExport, Direction::kImport}) {
      const Sizes sizes = ChunkSizes(image, direction);
      const double convert = reporter.Nanoseconds(ConvertName(image, direction, false));
      const double withCopy = reporter.Nanoseconds(ConvertName(image, direction, true));
      const double copyIn = reporter.Nanoseconds(MemcpyName(sizes.in));
      const double copyOut = reporter.Nanoseconds(MemcpyName(sizes.out));
      const double copyLarger = sizes.in >= sizes.out ? copyIn : copyOut;
      if (convert == 0.0 || copyIn == 0.0 || copyOut == 0.0) continue;
      const std::string name = std::string(image.name) + " " + DirectionName(direction);
      const double ratio = convert / copyLarger;
      if (ratio > worst) {
        worst = ratio;
        worstName = name;
      }
      std::printf("%-16s %6u %6u %9.1f %8.2f %9.1f %10.1f %7.2f %7.2f %8.2f %9.1f %8.2f\n",
                  name.c_str(), sizes.in, sizes.out, convert, sizes.in / convert, copyIn, copyOut,
                  convert / copyIn, convert / copyOut, ratio, withCopy,
                  withCopy != 0.0 ? withCopy / copyLarger : 0.0);
    }
  }
  if (!worstName.empty()) {
    std::printf("\nslowest against memcpy of the larger side: %s, %.2f x (target: within 4 x)\n",
                worstName.c_str(), worst);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> copySizes;
  for (const HostImage& image : kImages) {
    for (Direction direction : {Direction::kExport, Direction::kImport}) {
      for (bool withCopy : {false, true}) {
        benchmark::RegisterBenchmark(ConvertName(image, direction, withCopy).c_str(), ConvertChunks,
                                     image, direction, withCopy)
            ->Unit(benchmark::kNanosecond);
      }
      const Sizes sizes = ChunkSizes(image, direction);
      copySizes.push_back(sizes.in);
      copySizes.push_back(sizes.out);
    }
  }
  std::sort(copySizes.begin(), copySizes.end());
  copySizes.erase(std::unique(copySizes.begin(), copySizes.end()), copySizes.end());
  for (uint32_t bytes : copySizes) {
    benchmark::RegisterBenchmark(MemcpyName(bytes).c_str(), CopyBytes, bytes)
        ->Unit(benchmark::kNanosecond);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
