#include "testing/fault_sweep.h"

namespace qlr::testing {

std::string Describe(const FaultRun& run) {
  return std::string(OpName(run.op)) + " call " + std::to_string(run.nth) + " " +
         std::string(ModeName(run.mode)) + (run.fired ? "" : " (not reached)");
}

SweepReport SweepCalls(const std::function<bool(int nth)>& run, int max_runs) {
  SweepReport report;
  for (int nth = 1; nth <= max_runs; ++nth) {
    ++report.runs;
    if (!run(nth)) {
      report.completed = true;
      return report;
    }
  }
  ADD_FAILURE() << "the fault still fired after " << max_runs << " runs";
  return report;
}

}  // namespace qlr::testing
