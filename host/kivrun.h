// kivrun's execution path for programs that drive it directly (benchmarks,
// tests): load a library, compile suites into a plan, run it, report.
//
//   kiv::Target target("build/libdllharness.so");
//   kiv::Plan plan = kiv::load_suites({"suite.csv"}, target.schema(), {});
//   kiv::RunResult r = kiv::run(target, kiv::repeat_cases(plan, 100000),
//                               {kiv::Isolation::snapshot, /*workers*/ 2});
//   // r.seconds: wall time of the execution alone
#pragma once

#include "catalog/catalog.h"
#include "error.h"
#include "suite/plan.h"
#include "exec/from_run.h"
#include "formats/report_files.h"
#include "model/result.h"
#include "formats/json/result_json.h"
#include "suite/record.h"
#include "exec/replay.h"
#include "exec/run.h"
#include "suite/select.h"
#include "suite/suite.h"
#include "load/target.h"
#include "formats/writers.h"
