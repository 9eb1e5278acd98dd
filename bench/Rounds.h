#pragma once
// A user's job timed beside its yardstick in the same rounds: each round
// runs both, one after the other, so that a machine busy with something
// else slows both alike; the round's time is the job's. The ratio counter
// is the median of the rounds' ratios (ours / yardstick), so that one run
// gives it. Both sides run once untimed first: no round measures a cold
// first call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace bench {

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Seconds that f takes.
template <class F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class TRounds {
 public:
  // peerName names the yardstick in the counters ("<peerName>_ms").
  explicit TRounds(benchmark::State& state, std::string peerName = "peer")
      : state_(state), peerName_(std::move(peerName)) {}

  // reset, untimed, puts things back after each run of ours.
  template <class Ours, class Peer, class Reset = void (*)()>
  void Run(Ours&& ours, Peer&& peer, Reset&& reset = [] {}) {
    ours();
    reset();
    peer();
    for (auto _ : state_) {
      const double o = Seconds(ours);
      reset();
      const double p = Seconds(peer);
      ours_.push_back(o);
      peer_.push_back(p);
      state_.SetIterationTime(o);
    }
    Report();
  }

 private:
  void Report() {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours_.size(); ++i)
      if (peer_[i] > 0) ratios.push_back(ours_[i] / peer_[i]);
    state_.counters["ms"] = Median(ours_) * 1e3;
    state_.counters[peerName_ + "_ms"] = Median(peer_) * 1e3;
    state_.counters["ratio"] = Median(ratios);
  }

  benchmark::State& state_;
  std::string peerName_;
  std::vector<double> ours_, peer_;
};

}  // namespace bench
