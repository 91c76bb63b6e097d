// Cost of the log with a view attached: 20,000 lines logged (the full mark on the way), then a
// progress line rewritten 10,000 times. The observer stands in for the memo: it keeps its own
// copy of the lines, as a text view's document does.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "log/session_log.h"

namespace {

struct MemoStandIn : dravion::LogObserver {
  void OnLogLineAdded(const std::string& line) override { lines.push_back(line); }
  void OnLogLastLineReplaced(const std::string& line) override { lines.back() = line; }
  void OnLogCleared() override { lines.clear(); }
  std::vector<std::string> lines;
};

std::vector<std::string> Texts(int count) {
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) {
    texts.push_back("# ReadParameter 0x" + std::to_string(0xC000 + i % 64) + " = " +
                    std::to_string(i) + " (channel 1, attempt 1)");
  }
  return texts;
}

void BM_Log20000Lines(benchmark::State& state) {
  const auto texts = Texts(20000);
  for (auto _ : state) {
    dravion::SessionLog log;
    MemoStandIn memo;
    log.SetObserver(&memo);
    for (const auto& text : texts)
      log.LogLine(text);
    benchmark::DoNotOptimize(memo.lines.data());
  }
  state.SetItemsProcessed(state.iterations() * 20000);
}
BENCHMARK(BM_Log20000Lines)->Unit(benchmark::kMillisecond);

void BM_Rewrite10000AfterFullLog(benchmark::State& state) {
  const auto texts = Texts(20000);
  dravion::SessionLog log;
  MemoStandIn memo;
  log.SetObserver(&memo);
  for (const auto& text : texts)
    log.LogLine(text);
  log.LogLine("# WRITING: 0% bytes");
  std::vector<std::string> progress;
  for (int i = 0; i < 10000; ++i)
    progress.push_back("# Written: " + std::to_string(i % 101) + "%");
  for (auto _ : state) {
    for (const auto& text : progress)
      log.ReplaceLastLine(text);
    benchmark::DoNotOptimize(memo.lines.back().data());
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Rewrite10000AfterFullLog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
