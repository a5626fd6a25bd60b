// Sweeps of faults and crashes over a scenario: the same test run once per
// call of an operation, failing (or crashing after) that call, until the
// scenario no longer reaches it.
//
//   SweepFaults<MemoryPlatform>(PlatformOp::kWrite, FailMode::kOnce,
//       [] { auto p = std::make_unique<MemoryPlatform>(); ...; return p; },
//       [](MemoryPlatform& disk) { RunTheCodeUnderTest(); },
//       [](MemoryPlatform& disk, const FaultRun& run) { EXPECT_...; });
//
// Each run gets a fresh environment from the factory. The environment is a
// Platform itself (a MemoryPlatform) or has a `Platform& platform()`. The
// scenario runs with Os() = a FaultInjectingPlatform over that platform,
// failing the run's call; the invariant runs with Os() = the environment's
// own platform, inside a SCOPED_TRACE that names the op, mode and call.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "testing/fault_injecting_platform.h"
#include "testing/memory_platform.h"
#include "testing/platform_op.h"

namespace qlr::testing {

struct FaultRun {
  PlatformOp op;
  FailMode mode;
  int nth;     // the call of `op` that failed (or crashed)
  bool fired;  // whether the scenario reached that call
};

struct SweepReport {
  int runs = 0;  // every run, the last one (that did not fire) included
  // Whether the sweep ended because a run no longer reached the call
  // (false: it hit the limit of runs, recorded as a test failure).
  bool completed = false;
};

// Runs `run(nth)` for nth = 1, 2, ... until it returns false (the fault no
// longer fired) or `max_runs` runs were made.
SweepReport SweepCalls(const std::function<bool(int nth)>& run, int max_runs);

inline constexpr int kDefaultMaxRuns = 2000;

std::string Describe(const FaultRun& run);

template <class Env>
auto& PlatformOf(Env& env) {
  if constexpr (std::is_base_of_v<Platform, Env>) {
    return env;
  } else {
    return env.platform();
  }
}

// The fault sweep: the scenario failing call 1 of `op`, then call 2, ...
// (only that call, or that call and every later one, as `mode` says).
template <class Env>
SweepReport SweepFaults(PlatformOp op, FailMode mode,
                        const std::function<std::unique_ptr<Env>()>& make_env,
                        const std::function<void(Env&)>& scenario,
                        const std::function<void(Env&, const FaultRun&)>& invariant,
                        int max_runs = kDefaultMaxRuns) {
  return SweepCalls(
      [&](int nth) {
        const std::unique_ptr<Env> env = make_env();
        FaultInjectingPlatform faulty(PlatformOf(*env));
        faulty.FailCall(op, nth, mode);
        {
          auto installed = faulty.Install();
          scenario(*env);
        }
        const FaultRun run{op, mode, nth, faulty.Failures() > 0};
        SCOPED_TRACE(Describe(run));
        ScopedPlatform installed(PlatformOf(*env));
        invariant(*env, run);
        return run.fired;
      },
      max_runs);
}

// The crash sweep: the scenario crashing after call 1 of `op` (a sync
// operation, say), then call 2, ...; before the invariant runs the disk is
// crashed (Crash(keeps)), so the invariant sees what a restart would find. The
// last run, which never reaches the call, is crashed after the scenario
// completed. The environment is a MemoryPlatform or has a platform()
// that returns one; `mode` of the FaultRun is kOnce.
template <class Env>
SweepReport SweepCrashes(PlatformOp op, const std::function<std::unique_ptr<Env>()>& make_env,
                         const std::function<void(Env&)>& scenario,
                         const std::function<void(Env&, const FaultRun&)>& invariant,
                         MemoryPlatform::CrashKeeps keeps = MemoryPlatform::CrashKeeps::kNothing,
                         int max_runs = kDefaultMaxRuns) {
  return SweepCalls(
      [&](int nth) {
        const std::unique_ptr<Env> env = make_env();
        MemoryPlatform& disk = PlatformOf(*env);
        disk.CrashAfter(op, nth);
        bool crashed = false;
        {
          ScopedPlatform installed(disk);
          try {
            scenario(*env);
          } catch (const SimulatedCrash&) {
            crashed = true;
          }
        }
        disk.Crash(keeps);
        const FaultRun run{op, FailMode::kOnce, nth, crashed};
        SCOPED_TRACE(Describe(run));
        ScopedPlatform installed(disk);
        invariant(*env, run);
        return crashed;
      },
      max_runs);
}

}  // namespace qlr::testing
