// kivrun's execution path for programs that drive it directly (benchmarks,
// tests): load a library, compile suites into a plan, run it, report.
//
//   kiv::Target target("build/libdllharness.so");
//   kiv::Plan plan = kiv::load_suites({"suite.csv"}, target.schema(), {});
//   kiv::RunResult r = kiv::run(target, kiv::repeat_cases(plan, 100000),
//                               {kiv::Isolation::snapshot, /*workers*/ 2});
//   // r.seconds: wall time of the execution alone
#pragma once

#include "catalog.h"
#include "error.h"
#include "plan.h"
#include "from_run.h"
#include "report_files.h"
#include "result.h"
#include "record.h"
#include "replay.h"
#include "run.h"
#include "select.h"
#include "suite.h"
#include "target.h"
#include "writers.h"
