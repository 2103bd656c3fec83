// Throughput of every converter the factories create (six host image formats,
// export and import), converting full 1000-pixel chunks, next to memcpy of the
// same numbers of bytes: a chunk's input bytes and its output bytes. After the
// table of cases a summary gives each converter's time per chunk and its
// ratio to memcpy.
//
// "convert" is the converter's own work on a chunk already in its input
// buffer. "between" is the work as the passes do it: straight from the
// host's buffer into a file block on export, from a file block into the
// host's buffer on import (ConvertBetween), the block moving on through a
// megabyte as the file's does. File reads and writes are not included.
// "blended" is the import with a selection that covers every pixel partly
// (ConvertBlended, the host's original samples and a coverage ramp beside
// the block), the most a selection can cost; the last table compares it with
// "between".
//
// Portable, with a timing loop of its own, so that the same program runs
// natively and as a Windows program of either architecture under Wine.
//
// Usage: converter_benchmark [--filter=TEXT] [--repetitions=N] [--min-time=SECONDS]
//   --filter       only the cases whose name contains TEXT (memcpy cases run
//                  as far as the summary needs them)
//   --repetitions  timed runs of each case, the fastest kept (default 5)
//   --min-time     least duration of one timed run (default 0.05 s)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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

using Clock = std::chrono::steady_clock;

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
  return std::string(withCopy ? "between/" : "convert/") + image.name + "/" +
         DirectionName(direction);
}

std::string MemcpyName(uint32_t bytes) { return "memcpy/" + std::to_string(bytes); }

// Tells the compiler that memory behind p is read and changed here, so that
// the work around it is neither dropped nor hoisted out of the loop.
inline void Clobber(const void* p) {
#if defined(__GNUC__)
  asm volatile("" : : "r"(p) : "memory");
#else
  static volatile const void* sink;
  sink = p;
#endif
}

struct Options {
  std::string filter;
  int repetitions = 5;
  double minTime = 0.05;
};

// Runs body in batches until one batch lasts minTime, then times the given
// number of batches of that size; the fastest time per call in nanoseconds.
double TimeCalls(const std::function<void(uint64_t)>& body, const Options& options) {
  uint64_t calls = 1;
  for (;;) {
    const Clock::time_point begin = Clock::now();
    body(calls);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    if (seconds >= options.minTime || calls >= (uint64_t{1} << 40)) break;
    const double factor = seconds > 0 ? 1.4 * options.minTime / seconds : 100.0;
    calls =
        static_cast<uint64_t>(static_cast<double>(calls) * std::min(100.0, std::max(2.0, factor)));
  }
  double fastest = 0;
  for (int r = 0; r < options.repetitions; ++r) {
    const Clock::time_point begin = Clock::now();
    body(calls);
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - begin).count() /
                      static_cast<double>(calls);
    if (r == 0 || ns < fastest) fastest = ns;
  }
  return fastest;
}

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

double ConvertChunks(const HostImage& image, Direction direction, bool withCopy,
                     const Options& options) {
  Subject subject(image, direction);
  IConvertBuffer* c = subject.converter();
  const uint32_t pixels = c->GetMaxPixels();
  const uint32_t inBytes = pixels * c->GetInPixelSize();
  const uint32_t outBytes = pixels * c->GetOutPixelSize();
  // The host's side of the chunk: where export takes its bytes from and
  // import puts them.
  const bool exporting = direction == Direction::kExport;
  std::vector<uint8_t> hostBytes(exporting ? inBytes : outBytes);
  // A file block of a megabyte, filled with the file's side of the chunk.
  const uint32_t fileBytes = exporting ? outBytes : inBytes;
  const size_t chunksPerBlock = (size_t{1} << 20) / fileBytes;
  std::vector<uint8_t> block(chunksPerBlock * fileBytes);
  for (size_t k = 0; k < block.size(); k += fileBytes) {
    std::memcpy(block.data() + k, exporting ? c->GetOutBuffer() : c->GetInBuffer(), fileBytes);
  }
  if (exporting) std::memcpy(hostBytes.data(), c->GetInBuffer(), inBytes);
  size_t at = 0;
  return TimeCalls(
      [&](uint64_t calls) {
        for (uint64_t i = 0; i < calls; ++i) {
          if (withCopy) {
            uint8_t* piece = block.data() + at;
            at = at + fileBytes < block.size() ? at + fileBytes : 0;
            if (exporting) {
              c->ConvertBetween(hostBytes.data(), inBytes, piece, outBytes, pixels);
            } else {
              c->ConvertBetween(piece, inBytes, hostBytes.data(), outBytes, pixels);
            }
            Clobber(piece);
          } else {
            c->Convert(pixels);
          }
          Clobber(hostBytes.data());
          Clobber(c->GetOutBuffer());
        }
      },
      options);
}

// The import of a chunk blended with the host's original samples by a
// coverage that varies from pixel to pixel (never a whole run of 0 or 255).
double BlendChunks(const HostImage& image, const Options& options) {
  Subject subject(image, Direction::kImport);
  IConvertBuffer* c = subject.converter();
  const uint32_t pixels = c->GetMaxPixels();
  const uint32_t inBytes = pixels * c->GetInPixelSize();
  const uint32_t outBytes = pixels * c->GetOutPixelSize();
  std::vector<uint8_t> hostBytes(outBytes);
  std::vector<uint8_t> original(outBytes);
  c->ConvertBetween(c->GetInBuffer(), inBytes, original.data(), outBytes, pixels);
  std::vector<uint8_t> coverage(pixels);
  for (uint32_t p = 0; p < pixels; ++p) coverage[p] = static_cast<uint8_t>(p * 7 % 253 + 1);
  const size_t chunksPerBlock = (size_t{1} << 20) / inBytes;
  std::vector<uint8_t> block(chunksPerBlock * inBytes);
  for (size_t k = 0; k < block.size(); k += inBytes) {
    std::memcpy(block.data() + k, c->GetInBuffer(), inBytes);
  }
  size_t at = 0;
  return TimeCalls(
      [&](uint64_t calls) {
        for (uint64_t i = 0; i < calls; ++i) {
          uint8_t* piece = block.data() + at;
          at = at + inBytes < block.size() ? at + inBytes : 0;
          c->ConvertBlended(piece, inBytes, original.data(), outBytes, coverage.data(),
                            hostBytes.data(), outBytes, pixels);
          Clobber(piece);
          Clobber(hostBytes.data());
        }
      },
      options);
}

std::string BlendName(const HostImage& image) {
  return std::string(image.name) + " import blended";
}

double CopyBytes(uint32_t bytes, const Options& options) {
  std::vector<uint8_t> source(bytes);
  std::vector<uint8_t> target(bytes);
  std::mt19937 random(54321);
  for (uint8_t& b : source) b = static_cast<uint8_t>(random());
  return TimeCalls(
      [&](uint64_t calls) {
        for (uint64_t i = 0; i < calls; ++i) {
          Clobber(source.data());
          std::memcpy(target.data(), source.data(), bytes);
          Clobber(target.data());
        }
      },
      options);
}

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

class Results {
 public:
  void Add(const std::string& name, double ns, uint32_t bytes) {
    times_[name] = ns;
    std::printf("%-28s %10.1f ns %8.2f GB/s\n", name.c_str(), ns, bytes / ns);
    std::fflush(stdout);
  }
  // 0 when the case did not run.
  double Nanoseconds(const std::string& name) const {
    auto found = times_.find(name);
    return found != times_.end() ? found->second : 0.0;
  }

 private:
  std::map<std::string, double> times_;
};

void PrintSummary(const Results& results) {
  std::printf(
      "\nConverters on 1000-pixel chunks against memcpy of the same bytes (ratio = converter "
      "time / memcpy time;\n'larger' is the memcpy of the larger side, which moves at least as "
      "many bytes as the converter reads and writes)\n\n");
  std::printf("%-16s %6s %6s %9s %8s %9s %9s %7s %7s %7s %10s %7s\n", "converter", "in B", "out B",
              "ns/chunk", "GB/s in", "memcpy in", "memcpy out", "x in", "x out", "x larger",
              "between ns", "x larger");
  double worst = 0.0;
  std::string worstName;
  for (const HostImage& image : kImages) {
    for (Direction direction : {Direction::kExport, Direction::kImport}) {
      const Sizes sizes = ChunkSizes(image, direction);
      const double convert = results.Nanoseconds(ConvertName(image, direction, false));
      const double withCopy = results.Nanoseconds(ConvertName(image, direction, true));
      const double copyIn = results.Nanoseconds(MemcpyName(sizes.in));
      const double copyOut = results.Nanoseconds(MemcpyName(sizes.out));
      const double copyLarger = sizes.in >= sizes.out ? copyIn : copyOut;
      if (convert == 0.0 || copyIn == 0.0 || copyOut == 0.0) continue;
      const std::string name = std::string(image.name) + " " + DirectionName(direction);
      const double ratio = convert / copyLarger;
      if (ratio > worst) {
        worst = ratio;
        worstName = name;
      }
      std::printf("%-16s %6u %6u %9.1f %8.2f %9.1f %10.1f %7.2f %7.2f %8.2f %10.1f %8.2f\n",
                  name.c_str(), sizes.in, sizes.out, convert, sizes.in / convert, copyIn, copyOut,
                  convert / copyIn, convert / copyOut, ratio, withCopy,
                  withCopy != 0.0 ? withCopy / copyLarger : 0.0);
    }
  }
  if (!worstName.empty()) {
    std::printf("\nslowest against memcpy of the larger side: %s, %.2f x (target: within 4 x)\n",
                worstName.c_str(), worst);
  }
  std::printf(
      "\nImport with a selection that covers every pixel partly (blended) against the import "
      "without one (between)\n\n%-16s %10s %10s %7s\n",
      "converter", "between ns", "blended ns", "x");
  for (const HostImage& image : kImages) {
    const double between = results.Nanoseconds(ConvertName(image, Direction::kImport, true));
    const double blended = results.Nanoseconds(BlendName(image));
    if (between == 0.0 || blended == 0.0) continue;
    std::printf("%-16s %10.1f %10.1f %7.2f\n", (std::string(image.name) + " import").c_str(),
                between, blended, blended / between);
  }
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* prefix) -> const char* {
      const size_t n = std::strlen(prefix);
      return arg.compare(0, n, prefix) == 0 ? argv[i] + n : nullptr;
    };
    char* end = nullptr;
    if (const char* v = value("--filter=")) {
      options.filter = v;
    } else if (const char* r = value("--repetitions=")) {
      options.repetitions = static_cast<int>(std::strtol(r, &end, 10));
      if (*r == '\0' || *end != '\0' || options.repetitions < 1) return false;
    } else if (const char* t = value("--min-time=")) {
      options.minTime = std::strtod(t, &end);
      if (*t == '\0' || *end != '\0' || !(options.minTime > 0)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "Usage: converter_benchmark [--filter=TEXT] [--repetitions=N] "
                 "[--min-time=SECONDS]\n");
    return 2;
  }
  std::printf("converter benchmark: %s build, fastest of %d runs of at least %.3f s per case\n",
#if defined(_WIN64)
              "x86_64 Windows",
#elif defined(_WIN32)
              "i686 Windows",
#else
              "native",
#endif
              options.repetitions, options.minTime);
  Results results;
  std::vector<uint32_t> copySizes;
  for (const HostImage& image : kImages) {
    for (Direction direction : {Direction::kExport, Direction::kImport}) {
      bool any = false;
      for (bool withCopy : {false, true}) {
        const std::string name = ConvertName(image, direction, withCopy);
        if (name.find(options.filter) == std::string::npos) continue;
        any = true;
        const Sizes sizes = ChunkSizes(image, direction);
        results.Add(name, ConvertChunks(image, direction, withCopy, options), sizes.in);
      }
      if (direction == Direction::kImport &&
          BlendName(image).find(options.filter) != std::string::npos) {
        any = true;
        results.Add(BlendName(image), BlendChunks(image, options), ChunkSizes(image, direction).in);
      }
      if (!any) continue;
      const Sizes sizes = ChunkSizes(image, direction);
      copySizes.push_back(sizes.in);
      copySizes.push_back(sizes.out);
    }
  }
  std::sort(copySizes.begin(), copySizes.end());
  copySizes.erase(std::unique(copySizes.begin(), copySizes.end()), copySizes.end());
  for (uint32_t bytes : copySizes) results.Add(MemcpyName(bytes), CopyBytes(bytes, options), bytes);
  PrintSummary(results);
  return 0;
}
