#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/frame_codec.h"

namespace {

std::vector<uint8_t> Payload(size_t n) {
  std::vector<uint8_t> p(n);
  for (size_t i = 0; i < n; ++i)
    p[i] = static_cast<uint8_t>(i * 37);
  return p;
}

void BM_Encode(benchmark::State& state) {
  const auto payload = Payload(static_cast<size_t>(state.range(0)));
  dravion::FrameEncoder tx;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tx.Encode(payload.data(), static_cast<uint16_t>(payload.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Encode)->Arg(10)->Arg(139)->Arg(250);

void BM_Decode(benchmark::State& state) {
  const auto payload = Payload(static_cast<size_t>(state.range(0)));
  dravion::FrameEncoder tx;
  tx.Encode(payload.data(), static_cast<uint16_t>(payload.size()));
  dravion::FrameDecoder decoder;
  for (auto _ : state) {
    int frames = 0;
    for (uint16_t i = 0; i < tx.Length; ++i)
      frames += decoder.DecodeByte(tx.Buffer[i]);
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(state.iterations() * tx.Length);
}
BENCHMARK(BM_Decode)->Arg(10)->Arg(139)->Arg(250);

}  // namespace

BENCHMARK_MAIN();
