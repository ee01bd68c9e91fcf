// Rounds of a benchmark: ours and the reference measured in turns (ours, reference, ours, ...),
// each side reported as the median of its rounds with their spread, so that a moment of load
// on the machine moves one round, not the figure.
//
//   otBenchSide ours("otserver -> otclient", "passes/s"), ref("QLabel::setText", "passes/s");
//   for (int r = 0; r < otBenchRounds; r++) {
//     ours.add(runOurs());
//     ref.add(runReference());
//   }
//   ours.print();
//   ref.print();
//   otBenchRatio("ratio ours/reference", ours, ref, {&ours, &ref});  // the last line
#ifndef OTKIT_BENCHROUNDS_H
#define OTKIT_BENCHROUNDS_H

#include <stdio.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

// Rounds of each side, unless a benchmark has a reason for more.
const int otBenchRounds = 5;
// A side whose spread is wider than this is said to be unsteady on the last lines.
const double otBenchSteady = 0.20;

class otBenchSide {
 public:
  otBenchSide(std::string name, std::string unit)
      : name_(std::move(name)), unit_(std::move(unit)) {}
  void add(double value) { values_.push_back(value); }
  int rounds() const { return (int)values_.size(); }
  double median() const {
    if (values_.empty()) return 0;
    std::vector<double> v = values_;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  // (largest - smallest) / median: the share by which the rounds disagree.
  double spread() const {
    if (values_.empty() || median() == 0) return 0;
    auto mm = std::minmax_element(values_.begin(), values_.end());
    return (*mm.second - *mm.first) / median();
  }
  const std::string& name() const { return name_; }
  // "NAME: median M UNIT, spread S % over N rounds (r1 r2 ...)"
  void print() const {
    printf("%s: median %.4g %s, spread %.0f %% over %d rounds (", name_.c_str(), median(),
           unit_.c_str(), spread() * 100, rounds());
    for (size_t i = 0; i < values_.size(); i++)
      printf(i == 0 ? "%.4g" : " %.4g", values_[i]);
    printf(")\n");
  }

 private:
  std::string name_, unit_;
  std::vector<double> values_;
};

// Runs rounds of each side in turns, a's first: each callable returns its round's figure.
template <typename A, typename B>
void otBenchInterleave(otBenchSide& a, A roundOfA, otBenchSide& b, B roundOfB,
                       int rounds = otBenchRounds) {
  for (int r = 0; r < rounds; r++) {
    a.add(roundOfA());
    b.add(roundOfB());
  }
}

// The same with a third side, such as the floor that both ours and the reference stand on.
template <typename A, typename B, typename C>
void otBenchInterleave(otBenchSide& a, A roundOfA, otBenchSide& b, B roundOfB, otBenchSide& c,
                       C roundOfC, int rounds = otBenchRounds) {
  for (int r = 0; r < rounds; r++) {
    a.add(roundOfA());
    b.add(roundOfB());
    c.add(roundOfC());
  }
}

// "A / FLOOR: x, B / FLOOR: y": how near each of a and b comes to the floor (the medians).
inline void otBenchShares(const char* aName, const otBenchSide& a, const char* bName,
                          const otBenchSide& b, const char* floorName, const otBenchSide& floor) {
  double f = floor.median() > 0 ? floor.median() : 1;
  printf("%s / %s: %.2f, %s / %s: %.2f\n", aName, floorName, a.median() / f, bName, floorName,
         b.median() / f);
}

// Says which of sides spread wider than otBenchSteady (nothing when none does), then prints
// "LABEL: R" with R the ratio of the medians of a and b, to `decimals` places (more for a
// ratio far below one, such as the price of a lock against a bare access).
inline void otBenchRatio(const char* label, const otBenchSide& a, const otBenchSide& b,
                         std::initializer_list<const otBenchSide*> sides, int decimals = 2) {
  std::string wide;
  for (const otBenchSide* s : sides)
    if (s->spread() > otBenchSteady) {
      char part[160];
      snprintf(part, sizeof part, "%s%s %.0f %%", wide.empty() ? "" : ", ", s->name().c_str(),
               s->spread() * 100);
      wide += part;
    }
  if (!wide.empty()) printf("spread above %.0f %%: %s\n", otBenchSteady * 100, wide.c_str());
  printf("%s: %.*f\n", label, decimals, b.median() > 0 ? a.median() / b.median() : 0.0);
}

#endif
