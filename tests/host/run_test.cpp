// kivrun against the real library: exit codes and messages of the command
// line, the JSON and JUnit reports read back, and the example suite giving
// the same results under every isolation.
#include "kivrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <vector>

#include "host_test.h"

namespace {

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kExample = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv";

// Occupied seat, power state 1, no error; a press on step 2 lights LED 1.
const char* const kPassing =
    "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
    "press,955,30,1,1,0,0,0\n"
    ",,,,,,1,1\n";
const char* const kFailing =
    "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
    "press,955,30,1,1,0,0,0\n"
    ",,,,,,1,1\n"
    "wrong,955,30,1,1,0,0,0\n"
    ",,,,,,1,0\n";

// Two failed checks whose expect cells are long sets: the table of failed
// checks must keep each row whole, the actual value and the newline included.
const std::string kLongSets = [] {
    std::string without0, without1 = "0";
    for (int v = 1; v <= 255; ++v)
        without0 += (v > 1 ? "|" : "") + std::to_string(v);
    for (int v = 2; v <= 255; ++v)
        without1 += "|" + std::to_string(v);
    return "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
           "long,955,30,1,1,0,0," + without0 + "\n,,,,,,1," + without1 + "\n";
}();

// A case name that would retitle and clear a terminal printed raw.
const char* const kEscapeName =
    "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
    "\x1b]0;PWNED\x07\x1b[2J,955,30,1,1,0,0,0\n";

struct Invocation {
    const char* name;
    const char* args;   // {lib}, {suite}, {dir} are replaced
    const char* suite;  // written to {suite}, may be null
    int code;
    const char* out;  // expected in stdout (may be empty)
    const char* err;  // expected in stderr (may be empty)
};

const Invocation kInvocations[] = {
    {"PassingSuiteExitsZero", "run {lib} {suite}", kPassing, 0, "pass  press (2 checks)", ""},
    {"FailedCheckExitsOne", "run {lib} {suite}", kFailing, 1,
     "FAIL  wrong: step 2 ({suite}:5): Wrapper_seat_heating_control.LEDFeedback[0] expected 0, got 1", ""},
    {"MalformedSuiteExitsTwoAndRunsNothing", "run {lib} {suite}", "case,scope,959\nc,955,300\n", 2, "",
     "{suite}:2:7: value 300 is out of range"},
    // A held row's checks come after its last step, which reports name with the row's line.
    {"HeldRowIsCheckedAfterItsLastStep", "run {lib} {suite}",
     "case,scope,959,966,968,970,980,repeat,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
     "wrong,955,30,1,1,0,0,3,1\n",
     1, "FAIL  wrong: step 3 ({suite}:2): Wrapper_seat_heating_control.LEDFeedback[0] expected 1, got 0", ""},
    {"WrapAcceptsWhatTheLibraryWraps", "run {lib} {suite} --wrap", "case,scope,959\nc,955,300\n", 0, "PASSED", ""},
    {"MissingLibraryExitsTwo", "run {dir}/none.so {suite}", kPassing, 2, "", "cannot read library"},
    {"LibraryLackingAnExportExitsTwo", "info " KIV_STANDIN_INCOMPLETE_PATH, nullptr, 2, "",
     "does not export kiv_dll_exception"},
    {"MissingSuiteExitsTwo", "run {lib} {dir}/none.csv", nullptr, 2, "", "none.csv: cannot read the suite file"},
    {"CoverageBelowThresholdExitsOne", "run {lib} {suite} --fail-under total=100 --fail-under DC=10", kPassing, 1,
     "total 63.6% < 100.0%: NOT MET", ""},
    {"CoverageAboveThresholdExitsZero", "run {lib} {suite} --fail-under decision=10", kPassing, 0,
     "decision 65.6% >= 10.0%: met", ""},
    {"BadThresholdExitsTwo", "run {lib} {suite} --fail-under decision=150", kPassing, 2, "",
     "expected a percentage from 0 to 100"},
    {"UnwritableReportExitsTwoBeforeRunning", "run {lib} {suite} --json {dir}/no/such/dir/r.json", kPassing, 2, "",
     "cannot write --json"},
    // A report is written whole or the run fails; an input is never a report's target.
    {"ReportOnAFullDeviceExitsTwo", "run {lib} {suite} --junit /dev/full", kPassing, 2,
     "FAILED (a report was not written)", "writing /dev/full failed"},
    {"ReportOverTheSuiteIsRefused", "run {lib} {suite} --json {suite}", kPassing, 2, "",
     "that is an input of the run"},
    {"FailFastLeavesTheCasesAfterAFailureNotRun", "run {lib} {suite} --fail-fast",
     "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0]\n"
     "wrong,955,30,1,1,0,0,1\nlater,955,30,1,1,0,0,0\n",
     1, "1 failed, 0 crashed, 0 timed out, 1 not run", "--fail-fast: a case did not pass"},
    {"TwoReportsInOneFileAreRefused", "run {lib} {suite} --json {dir}/r --junit {dir}/r", kPassing, 2, "",
     "the same file as --json"},
    {"UnknownIsolationExitsTwo", "run {lib} {suite} --isolation thread", kPassing, 2, "", "--isolation"},
    {"NoSubcommandExitsTwo", "", nullptr, 2, "", "subcommand"},
    {"HelpExitsZero", "run --help", nullptr, 0, "--step-timeout", ""},
    {"HelpNamesTheProgramNotItsPath", "--help", nullptr, 0, "Usage: kivrun [OPTIONS] SUBCOMMAND", ""},
    {"VersionExitsZero", "--version", nullptr, 0, "kivrun ", ""},
    {"LongFailedCheckRowsAreWhole", "run {lib} {suite}", kLongSets.c_str(), 1, "|253|254|255        1\n", ""},
    {"InfoListsScopesAndGoals", "info {lib}", nullptr, 0, "scope 981  runa2", ""},
    {"ForkIsolationWithTwoWorkers", "run {lib} {suite} --isolation fork -j 2", kFailing, 1, "1 passed, 1 failed", ""},
    {"FilterThatExcludesEveryCaseExitsTwo", "run {lib} {suite} --filter '-*'", kPassing, 2, "",
     "--filter '-*' leaves no case to run"},
    {"RepeatThatIsNoNumberSaysWhatIsAccepted", "run {lib} {suite} --repeat abc", kPassing, 2, "",
     "--repeat: expected a whole number from 1 to 1000000, got 'abc'"},
    {"NegativeSeedIsRefused", "run {lib} {suite} --shuffle --seed -1", kPassing, 2, "",
     "--seed: expected a whole number from 0 to 18446744073709551615, got '-1'"},
    {"SeedBeyondSixtyFourBitsIsRefused", "run {lib} {suite} --shuffle --seed 18446744073709551616", kPassing, 2, "",
     "got '18446744073709551616'"},
    {"ControlBytesInACaseNameAreEscaped", "run {lib} {suite} -v", kEscapeName, 0, "pass  \\x1B]0;PWNED\\x07\\x1B[2J",
     ""},
    {"ControlBytesInAListedCaseAreEscaped", "run {lib} {suite} --list", kEscapeName, 0, "\\x1B]0;PWNED", ""},
    {"ShardCountBeyondAnyMatrixIsRefused", "run {lib} {suite} --shard 0/2147483647", kPassing, 2, "",
     "--shard '0/2147483647': expected N, the number of shards, from 1 to 10000"},
    {"ReportOfAFolderNamesIt", "report {dir}/", nullptr, 2, "", "/: not a kivrun result (a folder)"},
    // generate's numbers say in words what they accept, as run's do.
    {"GenerateTimeBudgetOfZeroIsRefused", "generate {lib} -o {dir}/g0.csv --time-budget 0", nullptr, 2, "",
     "--time-budget: expected a number from 0.001 to 1000000000, got '0'"},
    {"GenerateMaxExecutionsOfZeroIsRefused", "generate {lib} -o {dir}/g0.csv --max-executions 0", nullptr, 2, "",
     "--max-executions: expected a whole number from 1 to 18446744073709551615, got '0'"},
    {"GeneratePlateauOfZeroIsRefused", "generate {lib} -o {dir}/g0.csv --plateau 0", nullptr, 2, "",
     "--plateau: expected a whole number from 1 to 1000000000, got '0'"},
    {"GenerateMaxStepsThatIsNoNumberIsRefused", "generate {lib} -o {dir}/g0.csv --max-steps abc", nullptr, 2, "",
     "--max-steps: expected a whole number from 1 to 4096, got 'abc'"},
    {"GenerateNegativeSeedIsRefused", "generate {lib} -o {dir}/g0.csv --seed -1", nullptr, 2, "",
     "--seed: expected a whole number from 0 to 18446744073709551615, got '-1'"},
    {"GenerateSeedBeyondSixtyFourBitsIsRefused", "generate {lib} -o {dir}/g0.csv --seed 18446744073709551616",
     nullptr, 2, "", "--seed: expected a whole number from 0 to 18446744073709551615, got '18446744073709551616'"},
};

// Where a command's output goes, and what it must leave: a command line run
// by the shell ({kivrun} for the binary), its exit code and message, and the
// suite byte for byte as it was.
struct OutputRow {
    const char* name;
    const char* command;
    int code;
    const char* err;
};

const OutputRow kOutputRows[] = {
    {"InfoToAFullDeviceExitsTwo", "{ {kivrun} info {lib} >/dev/full; }", 2, "cannot write to standard output"},
    // A floating input's type is its domain: shown once, with no range after it.
    {"InfoShowsAFloatingTypeOnce",
     "{ L={lib}; python3 -c \"import json,sys; d = json.load(open(sys.argv[1])); d['inputs'][0]['type'] = 'float'; "
     "json.dump(d, open(sys.argv[2], 'w'))\" ${L%.so}.catalog.json {dir}/float.json && {kivrun} info {lib} "
     "--catalog {dir}/float.json | grep -q '  float  kiv_haux1 -> '; }",
     0, ""},
    // generate shows its progress on a terminal at least once a second, and
    // says nothing of it with -q or to a pipe.
    {"GenerateShowsProgressOnATerminal",
     "{ cd {dir} && script -qec \"{kivrun} generate {lib} -o tick.csv --time-budget 1.6 --plateau 1000000000\" "
     "/dev/null | tr '\\r' '\\n' | grep -m1 'goals reached, last new goal at' >&2; }",
     0, " executions, "},
    {"GenerateShowsNoProgressWhenQuietOrNotOnATerminal",
     "{ cd {dir} && script -qec \"{kivrun} generate {lib} -o quiet.csv -q --time-budget 1.2 --plateau 1000000000\" "
     "/dev/null > tty.txt; {kivrun} generate {lib} -o pipe.csv --time-budget 1.2 --plateau 1000000000 2> pipe.txt; "
     "! grep -q 'last new goal at' tty.txt pipe.txt; }",
     0, ""},
    {"ListToAFullDeviceExitsTwo", "{ {kivrun} run {lib} {suite} --list >/dev/full; }", 2,
     "cannot write to standard output"},
    {"ShardStatusFileNamingTheSuiteIsRefused", "GTEST_SHARD_STATUS_FILE={suite} {kivrun} run {lib} {suite} --shard 0/2", 2,
     "GTEST_SHARD_STATUS_FILE {suite}: that is an input of the run"},
    {"UnwritableShardStatusFileExitsTwo",
     "GTEST_SHARD_STATUS_FILE={dir}/no/such/status {kivrun} run {lib} {suite} --shard 0/2", 2,
     "cannot write GTEST_SHARD_STATUS_FILE"},
    // A goal placed beyond the end of the source shown fails the report, naming
    // the file and line, and is not looped up to; the pages are still written.
    {"HtmlGoalBeyondItsSourceFailsTheReport",
     "{ {kivrun} run {lib} {suite} -q --json {dir}/far.json && python3 -c \"import json,sys; p = sys.argv[1]; "
     "d = json.load(open(p)); d['goals'][0]['line'] = 2147483647; json.dump(d, open(p, 'w'), indent=1)\" "
     "{dir}/far.json && "
     "{kivrun} report {dir}/far.json --source-root {root} --html {dir}/far; c=$?; test -e {dir}/far/index.html; "
     "exit $((c + $?)); }",
     2, "Wrapper_seat_heating_control.c:2147483647: goal KIV_G5 lies at line 2147483647, but"},
    // Every number in a result is checked against the range it may take.
#define KIV_EDITED_RESULT(edit)                                                                                     \
    "{ {kivrun} run {lib} {suite} -q --shard 0/1 --fail-under total=10 --json {dir}/n.json >/dev/null; "          \
    "python3 -c \"import json,sys; p = sys.argv[1]; d = json.load(open(p)); " edit                                  \
    "; json.dump(d, open(p, 'w'), indent=1)\" {dir}/n.json && {kivrun} report {dir}/n.json; }"
    {"ResultVersionMustBeWhole", KIV_EDITED_RESULT("d['version'] = 1.9"), 2, "'version' has the wrong type"},
    {"ResultWorkersWithinRange", KIV_EDITED_RESULT("d['run']['workers'] = 1e300"), 2, "'workers' has the wrong type"},
    {"ResultThresholdWithinRange", KIV_EDITED_RESULT("d['thresholds'][0]['required'] = -50"), 2,
     "'required' is -50, not from 0 to 100"},
    {"ResultShardIndexWithinRange", KIV_EDITED_RESULT("d['run']['shard']['index'] = 2**32"), 2,
     "'index' is 4294967296, out of range"},
    {"ResultThresholdOfNoCriterionNamesItsFile", KIV_EDITED_RESULT("d['thresholds'][0]['criterion'] = 'bogus'"), 2,
     "{dir}/n.json: not a kivrun result (thresholds[0] names criterion 'bogus', of which it has no goals)"},
    // A case whose fields contradict each other is refused by every reader, the field named.
    {"ResultPassedWithMismatchesIsRefused", KIV_EDITED_RESULT("d['cases'][0]['mismatches'] = 1"), 2,
     "n.json: not a kivrun result (case {suite}:press: 'mismatches' is 1, but 'status' is passed)"},
    {"ResultPassedWithFailedChecksIsRefused",
     KIV_EDITED_RESULT("d['cases'][0]['failed_checks'] = [dict(step=1, line=2, output='o', expected='1', actual=0)]"), 2,
     "'failed_checks' lists 1, but 'mismatches' is 0"},
    {"ResultFailedWithoutMismatchesIsRefused", KIV_EDITED_RESULT("d['cases'][0]['status'] = 'failed'"), 2,
     "'mismatches' is 0, but 'status' is failed"},
    {"ResultCrashedWithoutItsFaultIsRefused", KIV_EDITED_RESULT("d['cases'][0]['status'] = 'crashed'"), 2,
     "'fault' is missing, but 'status' is crashed"},
#undef KIV_EDITED_RESULT
#define KIV_CONTRADICTED(command)                                                                                    \
    "{ cd {dir} && {kivrun} run {lib} {suite} -q --json x.json >/dev/null; "                                         \
    "python3 -c \"import json; d = json.load(open('x.json')); d['cases'][0]['mismatches'] = 3; "                     \
    "d['cases'][0]['checks'] = 3; json.dump(d, open('x.json', 'w'))\" && {kivrun} " command "; }"
    {"MergeOfAContradictoryResultIsRefused", KIV_CONTRADICTED("merge x.json -o xm.json"), 2,
     "x.json: not a kivrun result (case {suite}:press: 'mismatches' is 3, but 'status' is passed)"},
    {"DiffOfAContradictoryResultIsRefused", KIV_CONTRADICTED("diff x.json x.json"), 2,
     "'mismatches' is 3, but 'status' is passed"},
#undef KIV_CONTRADICTED
    // An unsigned 64-bit value above the signed range reads as itself, never negative, in every report.
    {"UnsignedActualBeyondTheSignedRangeIsShownAsItself",
     "{ cd {dir} && {kivrun} run {lib} {root}/tests/host/data/failing.csv -q --json u.json >/dev/null; "
     "python3 -c \"import json; d = json.load(open('u.json')); "
     "[m.update(actual=2**64 - 1) for c in d['cases'] for m in c['failed_checks']]; json.dump(d, open('u.json', 'w'))\" && "
     "{kivrun} report u.json --text --json u2.json --junit u.xml > u.txt; "
     "grep -q 'got 18446744073709551615' u.txt && grep -q '\"actual\": 18446744073709551615' u2.json && "
     "grep -q 'got 18446744073709551615' u.xml && ! grep -q 'got -' u.txt u.xml; }",
     0, ""},
    // A refused merge names the file it refused and leaves nothing behind.
    {"MergeOfABadThresholdNamesItsFileAndLeavesNoTemporary",
     "{ cd {dir} && {kivrun} run {lib} {suite} -q --fail-under total=10 --json t.json >/dev/null && "
     "python3 -c \"import json; d = json.load(open('t.json')); d['thresholds'][0]['criterion'] = 'mcdc'; "
     "json.dump(d, open('t.json', 'w'))\" && {kivrun} merge t.json -o tm.json; c=$?; "
     "test ! -e tm.json && ! ls | grep -q '^tm.json'; exit $((c + $?)); }",
     2, "t.json: not a kivrun result (thresholds[0] names criterion 'mcdc', of which it measured nothing)"},
    // A merge killed while writing (here by the file size limit) leaves the old
    // output as it was and no temporary beside it.
    {"MergeKilledWhileWritingLeavesNoTemporary",
     "{ cd {dir} && {kivrun} run {lib} {suite} -q --json k.json >/dev/null && echo old > km.json && "
     "(ulimit -f 16; exec {kivrun} merge k.json -o km.json); test $? -gt 128 && grep -qx old km.json && "
     "! ls | grep -q '^km\\.json\\.'; }",
     0, ""},
    // merge and report never write over what they read: a result or a catalog
    // by its own name, a link or a hard link, nor a folder that holds one.
#define KIV_KEPT_INPUT(setup, command, input)                                                                      \
    "{ cd {dir} && {kivrun} run {lib} {suite} -q --json in.json >/dev/null && " setup " && cp " input             \
    " kept.copy && {kivrun} " command "; c=$?; cmp -s " input " kept.copy; exit $((c + $?)); }"
    {"MergeOverOneOfItsResultsIsRefused",
     KIV_KEPT_INPUT("cp in.json in2.json", "merge in2.json in.json -o in.json", "in.json"), 2,
     "-o in.json: that is an input of the merge (in.json)"},
    {"MergeThroughALinkToAResultIsRefused",
     KIV_KEPT_INPUT("ln -sfn in.json ln.json", "merge in.json -o ln.json", "in.json"), 2,
     "-o ln.json: that is an input of the merge (in.json)"},
    {"ReportOverItsResultByAHardLinkIsRefused",
     KIV_KEPT_INPUT("ln -f in.json hard.json", "report in.json --lcov hard.json", "in.json"), 2,
     "--lcov hard.json: that is an input of the report (in.json)"},
    {"ReportOverItsCatalogIsRefused",
     KIV_KEPT_INPUT("L={lib} && cp ${L%.so}.catalog.json c.json", "report in.json --catalog c.json --cobertura c.json",
                    "c.json"),
     2, "--cobertura c.json: that is an input of the report (c.json)"},
    {"ReportHtmlOverTheFolderOfItsResultIsRefused",
     KIV_KEPT_INPUT("mkdir -p r && cp in.json r/in.json", "report r/in.json --source-root {root} --html r",
                    "r/in.json"),
     2, "--html r: holds r/in.json, an input of the report; not replaced"},
    {"RunHtmlOverTheFolderOfItsSuiteIsRefused",
     KIV_KEPT_INPUT("mkdir -p s && cp {suite} s/s.csv", "run {lib} s/s.csv --html s", "s/s.csv"), 2,
     "--html s: holds s/s.csv, an input of the run; not replaced"},
    {"RunHtmlOverTheFolderOfASourceItShowsIsRefused",
     KIV_KEPT_INPUT("mkdir -p sr/examples/units && cp {root}/examples/units/seat_heating_control.c sr/examples/units/",
                    "run {lib} {suite} -q --source-root sr --html sr/examples", "sr/examples/units/seat_heating_control.c"),
     2, "--html sr/examples: holds sr/examples/units/seat_heating_control.c, a source the HTML report shows; not replaced"},
#undef KIV_KEPT_INPUT
    // One suite named by an absolute and a relative path is one suite: its cases are not counted twice.
    {"MergeOfOneSuiteByTwoPathsRefusesCasesSeenTwice",
     "{ cd {dir} && {kivrun} run {lib} {suite} -q --json m1.json >/dev/null; "
     "{kivrun} run {lib} $(basename {suite}) -q --json m2.json >/dev/null; {kivrun} merge m1.json m2.json -o m.json; }",
     2, "is in both m1.json and m2.json"},
    // One suite named twice on a command line is refused, not run twice.
    {"OneSuiteNamedTwiceIsRefused", "{ cd {dir} && {kivrun} run {lib} {suite} ./$(basename {suite}); }", 2,
     "the same suite file as {suite}; name each suite once"},
    // Every file kivrun reads has a limit: an endless, binary or huge one is
    // refused with a message, a header of a million unknown columns quickly
    // and in a few lines, a case name of megabytes by its size.
    {"SuiteFromDevZeroIsRefused", "{kivrun} run {lib} /dev/zero", 2, "/dev/zero: is a binary file"},
    {"JustificationFromDevZeroIsRefused", "{kivrun} run {lib} {suite} --justify /dev/zero", 2,
     "/dev/zero: is a binary file"},
    {"ResultFromDevZeroIsRefused", "{kivrun} report /dev/zero", 2, "/dev/zero: not a kivrun result (a binary file)"},
    {"CatalogFromDevZeroIsRefused", "{kivrun} info {lib} --catalog /dev/zero", 2,
     "catalog /dev/zero is malformed: a binary file, or larger than 1 GiB"},
    {"SuiteBeyondTheLimitIsRefused", "{ truncate -s 1100M {dir}/big.csv && {kivrun} run {lib} {dir}/big.csv; }", 2,
     "big.csv: the suite file is larger than 1 GiB, the most kivrun reads"},
    {"ResultBeyondTheLimitIsRefused", "{ truncate -s 1100M {dir}/big.json && {kivrun} report {dir}/big.json; }", 2,
     "big.json: not a kivrun result (larger than 1 GiB, the most kivrun reads)"},
#define KIV_WIDE_HEADER(columns)                                                                                   \
    "{ python3 -c \"print('case,scope,' + ','.join('x%d' % i for i in range(" columns ")))\" > {dir}/wide.csv && "  \
    "timeout 20 {kivrun} run {lib} {dir}/wide.csv 2> {dir}/wide.err; c=$?; "                                          \
    "test $(wc -l < {dir}/wide.err) -le 60 || c=9; cat {dir}/wide.err >&2; exit $c; }"
    {"ManyUnknownColumnsAreRefusedQuicklyInFewLines", KIV_WIDE_HEADER("60000"), 2, "unknown column 'x0'"},
    {"AMillionColumnsAreRefusedByTheirCount", KIV_WIDE_HEADER("1000000"), 2,
     "wide.csv:1:1: a header of 1000002 columns; at most 65536"},
#undef KIV_WIDE_HEADER
    {"ACaseNameOfMegabytesIsRefused",
     "{ python3 -c \"print('case,scope\\n' + 'n' * 4194304 + ',955')\" > {dir}/long.csv && "
     "{kivrun} run {lib} {dir}/long.csv; }",
     2, "long.csv:2:1: a case name of 4194304 bytes; at most 1024"},
    // The HTML folder is replaced whole: nothing of the old one, no temporary beside it.
    {"HtmlFolderIsReplacedWhole",
     "{ rm -rf {dir}/h && {kivrun} run {lib} {suite} -q --html {dir}/h >/dev/null && echo old > {dir}/h/stale.html && "
     "{kivrun} run {lib} {suite} -q --html {dir}/h >/dev/null "
     "&& test -e {dir}/h/index.html && test ! -e {dir}/h/stale.html && ! ls {dir} | grep -q '^h\\.'; }",
     0, ""},
    // Only a folder kivrun wrote is replaced: one of other files, or a link to
    // one, is refused and kept as it was.
#define KIV_FOREIGN_FOLDER(target)                                                                                 \
    "{ cd {dir} && rm -rf u ul && mkdir -p u/sub && echo n > u/notes.txt && echo t > u/sub/thesis.tex && "        \
    "ln -s u ul && {kivrun} run {lib} {suite} -q --html " target "; c=$?; "                                           \
    "grep -qx n u/notes.txt && grep -qx t u/sub/thesis.tex; exit $((c + $?)); }"
    {"HtmlOverAFolderOfOtherFilesIsRefused", KIV_FOREIGN_FOLDER("u"), 2,
     "--html u: holds u/"},
    {"HtmlThroughALinkToAFolderOfOtherFilesIsRefused", KIV_FOREIGN_FOLDER("ul/"), 2,
     "and is no report kivrun wrote (it has no .kivrun-report); not replaced"},
#undef KIV_FOREIGN_FOLDER
    // The temporary folder of a killed report (its process gone) is removed by the next.
    {"HtmlRemovesTheTemporaryOfAKilledRun",
     "{ cd {dir} && rm -rf k k.tmp* && { true & p=$!; wait $p; } && mkdir -p k.tmp$p && touch k.tmp$p/.kivrun-report && "
     "mkdir -p k.tmp1x && {kivrun} run {lib} {suite} -q --html k >/dev/null && test -e k/index.html && "
     "test ! -e k.tmp$p && test -d k.tmp1x; }",
     0, ""},
    // generate writes through the one report writer: never over an input, in place
    // on a pipe, through a link to its target.
    {"GenerateOverItsJustificationIsRefused",
     "{kivrun} generate {lib} -o {suite} --justify {suite} --force --max-executions 50", 2,
     "-o {suite}: that is an input of the run"},
    {"GenerateOverTheLibraryIsRefused", "{kivrun} generate {lib} -o {lib} --force --max-executions 50", 2,
     "-o {lib}: that is an input of the run"},
    {"GenerateIntoAPipeKeepsThePipe",
     "rm -f {dir}/g.fifo && mkfifo {dir}/g.fifo && { cat {dir}/g.fifo > {dir}/g.out & } && "
     "{kivrun} generate {lib} -o {dir}/g.fifo --force --max-executions 50 >/dev/null; c=$?; wait; "
     "test -p {dir}/g.fifo && grep -q '^case' {dir}/g.out && ! ls {dir} | grep -q 'g.fifo.tmp'; exit $((c / 2 + $?))",
     0, ""},
    {"GenerateThroughALinkUpdatesItsTarget",
     "echo old > {dir}/target.csv && ln -sfn {dir}/target.csv {dir}/link.csv && "
     "{kivrun} generate {lib} -o {dir}/link.csv --force --max-executions 50 >/dev/null; test $? -lt 2 && "
     "test -L {dir}/link.csv && grep -q '^case' {dir}/target.csv",
     0, ""},
};

std::string expand(std::string s, const std::string& suite) {
    const std::string dir = kivtest::write_file(".keep", "").substr(0, kivtest::write_file(".keep", "").rfind('/'));
    for (auto [key, value] : {std::pair<std::string, std::string>{"{lib}", kLib}, {"{suite}", suite}, {"{dir}", dir},
                                {"{root}", std::string(KIV_SOURCE_DIR)}})
        for (std::size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    return s;
}

class KivrunCommandLine : public testing::TestWithParam<Invocation> {};

TEST_P(KivrunCommandLine, ExitsWithItsCodeAndSaysWhy) {
    const Invocation& inv = GetParam();
    const std::string suite = kivtest::write_file(std::string(inv.name) + ".csv", inv.suite ? inv.suite : "");
    const auto r = kivtest::kivrun(expand(inv.args, suite));
    EXPECT_EQ(r.code, inv.code) << r.out << r.err;
    EXPECT_NE(r.out.find(expand(inv.out, suite)), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(expand(inv.err, suite)), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Invocations, KivrunCommandLine, testing::ValuesIn(kInvocations),
                         [](const testing::TestParamInfo<Invocation>& p) { return std::string(p.param.name); });

class KivrunOutputs : public testing::TestWithParam<OutputRow> {};

TEST_P(KivrunOutputs, FailWithTheirCodeAndLeaveTheInputsAlone) {
    const OutputRow& row = GetParam();
    const std::string suite = kivtest::write_file(std::string(row.name) + ".csv", kPassing);
    std::string command = expand(row.command, suite);
    for (std::size_t at; (at = command.find("{kivrun}")) != std::string::npos;)
        command.replace(at, 8, KIVRUN_PATH);
    const auto r = kivtest::run_command(command);
    EXPECT_EQ(r.code, row.code) << r.out << r.err;
    EXPECT_NE(r.err.find(expand(row.err, suite)), std::string::npos) << r.err;
    EXPECT_EQ(kivtest::read_file(suite), kPassing);
}

INSTANTIATE_TEST_SUITE_P(Outputs, KivrunOutputs, testing::ValuesIn(kOutputRows),
                         [](const testing::TestParamInfo<OutputRow>& p) { return std::string(p.param.name); });

// The text, JSON and JUnit reports of the example suite and of one that
// fails on purpose, against golden files in data/ (times, dates, build
// identities and folders normalised); after an intended change regenerate
// them with KIV_GENGOLDEN=1 ctest -R KivrunGoldenReports and review the diff.
struct GoldenRun {
    const char* name;
    std::string suite;
    int code;
};

class KivrunGoldenReports : public testing::TestWithParam<GoldenRun> {};

TEST_P(KivrunGoldenReports, MatchTheirGoldenFiles) {
    const GoldenRun& g = GetParam();
    const std::string json = kivtest::write_file(std::string(g.name) + ".json", "");
    const std::string junit = kivtest::write_file(std::string(g.name) + ".xml", "");
    const auto run = kivtest::kivrun("run " + kLib + " " + g.suite + " --json " + json + " --junit " + junit);
    ASSERT_EQ(run.code, g.code) << run.err;
    kivtest::expect_golden(run.out, std::string(g.name) + ".txt");
    kivtest::expect_golden(kivtest::read_file(json), std::string(g.name) + ".json");
    kivtest::expect_golden(kivtest::read_file(junit), std::string(g.name) + ".junit.xml");
}

INSTANTIATE_TEST_SUITE_P(Suites, KivrunGoldenReports,
                         testing::Values(GoldenRun{"seat_heater", kExample, 0},
                                         GoldenRun{"failing", std::string(KIV_SOURCE_DIR) + "/tests/host/data/failing.csv", 1}),
                         [](const testing::TestParamInfo<GoldenRun>& p) { return std::string(p.param.name); });

TEST(KivrunReports, JsonHoldsCoverageTraceabilityAndTheFirstMismatch) {
    const std::string suite = kivtest::write_file("json.csv", kFailing);
    const std::string json = kivtest::write_file("r.json", "");
    const auto r = kivtest::kivrun("run " + kLib + " " + suite + " -q --json " + json);
    ASSERT_EQ(r.code, 1) << r.err;
    const auto j = nlohmann::json::parse(kivtest::read_file(json));
    EXPECT_EQ(j["summary"]["cases"], 2);
    EXPECT_EQ(j["summary"]["failed"], 1);
    EXPECT_EQ(j["coverage"]["total"]["total"], 176);
    EXPECT_EQ(j["coverage"]["criteria"].size(), 8u);
    ASSERT_EQ(j["goals"].size(), 176u);
    int reached = 0;
    for (const auto& g : j["goals"]) {
        SCOPED_TRACE(g.dump());
        ASSERT_TRUE(g.contains("meaning"));
        if (!g["reached"].get<bool>()) {
            EXPECT_FALSE(g.contains("first"));
            continue;
        }
        ++reached;
        EXPECT_EQ(g["first"]["case"], "press");  // the second case reaches nothing new first
        EXPECT_GE(g["first"]["step"], 1);
        EXPECT_EQ(g["first"]["line"], 1 + g["first"]["step"].get<int>());
    }
    EXPECT_EQ(reached, j["coverage"]["total"]["reached"]);
    const auto& wrong = j["cases"][1];
    EXPECT_EQ(wrong["status"], "failed");
    EXPECT_EQ(wrong["failed_checks"][0], nlohmann::json({{"step", 2},
                                                       {"line", 5},
                                                       {"output", "Wrapper_seat_heating_control.LEDFeedback[0]"},
                                                       {"expected", "0"},
                                                       {"actual", 1}}));
}

TEST(KivrunReports, JUnitIsValidXmlWithEachCaseAndEachThresholdAsATestcase) {
    const std::string suite = kivtest::write_file("junit.csv", std::string(kFailing) + "\"a <&> name\",955,,,,,,\n");
    const std::string xml = kivtest::write_file("r.xml", "");
    const auto r =
        kivtest::kivrun("run " + kLib + " " + suite + " -q --junit " + xml + " --fail-under total=100 --fail-under DC=1");
    ASSERT_EQ(r.code, 1) << r.err;
    const auto lint = kivtest::run_command("xmllint --noout " + xml);
    EXPECT_EQ(lint.code, 0) << lint.err;
    // Read as CI tools read it: every suite's tests and failures, the coverage suite last.
    const auto parsed = kivtest::run_command(
        "/usr/bin/python3 -c \"import sys, junitparser as j; x = j.JUnitXml.fromfile(sys.argv[1]); "
        "print(' '.join(f'{s.name.rsplit(chr(47), 1)[-1]}:{s.tests}/{s.failures}/{s.errors}' for s in x))\" " +
        xml);
    EXPECT_EQ(parsed.out, "junit.csv:3/1/0 coverage:2/1/0\n") << parsed.err;
    const std::string x = kivtest::read_file(xml);
    auto count = [&](const std::string& what) {
        int n = 0;
        for (std::size_t at = x.find(what); at != std::string::npos; at = x.find(what, at + 1))
            ++n;
        return n;
    };
    // Three cases, then the coverage suite with one testcase per threshold: the shortfall is a failure.
    EXPECT_EQ(count("<testcase "), 5);
    EXPECT_EQ(count("<failure "), 2);
    EXPECT_NE(x.find("name=\"a &lt;&amp;&gt; name\""), std::string::npos);
    EXPECT_NE(x.find("<testsuites name=\"kivrun\" tests=\"5\" failures=\"2\" errors=\"0\""), std::string::npos);
    EXPECT_NE(x.find("total covered 65.3% (115/176), required 100.0%"), std::string::npos) << x;
}

struct Isolation {
    const char* name;
    kiv::Isolation isolation;
    int workers;
};

class KivrunExampleSuite : public testing::TestWithParam<Isolation> {};

// Goals no input can reach: the false outcomes and off-by-one boundaries of
// the wrapper's fixed counter tests, boundaries below 0 or above 1 of
// unsigned and boolean operands, the stage above 3, and both cast ranges.
const std::set<int> kUnreachable = {15, 17, 19, 23, 29, 30, 32,  34,  35,  37,  39, 40,
                                    42, 44, 47, 50, 53, 54, 142, 149, 154, 155, 156};

TEST_P(KivrunExampleSuite, PassesAndReachesEveryReachableGoal) {
    kiv::Target target(kLib);
    const kiv::Plan plan = kiv::load_suites({kExample}, target.schema(), {});
    kiv::RunOptions o;
    o.isolation = GetParam().isolation;
    o.workers = GetParam().workers;
    const auto r = kiv::run(target, plan, o);
    for (std::size_t c = 0; c < r.cases.size(); ++c)
        EXPECT_EQ(r.cases[c].status, kiv::CaseStatus::passed) << plan.cases[c].name;
    std::set<int> unreached;
    for (std::size_t g = 0; g < r.goals.size(); ++g)
        if (r.goals[g].case_index < 0) unreached.insert(target.schema().goals[g].info->goal);
    EXPECT_EQ(unreached, kUnreachable);
}

TEST(KivrunExampleSuiteAgreement, SnapshotAndForkIsolationGiveTheSameTrace) {
    kiv::Target target(kLib);
    const kiv::Plan plan = kiv::load_suites({kExample}, target.schema(), {});
    const auto a = kiv::run(target, plan, {kiv::Isolation::snapshot, 1});
    const auto b = kiv::run(target, plan, {kiv::Isolation::fork, 2});
    for (std::size_t g = 0; g < a.goals.size(); ++g) {
        EXPECT_EQ(a.goals[g].case_index, b.goals[g].case_index) << g;
        EXPECT_EQ(a.goals[g].step, b.goals[g].step) << g;
    }
}

const Isolation kIsolations[] = {{"Snapshot", kiv::Isolation::snapshot, 1},
                                 {"SnapshotTwoWorkers", kiv::Isolation::snapshot, 2},
                                 {"Fork", kiv::Isolation::fork, 1}};
INSTANTIATE_TEST_SUITE_P(Isolations, KivrunExampleSuite, testing::ValuesIn(kIsolations),
                         [](const testing::TestParamInfo<Isolation>& p) { return std::string(p.param.name); });

}  // namespace
