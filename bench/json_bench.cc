// Parse + write throughput of the host's JSON layer against RapidJSON and
// nlohmann::json on six generated ~1 MiB payloads (bench/json_payloads.h),
// all in one run; and of the host's layer alone on an unsorted object of
// escaped keys (vk/escaped_keys), the worst case of sorting members.
//
//   json_bench [benchmark flags]             run and print MB/s and ratios
//   json_bench --write-payloads=DIR          write the payloads to DIR/*.json
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>  // defines __GLIBC__ where it applies
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bench/json_payloads.h"
#include "native_messaging/json.h"

namespace {

constexpr std::size_t kTargetSize = 1 << 20;

const std::vector<vk_bench::Payload>& payloads() {
  static const std::vector<vk_bench::Payload> all = vk_bench::json_payloads(kTargetSize);
  return all;
}

const std::string& escaped_keys() {
  static const std::string text = vk_bench::escaped_keys_payload(kTargetSize);
  return text;
}

void set_throughput(benchmark::State& state, std::size_t bytes) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_vk(benchmark::State& state, const std::string* text) {
  for (auto _ : state) {
    auto parsed = vk::parse_json(*text);
    if (!parsed) {
      state.SkipWithError(parsed.error().display().c_str());
      break;
    }
    std::string out = vk::serialize_json(*parsed);
    benchmark::DoNotOptimize(out.data());
  }
  set_throughput(state, text->size());
}

void BM_rapidjson(benchmark::State& state, const std::string* text) {
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse<kFlags>(text->data(), text->size());
    if (doc.HasParseError()) {
      state.SkipWithError("rapidjson parse error");
      break;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  set_throughput(state, text->size());
}

void BM_nlohmann(benchmark::State& state, const std::string* text) {
  for (auto _ : state) {
    auto doc = nlohmann::json::parse(text->begin(), text->end());
    std::string out = doc.dump();
    benchmark::DoNotOptimize(out.data());
  }
  set_throughput(state, text->size());
}

// Prints the usual table, then each library's MB/s and our ratio to it.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median stands for the benchmark.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      const auto it = run.counters.find("MB/s");
      if (it == run.counters.end()) continue;
      if (median) {
        medians_[run.run_name.function_name] = it->second.value;
      } else {
        rates_[run.run_name.function_name] = it->second.value;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-10s %14s %14s %14s %12s %12s\n", "payload", "vk MB/s", "rapidjson MB/s", "nlohmann MB/s",
                "vk/rapid", "vk/nlohmann");
    for (const vk_bench::Payload& payload : payloads()) {
      const std::string& name = payload.name;
      const double vk = rate("vk/" + name);
      const double rapid = rate("rapidjson/" + name);
      const double nl = rate("nlohmann/" + name);
      std::printf("%-10s %14.1f %14.1f %14.1f %11.2fx %11.2fx\n", name.c_str(), vk, rapid, nl,
                  rapid > 0 ? vk / rapid : 0.0, nl > 0 ? vk / nl : 0.0);
    }
  }

 private:
  double rate(const std::string& name) const {
    if (const auto it = medians_.find(name); it != medians_.end()) return it->second;
    if (const auto it = rates_.find(name); it != rates_.end()) return it->second;
    return 0;
  }
  std::map<std::string, double> rates_;
  std::map<std::string, double> medians_;
};

bool write_payloads(const std::string& dir) {
  std::vector<vk_bench::Payload> all = payloads();
  all.push_back({"escaped_keys", escaped_keys()});
  for (const auto& [name, text] : all) {
    const std::string path = dir + "/" + name + ".json";
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), text.size());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Fixed allocator thresholds: with glibc's adaptive ones, whichever
  // library ran before decides whether the next one's megabyte-sized blocks
  // are mapped and faulted in afresh on every iteration. Here all of them
  // measure their own work on warm memory; cold_bench measures fresh memory.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  constexpr std::string_view kWriteFlag = "--write-payloads=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, kWriteFlag.size()) == kWriteFlag) {
      return write_payloads(std::string(arg.substr(kWriteFlag.size()))) ? 0 : 1;
    }
  }
  for (const auto& [name, text] : payloads()) {
    benchmark::RegisterBenchmark(("vk/" + name).c_str(), BM_vk, &text);
    benchmark::RegisterBenchmark(("rapidjson/" + name).c_str(), BM_rapidjson, &text);
    benchmark::RegisterBenchmark(("nlohmann/" + name).c_str(), BM_nlohmann, &text);
  }
  benchmark::RegisterBenchmark("vk/escaped_keys", BM_vk, &escaped_keys());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
