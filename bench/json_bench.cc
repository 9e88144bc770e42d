// Parse + write throughput of the host's JSON layer against RapidJSON and
// nlohmann::json on three generated ~1 MiB payloads, all in one run.
//
//   json_bench [benchmark flags]             run and print MB/s and ratios
//   json_bench --write-payloads=DIR          write the payloads to DIR/*.json
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"

namespace {

constexpr std::size_t kTargetSize = 1 << 20;

// Fixed-seed generator so every run measures the same bytes.
class Random {
 public:
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

void append_double(std::string& out, double d) {
  char buf[40];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
}

void append_uuid(std::string& out, Random& r) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 36; ++i) out += (i == 8 || i == 13 || i == 18 || i == 23) ? '-' : kHex[r.below(16)];
}

// Text pieces with escapes, control characters and 2-, 3- and 4-byte UTF-8.
const char* const kFragments[] = {
    "caf\xC3\xA9 ",          "na\\u00efve ",        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ",
    "\xF0\x9F\x94\x90 ",     "line\\nbreak ",       "tab\\there ",
    "\\\"quoted\\\" ",       "back\\\\slash ",      "path\\/to ",
    "\\u0001\\u001f ",       "\\uD83D\\uDE00 ",     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ",
    "plain ascii words ",    "\\r\\n ",             "\xE2\x82\xAC\x34\x32 ",
    "\\b\\f ",               "\xC3\x9F\xC3\xB8 ",    "\xF0\x9F\x98\x80\xF0\x9F\x8E\x89 ",
};

void append_text(std::string& out, Random& r, std::size_t pieces) {
  for (std::size_t i = 0; i < pieces; ++i) out += kFragments[r.below(std::size(kFragments))];
}

std::string vault_payload() {
  Random r;
  std::string s = "{\"encrypted\":false,\"folders\":[";
  for (int f = 0; f < 20; ++f) {
    if (f) s += ',';
    s += "{\"id\":\"";
    append_uuid(s, r);
    s += "\",\"name\":\"Folder " + std::to_string(f) + "\"}";
  }
  s += "],\"items\":[";
  for (int i = 0; i < 2000; ++i) {
    if (i) s += ',';
    s += "{\"id\":\"";
    append_uuid(s, r);
    s += "\",\"folderId\":\"";
    append_uuid(s, r);
    s += "\",\"type\":1,\"name\":\"Login ";
    s += std::to_string(i);
    s += " \\u2014 ";
    append_text(s, r, 1);
    s += "\",\"notes\":\"";
    append_text(s, r, 2);
    s += "\",\"favorite\":";
    s += r.below(2) ? "true" : "false";
    s += ",\"login\":{\"username\":\"user";
    s += std::to_string(r.below(100000));
    s += "@example.com\",\"password\":\"p@ss\\\\w0rd!";
    s += std::to_string(r.next());
    s += "\",\"uris\":[{\"match\":null,\"uri\":\"https://login.example";
    s += std::to_string(i);
    s += ".com/path?q=";
    s += std::to_string(r.below(1000000));
    s += "&lang=en\"}],\"passwordRevisionDate\":\"2024-03-1";
    s += std::to_string(r.below(10));
    s += "T10:20:30.123Z\"},\"fields\":[{\"name\":\"PIN\",\"value\":\"";
    s += std::to_string(r.below(10000));
    s += "\",\"type\":0}],\"score\":";
    append_double(s, r.unit());
    s += ",\"usageCount\":";
    s += std::to_string(r.next() >> 20);
    s += ",\"serial\":";
    s += std::to_string(r.next());
    s += '}';
  }
  s += "]}";
  return s;
}

std::string number_payload() {
  Random r;
  std::string s = "[";
  for (int i = 0; s.size() < kTargetSize; ++i) {
    if (i) s += ',';
    switch (r.below(6)) {
      case 0:  // doubles across the whole range of magnitudes
        append_double(s, (r.unit() + 0.1) * std::pow(10.0, static_cast<double>(r.below(600)) - 300.0));
        break;
      case 1:  // short decimals as people write them
        s += std::to_string(r.below(100000)) + "." + std::to_string(r.below(100));
        break;
      case 2:  // negative 64-bit integers
        s += std::to_string(-static_cast<std::int64_t>(r.next() >> (1 + r.below(63))));
        break;
      case 3:  // large unsigned integers
        s += std::to_string(r.next());
        break;
      case 4:  // small integers
        s += std::to_string(r.below(1000));
        break;
      default:  // exponent forms
        s += std::to_string(1 + r.below(9)) + "." + std::to_string(r.below(1000)) + "e" +
             std::to_string(static_cast<int>(r.below(40)) - 20);
        break;
    }
  }
  s += "]";
  return s;
}

std::string string_payload() {
  Random r;
  std::string s = "[";
  for (int i = 0; s.size() < kTargetSize; ++i) {
    if (i) s += ',';
    s += '"';
    append_text(s, r, 1 + r.below(12));
    s += '"';
  }
  s += "]";
  return s;
}

const std::map<std::string, std::string>& payloads() {
  static const std::map<std::string, std::string> all = {
      {"vault", vault_payload()}, {"numbers", number_payload()}, {"strings", string_payload()}};
  return all;
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
    for (const auto& [name, text] : payloads()) {
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
  for (const auto& [name, text] : payloads()) {
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
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
