// The result's JSON, written and read back in one place: the cases, the bulk
// of a large result, with simdjson and a writer of their own (a merge of 64
// shards reads some 200 MB, which a DOM of nlohmann nodes takes seconds to
// build and free); the goals, MC/DC and the run's description with nlohmann.
#include "formats/json/result_json.h"
#include "formats/json/trace_json.h"

#include "catalog/catalog.h"
#include "formats/writers.h"
#include "suite/select.h"

#include "error.h"

#include "suite/csv.h"
#include "suite/value.h"

#include <simdjson.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <algorithm>
#include <functional>
#include <limits>
#include <thread>
#include <utility>

namespace kiv {

namespace {

namespace dom = simdjson::dom;

// Reads the rest of the stream into `buf`, followed by the padding simdjson
// wants behind the text; returns the text's length. A file goes straight into
// the buffer, which a thread keeps for its next document. Throws Error naming
// `what` for a text beyond kMaxInputBytes or one holding a NUL (no JSON does):
// an endless or binary file ends in a message, not an exhausted memory.
std::size_t slurp(std::istream& in, std::vector<char>& buf, const std::string& what) {
    const auto refuse = [&](const std::string& why) { throw Error(what + ": not a kivrun result (" + why + ")"); };
    const std::string too_big = std::string("larger than ") + kMaxInputText + ", the most kivrun reads";
    std::size_t size = 0;
    const auto start = in.tellg();
    if (start >= 0 && in.seekg(0, std::ios::end)) {
        const auto expected = static_cast<std::size_t>(in.tellg() - start);
        if (expected > kMaxInputBytes) refuse(too_big);
        in.seekg(start);
        buf.resize(std::max(buf.size(), expected + 1 + simdjson::SIMDJSON_PADDING));
        in.read(buf.data(), static_cast<std::streamsize>(expected + 1));  // one more: a file that grew is read on
        size = static_cast<std::size_t>(in.gcount());
    }
    in.clear();
    // Whatever is left: a stream that cannot seek, or a file that grew.
    while (in) {
        if (size > kMaxInputBytes) refuse(too_big);
        buf.resize(std::max(buf.size(), size + 65536 + simdjson::SIMDJSON_PADDING));
        in.read(buf.data() + size, 65536);
        const auto n = static_cast<std::size_t>(in.gcount());
        if (std::memchr(buf.data() + size, '\0', n)) refuse("a binary file");
        size += n;
    }
    std::memset(buf.data() + size, 0, simdjson::SIMDJSON_PADDING);
    return size;
}

// What a thread keeps between documents: a parser's buffers and the text
// buffer grow to the largest document read, and a merge reads dozens of
// documents of one size. A document holds its parser until it goes.
struct ThreadBuffers {
    std::vector<char> text;
    std::vector<std::unique_ptr<simdjson::dom::parser>> idle;
};
ThreadBuffers& thread_buffers() {
    thread_local ThreadBuffers buffers;
    return buffers;
}

class CaseReader {
public:
    explicit CaseReader(const std::string& what) : what_(what) {}

    [[noreturn]] void bad(const char* key, const char* problem) const {
        throw Error(what_ + ": not a kivrun result (" + (problem ? std::string("'") + key + "' " + problem
                                                                 : std::string("missing '") + key + "'") +
                    ")");
    }

    dom::element get(dom::object o, const char* key) const {
        dom::element e;
        if (o[key].get(e)) bad(key, nullptr);
        return e;
    }

    template <class Int>
    Int integer(dom::element e, const char* key) const {
        int64_t v = 0;
        if (e.get_int64().get(v) || v < static_cast<int64_t>(std::numeric_limits<Int>::min()) ||
            v > static_cast<int64_t>(std::numeric_limits<Int>::max()))
            bad(key, "has the wrong type");
        return static_cast<Int>(v);
    }
    template <class Int>
    Int integer(dom::object o, const char* key) const {
        return integer<Int>(get(o, key), key);
    }

    std::string string(dom::element e, const char* key) const {
        std::string_view s;
        if (e.get_string().get(s)) bad(key, "has the wrong type");
        return std::string(s);
    }

    dom::object object(dom::element e, const char* key) const {
        dom::object o;
        if (e.get_object().get(o)) bad(key, "has the wrong type");
        return o;
    }

    dom::array array(dom::element e, const char* key) const {
        dom::array a;
        if (e.get_array().get(a)) bad(key, "has the wrong type");
        return a;
    }

    // One pass over the case's fields rather than a search per field: a
    // merge reads some 640,000 cases.
    CaseResult read(dom::element e) const {
        CaseResult c;
        enum : unsigned { suite = 1, name = 2, line = 4, step_lines = 8, checks = 16, status = 32, mismatches = 64 };
        unsigned seen = 0;
        std::string_view status_text;
        bool has_fault = false;
        for (dom::key_value_pair kv : object(e, "cases")) {
            const std::string_view k = kv.key;
            const dom::element v = kv.value;
            if (k == "suite") {
                c.suite = string(v, "suite"), seen |= suite;
            } else if (k == "name") {
                c.name = string(v, "name"), seen |= name;
            } else if (k == "line") {
                c.line = integer<int32_t>(v, "line"), seen |= line;
            } else if (k == "step_lines") {
                const dom::array lines = array(v, "step_lines");
                c.step_lines.reserve(lines.size());
                for (dom::element l : lines)
                    c.step_lines.push_back(integer<int32_t>(l, "step_lines"));
                seen |= step_lines;
            } else if (k == "checks") {
                c.checks = integer<uint32_t>(v, "checks"), seen |= checks;
            } else if (k == "status") {
                if (v.get_string().get(status_text)) bad("status", "has the wrong type");
                seen |= status;
            } else if (k == "mismatches") {
                c.mismatch_count = integer<uint32_t>(v, "mismatches"), seen |= mismatches;
            } else if (k == "seconds") {
                if (v.get_double().get(c.seconds)) bad("seconds", "has the wrong type");
            } else if (k == "shard") {
                c.shard = integer<int32_t>(v, "shard");
            } else if (k == "unique_goals") {
                for (dom::element g : array(v, "unique_goals"))
                    c.unique_goals.push_back(integer<int32_t>(g, "unique_goals"));
            } else if (k == "failed_checks") {
                for (dom::element m : array(v, "failed_checks")) {
                    const dom::object mo = object(m, "failed_checks");
                    Mismatch mm{integer<int32_t>(mo, "step"), integer<int32_t>(mo, "line"),
                                string(get(mo, "output"), "output"), string(get(mo, "expected"), "expected")};
                    const dom::element actual = get(mo, "actual");
                    double floating = 0;
                    uint64_t beyond = 0;  // an unsigned value above int64_t's range, the only kind stored as uint64
                    if (actual.type() == dom::element_type::DOUBLE && !actual.get_double().get(floating))
                        mm.actual_text = value_text(ValueKind::floating, raw_of(floating));
                    else if (actual.type() == dom::element_type::UINT64 && !actual.get_uint64().get(beyond))
                        mm.actual_text = value_text(ValueKind::unsigned_int, beyond), mm.actual = static_cast<int64_t>(beyond);
                    else
                        mm.actual = integer<int64_t>(actual, "actual");
                    if (dom::element name; !mo["actual_name"].get(name)) mm.actual_name = string(name, "actual_name");
                    c.mismatches.push_back(std::move(mm));
                }
            } else if (k == "fault") {
                has_fault = true;
                const dom::object f = object(v, "fault");
                c.fault_step = integer<int32_t>(f, "step");
                c.signal = string(get(f, "signal"), "signal");
                if (get(f, "goals_kept").get_bool().get(c.goals_kept)) bad("goals_kept", "has the wrong type");
            }
        }
        constexpr std::pair<unsigned, const char*> kRequired[] = {
            {suite, "suite"},   {name, "name"},     {line, "line"},          {step_lines, "step_lines"},
            {checks, "checks"}, {status, "status"}, {mismatches, "mismatches"}};
        for (const auto& [bit, key] : kRequired)
            if (!(seen & bit)) bad(key, nullptr);
        const auto v = verdict_named(std::string(status_text));
        if (!v) throw Error(what_ + ": not a kivrun result (unknown case status)");
        c.verdict = *v;
        check_agrees(c, has_fault);
        return c;
    }

    // A case's fields must tell one story: a report, merge or diff of one
    // that does not would pass what failed, or fail what passed.
    void check_agrees(const CaseResult& c, bool has_fault) const {
        const auto refuse = [&](const std::string& why) {
            throw Error(what_ + ": not a kivrun result (case " + printable(c.id()) + ": " + why + ")");
        };
        const std::string status = std::string("'status' is ") + verdict_name(c.verdict);
        const std::string count = "'mismatches' is " + std::to_string(c.mismatch_count);
        if (c.mismatch_count > c.checks) refuse(count + ", more than 'checks' (" + std::to_string(c.checks) + ")");
        if (c.mismatches.size() > c.mismatch_count)
            refuse("'failed_checks' lists " + std::to_string(c.mismatches.size()) + ", but " + count);
        const bool faulted = c.verdict == Verdict::crashed || c.verdict == Verdict::timed_out;
        if (c.verdict == Verdict::passed && c.mismatch_count > 0) refuse(count + ", but " + status);
        if (c.verdict == Verdict::failed && c.mismatch_count == 0) refuse(count + ", but " + status);
        if (c.verdict == Verdict::not_run && c.checks > 0) refuse("'checks' is " + std::to_string(c.checks) + ", but " + status);
        if (faulted != has_fault) refuse(std::string(has_fault ? "'fault' is given" : "'fault' is missing") + ", but " + status);
    }

    // A goal of the "goals" list, whose first reach names one of `cases`
    // cases; the fields after id and criterion may be missing in a result
    // written without a catalog.
    GoalResult read_goal(dom::element e, std::size_t cases) const {
        const dom::object o = object(e, "goals");
        GoalResult g;
        g.id = integer<int32_t>(o, "id");
        g.criterion = string(get(o, "criterion"), "criterion");
        const auto text = [&](const char* key, std::string& to) {
            dom::element v;
            if (!o[key].get(v)) to = string(v, key);
        };
        const auto number = [&](const char* key, int32_t& to) {
            dom::element v;
            if (!o[key].get(v)) to = integer<int32_t>(v, key);
        };
        number("goal", g.goal);
        text("kind", g.kind), text("record", g.record), text("field", g.field), text("function", g.function);
        text("meaning", g.meaning), text("file", g.file), text("decision", g.decision);
        number("line", g.line), number("column", g.column);
        dom::element v;
        if (!o["count"].get(v)) {
            const int64_t n = integer<int64_t>(v, "count");
            if (n < 0) throw Error(what_ + ": not a kivrun result (goal " + std::to_string(g.id) + " counts " + std::to_string(n) + ")");
            g.count = static_cast<uint64_t>(n);
        }
        if (!o["lines"].get(v))
            for (dom::element range : array(v, "lines")) {
                const dom::array pair = array(range, "lines");
                if (pair.size() != 2) throw Error(what_ + ": not a kivrun result (goal " + std::to_string(g.id) + ": a range of 'lines' is no [first, last])");
                const int32_t first = integer<int32_t>(pair.at(0).value_unsafe(), "lines");
                const int32_t last = integer<int32_t>(pair.at(1).value_unsafe(), "lines");
                if (first < 1 || last < first) throw Error(what_ + ": not a kivrun result (goal " + std::to_string(g.id) + ": lines " + std::to_string(first) + " to " + std::to_string(last) + ")");
                g.lines.emplace_back(first, last);
            }
        if (!o["first"].get(v)) {
            const dom::object first = object(v, "first");
            g.first_case = integer<int64_t>(first, "case_index");
            g.first_step = integer<int32_t>(first, "step");
            if (g.first_case < 0 || static_cast<std::size_t>(g.first_case) >= cases)
                throw Error(what_ + ": not a kivrun result (goal " + std::to_string(g.id) + " names no case)");
        }
        if (!o["justification"].get(v)) {
            const dom::object j = object(v, "justification");
            g.justification = Justified{string(get(j, "reason"), "reason"), string(get(j, "file"), "file"),
                                        integer<int32_t>(j, "line"), "", "", ""};
            for (auto [key, to] : {std::pair<const char*, std::string*>{"method", &g.justification->method},
                                   {"proof", &g.justification->proof},
                                   {"tool", &g.justification->tool}})
                if (dom::element x; !j[key].get(x)) *to = string(x, key);
        }
        if (!o["unknown"].get(v)) {
            const dom::object u = object(v, "unknown");
            g.unsettled = Unsettled{integer<uint32_t>(u, "not_within"), string(get(u, "why"), "why"),
                                    string(get(u, "file"), "file"), integer<int32_t>(u, "line")};
        }
        return g;
    }

private:
    const std::string& what_;
};

// ---- writing ----

// Text written through a raw cursor: a case is some thirty small pieces, and
// the checks std::string makes on every append cost more than the copying.
class TextBuffer {
public:
    void clear() { size_ = 0; }
    // Room for n more bytes at the returned cursor, valid until the next call.
    char* room(std::size_t n) {
        if (size_ + n > data_.size()) data_.resize(std::max(2 * data_.size(), size_ + n));
        return data_.data() + size_;
    }
    void commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.data()); }
    const char* data() const { return data_.data(); }
    std::size_t size() const { return size_; }

private:
    std::vector<char> data_;
    std::size_t size_ = 0;
};

template <std::size_t N>
void put(char*& p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    p += N - 1;
}

void put(char*& p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    p += text.size();
}

// At most 6 bytes a byte, quotes included for a text of 1 byte or more.
constexpr std::size_t kStringBound = 6;

void put_string(char*& p, const std::string& s) {
    const bool plain = std::all_of(s.begin(), s.end(), [](unsigned char ch) {
        return ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\';
    });
    if (plain) {
        *p++ = '"', put(p, s), *p++ = '"';
        return;
    }
    // Escapes, and bytes that are not UTF-8 replaced, as the rest of the file is written.
    put(p, nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

template <class T>
void put_number(char*& p, T v) {
    p = std::to_chars(p, p + 32, v).ptr;
}

// Bytes put_case writes at most for c.
std::size_t case_bound(const CaseResult& c) {
    std::size_t n = 512 + kStringBound * (c.suite.size() + c.name.size() + c.signal.size() + 2) +
                    24 * (c.step_lines.size() + c.unique_goals.size());
    for (const Mismatch& m : c.mismatches)
        n += 160 + kStringBound * (m.output.size() + m.expected.size() + m.actual_name.size() + 3);
    return n;
}

void put_case(TextBuffer& buf, const CaseResult& c, const std::vector<GoalResult>& goals) {
    char* const start = buf.room(case_bound(c));
    char* p = start;
    put(p, "{\"suite\": "), put_string(p, c.suite);
    put(p, ", \"name\": "), put_string(p, c.name);
    put(p, ", \"line\": "), put_number(p, c.line);
    put(p, ", \"status\": \""), put(p, verdict_name(c.verdict));
    put(p, "\", \"steps\": "), put_number(p, c.step_lines.size());
    put(p, ", \"step_lines\": [");
    for (std::size_t i = 0; i < c.step_lines.size(); ++i) {
        if (i) *p++ = ',';
        put_number(p, c.step_lines[i]);
    }
    put(p, "], \"checks\": "), put_number(p, c.checks);
    put(p, ", \"mismatches\": "), put_number(p, c.mismatch_count);
    // Four significant digits: a case's time is a measurement, not an identity.
    put(p, ", \"seconds\": "), p = std::to_chars(p, p + 32, c.seconds, std::chars_format::general, 4).ptr;
    if (c.shard >= 0) put(p, ", \"shard\": "), put_number(p, c.shard);
    if (!c.unique_goals.empty()) {
        // By variable ID, as goals are named everywhere else in the file.
        put(p, ", \"unique_goals\": [");
        for (std::size_t i = 0; i < c.unique_goals.size(); ++i) {
            if (i) *p++ = ',';
            put_number(p, goals.at(static_cast<std::size_t>(c.unique_goals[i])).id);
        }
        *p++ = ']';
    }
    put(p, ", \"failed_checks\": [");
    for (std::size_t i = 0; i < c.mismatches.size(); ++i) {
        const Mismatch& m = c.mismatches[i];
        put(p, i ? ", {\"step\": " : "{\"step\": "), put_number(p, m.step);
        put(p, ", \"line\": "), put_number(p, m.line);
        put(p, ", \"output\": "), put_string(p, m.output);
        put(p, ", \"expected\": "), put_string(p, m.expected);
        put(p, ", \"actual\": ");
        if (m.actual_text.empty())
            put_number(p, m.actual);
        else
            put(p, m.actual_text);  // a finite double's shortest text, or an unsigned beyond int64_t: a JSON number
        if (!m.actual_name.empty()) put(p, ", \"actual_name\": "), put_string(p, m.actual_name);
        *p++ = '}';
    }
    *p++ = ']';
    if (c.verdict == Verdict::crashed || c.verdict == Verdict::timed_out) {
        const bool known = c.fault_step >= 1 && c.fault_step <= static_cast<int32_t>(c.step_lines.size());
        put(p, ", \"fault\": {\"step\": "), put_number(p, c.fault_step);
        put(p, ", \"line\": "), put_number(p, known ? c.step_lines[static_cast<std::size_t>(c.fault_step - 1)] : 0);
        put(p, ", \"signal\": "), put_string(p, c.signal);
        put(p, ", \"goals_kept\": "), put(p, c.goals_kept ? std::string_view("true") : std::string_view("false"));
        *p++ = '}';
    }
    *p++ = '}';
    buf.commit(p);
}

}  // namespace

struct ResultDocument::Parsed {
    std::unique_ptr<dom::parser> parser;
    dom::element root;
    bool has_cases = false, has_goals = false;
    dom::element cases, goals;
};

ResultDocument::ResultDocument(std::istream& in, const std::string& what)
    : parsed_(std::make_unique<Parsed>()), what_(what) {
    ThreadBuffers& buffers = thread_buffers();
    const std::size_t size = slurp(in, buffers.text, what);
    Parsed& p = *parsed_;
    if (buffers.idle.empty()) {
        p.parser = std::make_unique<dom::parser>();
    } else {
        p.parser = std::move(buffers.idle.back());
        buffers.idle.pop_back();
    }
    // The parser keeps its own copy of the document's strings; the text
    // buffer is free for the next document.
    if (p.parser->parse(buffers.text.data(), size, false).get(p.root))
        throw Error(what + ": not a kivrun result (not JSON)");
    dom::object root;
    if (p.root.get_object().get(root)) {
        rest_ = nlohmann::json::parse(simdjson::minify(p.root));
        return;
    }
    rest_ = nlohmann::json::object();
    for (dom::key_value_pair kv : root) {
        // The two long lists are read from the parsed document directly.
        if (kv.key == "cases") {
            p.has_cases = true, p.cases = kv.value;
            continue;
        }
        if (kv.key == "goals") {
            p.has_goals = true, p.goals = kv.value;
            continue;
        }
        rest_[std::string(kv.key)] = nlohmann::json::parse(simdjson::minify(kv.value));
    }
}

ResultDocument::~ResultDocument() {
    if (parsed_->parser) thread_buffers().idle.push_back(std::move(parsed_->parser));
}

namespace {

// Each element of a list the document must hold, read by `read`.
template <class Read>
auto read_list(const CaseReader& reader, bool present, dom::element list, const char* key, Read read) {
    if (!present) reader.bad(key, nullptr);
    const dom::array items = reader.array(list, key);
    std::vector<decltype(read(dom::element()))> out;
    out.reserve(items.size());
    for (dom::element e : items)
        out.push_back(read(e));
    return out;
}

}  // namespace

std::vector<GoalResult> ResultDocument::goals(std::size_t cases) const {
    const CaseReader reader(what_);
    return read_list(reader, parsed_->has_goals, parsed_->goals, "goals",
                     [&](dom::element e) { return reader.read_goal(e, cases); });
}

std::vector<CaseResult> ResultDocument::cases() const {
    const CaseReader reader(what_);
    return read_list(reader, parsed_->has_cases, parsed_->cases, "cases",
                     [&](dom::element e) { return reader.read(e); });
}

void write_cases_json(const std::vector<CaseResult>& cases, const std::vector<GoalResult>& goals, std::ostream& out,
                      int indent) {
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    // Formatted in blocks, a window of blocks at a time on every core, and
    // written in order: formatting is most of writing a merged run's result.
    constexpr std::size_t kBlock = 16384;
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<TextBuffer> blocks(std::min(cores, (cases.size() + kBlock - 1) / kBlock));
    auto format = [&](std::size_t first, TextBuffer& buf) {
        buf.clear();
        for (std::size_t i = first; i < std::min(first + kBlock, cases.size()); ++i) {
            char* p = buf.room(2 + pad.size());
            put(p, i ? std::string_view(",\n") : std::string_view("\n")), put(p, pad);
            buf.commit(p);
            put_case(buf, cases[i], goals);
        }
    };
    out << '[';
    for (std::size_t window = 0; window < cases.size(); window += blocks.size() * kBlock) {
        std::vector<std::thread> threads;
        for (std::size_t b = 1; b < blocks.size(); ++b)
            threads.emplace_back(format, window + b * kBlock, std::ref(blocks[b]));
        format(window, blocks[0]);
        for (auto& t : threads)
            t.join();
        for (const auto& b : blocks)
            out.write(b.data(), static_cast<std::streamsize>(b.size()));
    }
    out << (cases.empty() ? "]" : "\n" + pad.substr(0, pad.size() >= 2 ? pad.size() - 2 : 0) + "]");
}

// ---- The whole result ----

namespace {

using nlohmann::json;

constexpr const char* kMarker = "kivrun result";
constexpr const char* kCasesMark = "kivrun:cases";
constexpr int kFormat = 1;

json coverage_json(const CoverageRow& r) {
    return {{"criterion", r.criterion},   {"reached", r.reached},
            {"justified", r.justified},   {"total", r.total},
            {"percent", r.percent()},     {"covered_percent", r.covered_percent()},
            {"proven", r.proven},         {"justified_by_hand", r.justified - r.proven},
            {"unknown", r.unknown()}};
}

json goal_json(const Result& r, const GoalResult& g) {
    json j{{"id", g.id},
           {"criterion", g.criterion},
           {"reached", g.reached()},
           {"status", g.reached() ? "reached" : g.justification ? "justified" : "open"}};
    if (g.goal) {
        j["goal"] = g.goal;
        j["kind"] = g.kind;
        j["record"] = g.record;
        j["field"] = g.field;
        j["function"] = g.function;
        j["meaning"] = g.meaning;
    }
    if (!g.file.empty()) {
        j["file"] = g.file;
        j["line"] = g.line;
        j["column"] = g.column;
    }
    if (!g.decision.empty()) j["decision"] = g.decision;
    if (!g.lines.empty()) {
        j["lines"] = json::array();
        for (const auto& [first, last] : g.lines)
            j["lines"].push_back({first, last});
    }
    if (g.count) j["count"] = g.count;
    if (g.reached()) {
        const CaseResult& c = r.cases.at(static_cast<std::size_t>(g.first_case));
        j["first"] = {{"case", c.name},
                      {"suite", c.suite},
                      {"case_index", g.first_case},
                      {"step", g.first_step},
                      {"line", g.first_step >= 1 && g.first_step <= static_cast<int32_t>(c.step_lines.size())
                                   ? c.step_lines[g.first_step - 1]
                                   : 0}};
        if (c.shard >= 0) j["first"]["shard"] = c.shard;
    }
    // Kept on a reached goal too: it is what the warnings contradict.
    if (g.justification) {
        j["justification"] = {
            {"reason", g.justification->reason}, {"file", g.justification->file}, {"line", g.justification->line}};
        if (g.justification->proven()) {
            j["justification"]["method"] = g.justification->method;
            j["justification"]["proof"] = g.justification->proof;
            j["justification"]["tool"] = g.justification->tool;
            if (!g.reached()) j["status"] = "proven";
        }
    }
    if (g.unsettled && !g.reached() && !g.justification)
        j["unknown"] = {{"not_within", g.unsettled->not_within},
                        {"why", g.unsettled->why},
                        {"file", g.unsettled->file},
                        {"line", g.unsettled->line}};
    return j;
}

json vector_json(const McdcVector& v) {
    return {{"values", v.values}, {"outcome", v.outcome}};
}

json ref_json(const Result& r, const McdcRef& ref) {
    json j{{"case_index", ref.case_index}, {"step", ref.step}, {"vector", vector_json(ref.vector)}};
    if (ref.case_index >= 0 && static_cast<std::size_t>(ref.case_index) < r.cases.size())
        j["case"] = r.cases[static_cast<std::size_t>(ref.case_index)].id();
    return j;
}

json mcdc_json(const Result& r, const McdcSection& m, const CoverageRow& row) {
    json j{{"steps", m.steps}, {"steps_not_replayed", m.steps_not_replayed}, {"coverage", coverage_json(row)}};
    j["decisions"] = json::array();
    for (const auto& d : m.decisions) {
        json jd{{"record", d.record},         {"function", d.function}, {"file", d.file},
                {"line", d.line},             {"column", d.column},     {"expression", d.expression},
                {"vectors", d.vectors},       {"repeated", d.repeated}, {"conditions", json::array()}};
        for (const auto& c : d.conditions) {
            json jc{{"record", c.record}, {"shown", c.shown}};
            if (c.shown) jc["pair"] = {ref_json(r, c.first), ref_json(r, c.second)};
            if (!c.shown) {
                jc["missing"] = json::array();
                for (const auto& v : c.missing)
                    jc["missing"].push_back(vector_json(v));
                if (c.partner.case_index >= 0) jc["partner"] = ref_json(r, c.partner);
            }
            if (c.justification)
                jc["justification"] = {{"reason", c.justification->reason},
                                       {"file", c.justification->file},
                                       {"line", c.justification->line}};
            jd["conditions"].push_back(jc);
        }
        j["decisions"].push_back(jd);
    }
    return j;
}

// Every number is read as the type it is stored in, whole where it must be
// whole, finite, and within what that type holds: a 1.9 is no version and a
// 1e300 no worker count.
template <class T>
T field(const json& j, const char* key, const std::string& what) {
    auto it = j.find(key);
    if (it == j.end()) throw Error(what + ": not a kivrun result (missing '" + key + "')");
    const auto out_of_range = [&] {
        return Error(what + ": not a kivrun result ('" + key + "' is " + it->dump() + ", out of range)");
    };
    const auto wrong_type = [&] { return Error(what + ": not a kivrun result ('" + key + "' has the wrong type)"); };
    {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            if (!it->is_number_integer()) throw wrong_type();
            if (it->is_number_unsigned()) {
                if (it->template get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<T>::max()))
                    throw out_of_range();
            } else {
                const auto v = it->template get<int64_t>();
                if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
                    (v > 0 && static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max())))
                    throw out_of_range();
            }
        } else if constexpr (std::is_floating_point_v<T>) {
            if (!it->is_number()) throw wrong_type();
            if (!std::isfinite(it->template get<double>())) throw out_of_range();
        }
    }
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        throw wrong_type();
    }
}

// A number that must also lie within [low, high], as the command line would
// have accepted it.
template <class T>
T bounded(const json& j, const char* key, T low, T high, const std::string& what) {
    const T v = field<T>(j, key, what);
    if (!(v >= low && v <= high)) {
        std::ostringstream s;
        s << what << ": not a kivrun result ('" << key << "' is " << v << ", not from " << low << " to " << high
          << ")";
        throw Error(s.str());
    }
    return v;
}

template <class T>
T optional_field(const json& j, const char* key, T fallback, const std::string& what) {
    return j.contains(key) ? field<T>(j, key, what) : fallback;
}

McdcVector read_vector(const json& j, const std::string& what) {
    McdcVector v{field<std::string>(j, "values", what), field<bool>(j, "outcome", what)};
    for (char c : v.values)
        if (c != 'T' && c != 'F' && c != '-') throw Error(what + ": not a kivrun result (an MC/DC vector of '" + v.values + "')");
    return v;
}

McdcRef read_ref(const json& j, const Result& r, const std::string& what) {
    McdcRef ref{field<int64_t>(j, "case_index", what), field<int32_t>(j, "step", what),
                read_vector(field<json>(j, "vector", what), what)};
    if (ref.case_index < 0 || static_cast<std::size_t>(ref.case_index) >= r.cases.size())
        throw Error(what + ": not a kivrun result (an MC/DC vector names no case)");
    return ref;
}

McdcSection read_mcdc(const json& j, const Result& r, const std::string& what) {
    McdcSection m;
    m.steps = field<uint64_t>(j, "steps", what);
    m.steps_not_replayed = field<uint64_t>(j, "steps_not_replayed", what);
    for (const json& jd : field<json>(j, "decisions", what)) {
        McdcDecision d;
        d.record = field<std::string>(jd, "record", what);
        d.function = field<std::string>(jd, "function", what);
        d.file = field<std::string>(jd, "file", what);
        d.line = field<int32_t>(jd, "line", what);
        d.column = field<int32_t>(jd, "column", what);
        d.expression = field<std::string>(jd, "expression", what);
        d.vectors = field<uint64_t>(jd, "vectors", what);
        d.repeated = field<uint64_t>(jd, "repeated", what);
        for (const json& jc : field<json>(jd, "conditions", what)) {
            McdcCondition c;
            c.record = field<std::string>(jc, "record", what);
            c.shown = field<bool>(jc, "shown", what);
            if (c.shown) {
                const json& pair = field<json>(jc, "pair", what);
                if (!pair.is_array() || pair.size() != 2) throw Error(what + ": not a kivrun result (an MC/DC pair)");
                c.first = read_ref(pair[0], r, what);
                c.second = read_ref(pair[1], r, what);
            } else {
                for (const json& v : field<json>(jc, "missing", what))
                    c.missing.push_back(read_vector(v, what));
                if (jc.contains("partner")) c.partner = read_ref(jc["partner"], r, what);
            }
            if (jc.contains("justification")) {
                const json& js = jc["justification"];
                c.justification = Justified{field<std::string>(js, "reason", what),
                                            field<std::string>(js, "file", what), field<int32_t>(js, "line", what),
                                            "", "", ""};
            }
            d.conditions.push_back(std::move(c));
        }
        m.decisions.push_back(std::move(d));
    }
    return m;
}

}  // namespace

void write_json(const Result& r, const Summary& s, std::ostream& out) {
    json j;
    j["format"] = kMarker;
    j["version"] = kFormat;
    const RunDescription& d = r.run;
    j["run"] = {{"library", d.library},
                {"library_id", d.library_id},
                {"catalog", d.catalog},
                {"catalog_id", d.catalog_id},
                {"suites", d.suites},
                {"justification_files", d.justification_files},
                {"isolation", d.isolation},
                {"workers", d.workers},
                {"step_timeout", d.step_timeout},
                {"started", d.started},
                {"seconds", d.seconds},
                {"parse_seconds", d.parse_seconds},
                {"run_seconds", d.run_seconds},
                {"report_seconds", d.report_seconds}};
    if (d.shard_index >= 0) j["run"]["shard"] = {{"index", d.shard_index}, {"count", d.shard_count}};
    if (!d.inputs.empty()) {
        j["run"]["inputs"] = json::array();
        for (const InputFile& f : d.inputs)
            j["run"]["inputs"].push_back({{"role", f.role}, {"path", f.path}, {"sha256", f.sha256}});
    }
    if (!d.tool_version.empty()) j["run"]["tool_version"] = d.tool_version;
    if (!d.command_line.empty()) j["run"]["command_line"] = d.command_line;
    j["summary"] = {{"cases", s.cases()},         {"passed", s.passed},         {"failed", s.failed},
                    {"crashed", s.crashed},       {"timed_out", s.timed_out},   {"not_run", s.not_run},
                    {"all_passed", s.all_passed()}};
    j["coverage"]["criteria"] = json::array();
    for (const auto& row : s.criteria)
        j["coverage"]["criteria"].push_back(coverage_json(row));
    j["coverage"]["total"] = coverage_json(s.total);
    j["goals"] = json::array();
    for (const auto& g : r.goals)
        j["goals"].push_back(goal_json(r, g));
    j["cases"] = kCasesMark;  // written in place below
    j["warnings"] = json::array();
    j["errors"] = json::array();
    for (std::size_t g : s.contradictions) {
        const GoalResult& goal = r.goals[g];
        const CaseResult& c = r.cases[static_cast<std::size_t>(goal.first_case)];
        j["errors"].push_back({{"id", goal.id},
                                 {"goal", goal.goal},
                                 {"case", c.id()},
                                 {"step", goal.first_step},
                                 {"justification", goal_json(r, goal)["justification"]},
                                 {"message", contradiction_text(r, g)}});
    }
    if (r.mcdc) {
        j["mcdc"] = mcdc_json(r, *r.mcdc, *s.mcdc);
        for (const auto& [d, c] : s.mcdc_contradictions)
            j["warnings"].push_back({{"decision", r.mcdc->decisions[d].record},
                                     {"condition", c},
                                     {"message", mcdc_contradiction_text(r, d, c)}});
    }
    constexpr const char* kTraceMark = "\x01trace";  // written in place below, its lists one element a line
    if (r.trace) j["trace"] = kTraceMark;
    j["thresholds"] = json::array();
    for (const auto& t : r.thresholds) {
        json jt{{"criterion", t.criterion}, {"required", t.percent}, {"measure", "covered_percent"}};
        for (const auto& tr : s.thresholds)
            if (tr.threshold.criterion == t.criterion && tr.threshold.percent == t.percent) {
                jt["actual"] = tr.row.covered_percent();
                jt["covered"] = tr.row.reached + tr.row.justified;
                jt["total"] = tr.row.total;
                jt["met"] = tr.met;
            }
        j["thresholds"].push_back(jt);
    }
    // Names come from user files: anything that is not UTF-8 is replaced, never a throw after the run.
    const std::string text = j.dump(2, ' ', false, json::error_handler_t::replace);
    // The cases, one a line and without a node each: a merged run holds hundreds of thousands.
    const std::string mark = std::string("\n  \"cases\": \"") + kCasesMark + "\"";
    const std::size_t at = text.find(mark);
    out.write(text.data(), static_cast<std::streamsize>(at + mark.size() - std::strlen(kCasesMark) - 2));
    write_cases_json(r.cases, r.goals, out, 4);
    std::string rest = text.substr(at + mark.size());
    const std::string trace_mark = json(kTraceMark).dump();
    if (const std::size_t t = rest.find(trace_mark); r.trace && t != std::string::npos)
        rest.replace(t, trace_mark.size(), trace_json_text(r, 4));
    out << rest << "\n";
}

Result read_json(std::istream& in, const std::string& what) {
    const ResultDocument doc(in, what);
    const json& j = doc.rest();
    if (!j.is_object() || j.value("format", json()) != kMarker)
        throw Error(what + ": not a kivrun result (no \"format\": \"" + kMarker + "\")");
    if (field<int>(j, "version", what) != kFormat)
        throw Error(what + ": a kivrun result of another version than " + std::to_string(kFormat));
    Result r;
    const json& run = field<json>(j, "run", what);
    RunDescription& d = r.run;
    d.library = field<std::string>(run, "library", what);
    d.library_id = field<std::string>(run, "library_id", what);
    d.catalog = field<std::string>(run, "catalog", what);
    d.catalog_id = field<std::string>(run, "catalog_id", what);
    d.suites = field<std::vector<std::string>>(run, "suites", what);
    d.justification_files = field<std::vector<std::string>>(run, "justification_files", what);
    d.isolation = field<std::string>(run, "isolation", what);
    d.workers = bounded<int>(run, "workers", 1, 256, what);
    d.step_timeout = bounded<double>(run, "step_timeout", 0, 3600, what);
    d.started = field<std::string>(run, "started", what);
    d.seconds = bounded<double>(run, "seconds", 0, 1e9, what);
    d.parse_seconds = optional_field<double>(run, "parse_seconds", 0, what);
    d.run_seconds = optional_field<double>(run, "run_seconds", 0, what);
    d.report_seconds = optional_field<double>(run, "report_seconds", 0, what);
    if (run.contains("shard")) {
        d.shard_index = field<int32_t>(run["shard"], "index", what);
        d.shard_count = field<int32_t>(run["shard"], "count", what);
        // As --shard accepts them: a merge lists the shards missing.
        if (d.shard_count < 1 || d.shard_count > kMaxShards || d.shard_index < 0 || d.shard_index >= d.shard_count)
            throw Error(what + ": not a kivrun result (shard " + std::to_string(d.shard_index) + " of " +
                        std::to_string(d.shard_count) + ")");
    }
    if (run.contains("inputs"))
        for (const json& f : field<json>(run, "inputs", what))
            d.inputs.push_back({field<std::string>(f, "role", what), field<std::string>(f, "path", what),
                                field<std::string>(f, "sha256", what)});
    d.tool_version = optional_field<std::string>(run, "tool_version", "", what);
    d.command_line = optional_field<std::vector<std::string>>(run, "command_line", {}, what);
    r.cases = doc.cases();
    r.goals = doc.goals(r.cases.size());
    std::map<int32_t, int32_t> index_of;
    for (std::size_t g = 0; g < r.goals.size(); ++g)
        index_of[r.goals[g].id] = static_cast<int32_t>(g);
    for (CaseResult& c : r.cases)
        for (int32_t& g : c.unique_goals) {
            auto it = index_of.find(g);
            if (it == index_of.end())
                throw Error(what + ": not a kivrun result (case " + c.id() + " names goal " + std::to_string(g) +
                            ", which it does not list)");
            g = it->second;
        }
    if (j.contains("mcdc")) r.mcdc = read_mcdc(j["mcdc"], r, what);
    if (j.contains("trace")) r.trace = read_trace_json(j["trace"], r, what);
    for (const json& jt : field<json>(j, "thresholds", what))
        r.thresholds.push_back({field<std::string>(jt, "criterion", what), bounded<double>(jt, "required", 0, 100, what)});
    // A threshold must be one the run could have measured, or every later
    // summary of this file (a report, a merge) fails without naming it.
    for (std::size_t i = 0; i < r.thresholds.size(); ++i) {
        const std::string& c = r.thresholds[i].criterion;
        const bool measured =
            c == "total" || (c == "mcdc" ? r.mcdc.has_value()
                                         : std::any_of(r.goals.begin(), r.goals.end(),
                                                       [&](const GoalResult& g) { return g.criterion == c; }));
        if (!measured)
            throw Error(what + ": not a kivrun result (thresholds[" + std::to_string(i) + "] names criterion '" +
                        printable(c) + "', of which it " + (c == "mcdc" ? "measured nothing" : "has no goals") + ")");
    }
    return r;
}

Result read_json_file(const std::string& path) {
    // A folder opens as a stream here, and reads as garbage sizes.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw Error(path + ": not a kivrun result (a folder)");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot read " + path);
    return read_json(in, path);
}

}  // namespace kiv
