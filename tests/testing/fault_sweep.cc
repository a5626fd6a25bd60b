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

SweepReport SweepCrashes(PlatformOp op,
                         const std::function<std::unique_ptr<MemoryPlatform>()>& make_env,
                         const std::function<void(MemoryPlatform&)>& scenario,
                         const std::function<void(MemoryPlatform&, const FaultRun&)>& invariant,
                         int max_runs) {
  return SweepCalls(
      [&](int nth) {
        const std::unique_ptr<MemoryPlatform> disk = make_env();
        disk->CrashAfter(op, nth);
        bool crashed = false;
        {
          ScopedPlatform installed(*disk);
          try {
            scenario(*disk);
          } catch (const SimulatedCrash&) {
            crashed = true;
          }
        }
        disk->Crash();
        const FaultRun run{op, FailMode::kOnce, nth, crashed};
        SCOPED_TRACE(Describe(run));
        ScopedPlatform installed(*disk);
        invariant(*disk, run);
        return crashed;
      },
      max_runs);
}

}  // namespace qlr::testing
