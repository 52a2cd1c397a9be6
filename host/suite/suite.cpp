// Parsing suite files into a Plan, with a located message for every problem.
#include "suite/suite.h"

#include "suite/csv.h"
#include "suite/link.h"
#include "suite/value.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

namespace kiv {

namespace {

enum class ColumnKind {
    case_name, scope, note, input, expect, repeat,
    buffer_input, buffer_expect,  // one cell for the elements name[0], name[1], ... of a buffer or array
    req, verifies, technique, description  // the links, last
};

struct Column {
    Column(ColumnKind k = ColumnKind::note, int s = -1) : kind(k), slot(s) {}
    ColumnKind kind;
    int slot;                     // input index or output slot; -1 with candidates: chosen by the step's scope
    std::vector<int> candidates;  // a short name's slots
    std::string heading;
    std::vector<std::pair<int32_t, int>> by_scope;  // scope -> slot, -1 none, -2 several
    std::vector<std::pair<int32_t, std::vector<int>>> elements;  // buffers: scope -> slots of [0], [1], ...
};

enum class Number { ok, not_a_number, out_of_range };

// Decimal, 0x hexadecimal or 0b binary, with an optional sign.
Number parse_int(std::string_view s, int64_t& v) {
    // Most cells are a few decimal digits.
    if (!s.empty() && s.size() <= 4 && s[0] >= '0' && s[0] <= '9' && (s.size() == 1 || s[1] <= '9')) {
        int64_t r = 0;
        for (char c : s) {
            if (c < '0' || c > '9') return Number::not_a_number;
            r = r * 10 + (c - '0');
        }
        v = r;
        return Number::ok;
    }
    bool negative = false;
    uint64_t u = 0;
    switch (parse_integer(s, negative, u)) {
        case ValueParse::ok:
            break;
        case ValueParse::beyond_64_bits:
            return Number::out_of_range;
        default:
            return Number::not_a_number;
    }
    constexpr uint64_t kMax = static_cast<uint64_t>(INT64_MAX);
    if (u > kMax + (negative ? 1 : 0)) return Number::out_of_range;
    v = negative ? static_cast<int64_t>(0 - u) : static_cast<int64_t>(u);
    return Number::ok;
}

std::optional<int64_t> parse_int(std::string_view s) {
    int64_t v;
    if (parse_int(s, v) != Number::ok) return std::nullopt;
    return v;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto l = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (l(a[i]) != l(b[i])) return false;
    }
    return true;
}


std::size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] != b[j - 1])});
            diag = up;
        }
    }
    return row[b.size()];
}

// " (did you mean 'x' or 'y'?)": the known names nearest to a misspelt one,
// compared without regard to case.
std::string suggest(std::string_view word, const std::vector<std::string>& known) {
    const std::string w = ascii_lower(word);
    const std::size_t limit = std::max<std::size_t>(2, w.size() / 3);
    std::vector<std::pair<std::size_t, std::string>> near;
    for (const auto& k : known) {
        const std::size_t d = distance(w, ascii_lower(k));
        if (d <= limit && std::none_of(near.begin(), near.end(), [&](const auto& n) { return n.second == k; }))
            near.emplace_back(d, k);
    }
    if (near.empty()) return "";
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Only the nearest: a list of everything within reach would bury the one meant.
    std::erase_if(near, [&](const auto& n) { return n.first > near.front().first; });
    if (near.size() > 3) near.resize(3);
    std::string s = " (did you mean ";
    for (std::size_t i = 0; i < near.size(); ++i)
        s += (i ? (i + 1 == near.size() ? " or " : ", ") : "") + ("'" + near[i].second + "'");
    return s + "?)";
}

// An enum-typed variable's cell that names no enumerator of it: the nearest
// names, and the names it has when they are few enough to read.
std::string unknown_enumerator(std::string_view text, const std::string& what, const ValueType& t) {
    std::vector<std::string> names;
    for (const Enumerator& e : t.enumerators) names.push_back(e.name);
    std::string s = "'" + std::string(text) + "' is no enumerator of " + what + suggest(text, names) + "; expected ";
    if (names.size() <= 8)
        for (std::size_t i = 0; i < names.size(); ++i) s += (i ? ", " : "") + names[i];
    else
        s += "one of its " + std::to_string(names.size()) + " enumerators";
    return s + " or " + range_text(t);
}

// The names of a file's cases, to find one that reappears: open addressing
// over indices into Plan::cases, each kept with its name's hash, so a hundred
// thousand cases cost no allocation each and a probe rarely reads a name.
class CaseNames {
public:
    // Adds case c named name; when the name is taken, returns the index of
    // the case that has it and adds nothing.
    const uint32_t* insert(const std::vector<PlanCase>& cases, std::string_view name, uint32_t c) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        const uint32_t h = hash(name);
        for (std::size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            Slot& s = slots_[i];
            if (s.c == kEmpty) {
                s = {h, c}, ++count_;
                return nullptr;
            }
            if (s.hash == h && cases[s.c].name == name) return &s.c;
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint32_t hash, c;
    };
    static uint32_t hash(std::string_view s) {
        uint64_t h = 14695981039346656037u;  // FNV-1a
        for (char c : s)
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
        return static_cast<uint32_t>(h ^ (h >> 32));
    }
    void grow() {
        std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()), Slot{0, kEmpty});
        old.swap(slots_);
        for (const Slot& s : old)
            if (s.c != kEmpty)
                for (std::size_t i = s.hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1))
                    if (slots_[i].c == kEmpty) {
                        slots_[i] = s;
                        break;
                    }
    }
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

class SuiteParser : TableReader {
public:
    static constexpr std::size_t kMaxCaseName = 1024;  // bytes
    static constexpr std::size_t kMaxColumns = 65536;
    // A row held for many steps is a few cells of text but a step each in the
    // plan: bounded per row, and in all the steps repeats and the setup case add.
    static constexpr int64_t kMaxRepeat = 100000;
    static constexpr uint64_t kMaxAddedSteps = 10000000;

    SuiteParser(const std::string& file, const Schema& schema, const SuiteOptions& options, Plan& plan)
        : TableReader(file), schema_(schema), options_(options), out_(plan) {
        file_index_ = static_cast<uint32_t>(out_.files.size());
        out_.files.push_back(file);
    }

    std::vector<Diagnostic> parse(std::string_view text) {
        // Sizes to undo a file that fails, so the plan is left as it was.
        const std::size_t n_cases = out_.cases.size(), n_steps = out_.steps.size(), n_inputs = out_.inputs.size(),
                          n_expects = out_.expects.size(), n_sets = out_.sets.size(), n_ranges = out_.ranges.size(),
                          n_links = out_.links.size();
        CsvReader reader(text, file_, diags_);
        CsvRow row;
        if (read_header(reader, row, ", with at least 'case' and 'scope'") &&
            (header(row), case_col_ >= 0 && scope_col_ >= 0)) {
            reserve(text);
            while (!full() && reader.next(row))
                if (!row.blank()) step(row);
            if (current_case_ < 0 && diags_.empty()) error(reader.last_line(), 1, "the suite has no steps");
        }
        if (!diags_.empty()) {
            out_.files.pop_back();
            out_.cases.resize(n_cases), out_.steps.resize(n_steps), out_.inputs.resize(n_inputs);
            out_.expects.resize(n_expects), out_.sets.resize(n_sets), out_.ranges.resize(n_ranges);
            out_.links.resize(n_links);
        }
        return std::move(diags_);
    }

private:
    // One step per line at most, each cell of a line a value at most:
    // reserving that spares the copies of growth, and pages reserved but
    // never written cost no memory.
    void reserve(std::string_view text) {
        std::size_t lines = 1, inputs = 0, expects = 0;
        for (const char* p = text.data();
             (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + text.size() - p))); ++p)
            ++lines;
        for (const auto& c : columns_)
            inputs += c.kind == ColumnKind::input, expects += c.kind == ColumnKind::expect;
        out_.steps.reserve(out_.steps.size() + lines);
        out_.inputs.reserve(out_.inputs.size() + lines * inputs);
        out_.expects.reserve(out_.expects.size() + lines * expects);
    }

    // Reads the column headings; rows are still checked after a bad heading,
    // as long as the case and scope columns exist.
    void header(const CsvRow& row) {
        header_line_ = row.line;
        if (row.cells.size() > kMaxColumns) {
            error(row.line, 1,
                  "a header of " + std::to_string(row.cells.size()) + " columns; at most " +
                      std::to_string(kMaxColumns));
            return;
        }
        std::map<std::string, int> taken;
        for (const auto& cell : row.cells) {
            Column col = classify(cell, row.line);
            col.heading = cell.text;
            if (col.kind == ColumnKind::case_name) case_col_ = static_cast<int>(columns_.size());
            if (col.kind == ColumnKind::scope) scope_col_ = static_cast<int>(columns_.size());
            if (col.kind >= ColumnKind::req) link_cols_.push_back(static_cast<int>(columns_.size()));
            std::string key = std::to_string(static_cast<int>(col.kind)) + ":" + std::to_string(col.slot);
            for (int c : col.candidates)
                key += "," + std::to_string(c);
            for (const auto& group : col.elements)
                key += "," + std::to_string(group.second.front());
            if (col.kind != ColumnKind::note && !cell.text.empty() && !taken.emplace(key, cell.column).second) {
                error(row.line, cell.column,
                      "column '" + col.heading + "' repeats the column at column " + std::to_string(taken[key]));
            }
            columns_.push_back(std::move(col));
        }
        if (case_col_ < 0) error(row.line, 1, "no 'case' column; every suite needs one to name its test cases");
        if (scope_col_ < 0) error(row.line, 1, "no 'scope' column; every suite needs one to select what a step runs");
    }

    // A heading names one slot by its full name, or several by the name
    // without its scope, one of which each step's scope then selects.
    template <typename Slots, typename Full>
    Column named(ColumnKind kind, std::string_view name, const Slots& slots, Full full) {
        Column col{kind};
        for (std::size_t i = 0; i < slots.size(); ++i)
            if (same_name(full(slots[i]), name)) {
                col.slot = static_cast<int>(i);
                return col;
            }
        for (std::size_t i = 0; i < slots.size(); ++i)
            if (same_name(short_name(full(slots[i])), name)) col.candidates.push_back(static_cast<int>(i));
        if (col.candidates.size() == 1) col.slot = col.candidates.front(), col.candidates.clear();
        return col;
    }

    Column classify(const CsvCell& cell, int line) {
        const std::string_view h = cell.text;
        const std::string l = ascii_lower(h);
        if (l == "case") return {ColumnKind::case_name};
        if (l == "scope") return {ColumnKind::scope};
        if (l == "note" || l == "notes" || l == "comment") return {ColumnKind::note};
        if (l == "repeat") return {ColumnKind::repeat};
        if (l == "req" || l == "requirement" || l == "requirements") return {ColumnKind::req};
        if (l == "verifies") return {ColumnKind::verifies};
        if (l == "technique") return {ColumnKind::technique};
        if (l == "description") return {ColumnKind::description};
        // Past the cap on problems the file is refused anyway: the rest of a
        // header of a million unknown columns is not looked up one by one.
        if (full()) return {ColumnKind::note};
        if (l.rfind("expect ", 0) == 0) {
            std::string_view name = h.substr(7);
            name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
            Column col = named(ColumnKind::expect, name, schema_.outputs, [](const OutputSlot& o) { return o.name; });
            if (col.slot < 0 && col.candidates.empty())
                col = named(ColumnKind::expect, name, schema_.outputs, [](const OutputSlot& o) { return o.variable; });
            if (col.slot < 0 && col.candidates.empty())
                if (Column b = buffer_column(ColumnKind::buffer_expect, name, schema_.outputs); !b.elements.empty()) return b;
            if (col.slot < 0 && col.candidates.empty()) {
                std::vector<std::string> known;
                for (const auto& o : schema_.outputs)
                    known.push_back(o.name), known.emplace_back(short_name(o.name));
                error(line, cell.column,
                      "unknown output '" + std::string(name) + "'" + suggest(name, known) + "; expected " +
                          output_names());
                return {ColumnKind::note};
            }
            if (schema_.outputs_resolved)
                for (int o : col.slot >= 0 ? std::vector<int>{col.slot} : col.candidates)
                    if (!schema_.outputs[o].address)
                        error(line, cell.column,
                              "output '" + schema_.outputs[o].name +
                                  "' cannot be checked: the library file has no symbol for " +
                                  schema_.outputs[o].variable + " (stripped?)");
            return col;
        }
        if (auto id = parse_int(h)) {
            for (std::size_t i = 0; i < schema_.inputs.size(); ++i)
                if (schema_.inputs[i].id == *id) return {ColumnKind::input, static_cast<int>(i)};
            error(line, cell.column,
                  "'" + std::string(h) + "' is not a writable variable ID of the library; expected one of " +
                      input_ids());
            return {ColumnKind::note};
        }
        Column col = named(ColumnKind::input, h, schema_.inputs, [](const InputSlot& i) { return i.name; });
        if (col.slot >= 0 || !col.candidates.empty()) return col;
        if (Column b = buffer_column(ColumnKind::buffer_input, h, schema_.inputs); !b.elements.empty()) return b;
        const std::string expected = "; expected case, scope, note, repeat, an input ID or name, or 'expect <output>'";
        if (h.empty()) {
            error(line, cell.column, "empty column header" + expected);
        } else {
            std::vector<std::string> known{"case", "scope", "note", "repeat"};
            for (const auto& i : schema_.inputs)
                known.push_back(i.name), known.emplace_back(short_name(i.name));
            for (const auto& o : schema_.outputs)
                known.push_back("expect " + o.name), known.push_back("expect " + std::string(short_name(o.name)));
            error(line, cell.column, "unknown column '" + std::string(h) + "'" + suggest(h, known) + expected);
        }
        return {ColumnKind::note};
    }

    // A heading that names no variable but the elements name[0], name[1], ...
    // of one (a buffer, an array): per scope, the slots in element order.
    template <typename Slots>
    Column buffer_column(ColumnKind kind, std::string_view name, const Slots& slots) {
        Column col{kind};
        col.heading = std::string(name);
        std::map<int32_t, std::map<long, int>> found;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const std::string& full = slots[i].name;
            const auto open = full.rfind('[');
            if (open == std::string::npos || full.back() != ']') continue;
            const std::string_view base = std::string_view(full).substr(0, open);
            if (!same_name(base, name) && !same_name(short_name(base), name)) continue;
            const auto at = parse_int(std::string_view(full).substr(open + 1, full.size() - open - 2));
            if (at && *at >= 0) found[slots[i].scope][static_cast<long>(*at)] = static_cast<int>(i);
        }
        for (const auto& [scope, by_index] : found) {
            std::vector<int> in_order;
            for (const auto& [index, slot] : by_index) {
                if (index != static_cast<long>(in_order.size())) break;  // elements from [0] without a gap
                in_order.push_back(slot);
            }
            if (!in_order.empty()) col.elements.push_back({scope, std::move(in_order)});
        }
        return col;
    }

    // A buffer cell: its elements' values separated by spaces, each written
    // as a single cell of the element's type would be; the elements after
    // the last one given are set to 0 in an input and not checked in an
    // expect. More values than elements is an error at the cell.
    void buffer_cell(int line, const CsvCell& cell, const Column& col, int32_t scope, PlanStep& st) {
        const std::vector<int>* slots = nullptr;
        for (const auto& [owner, elements] : col.elements)
            if (owner == scope || owner == 0) slots = &elements;
        if (!slots) {
            error(line, cell.column, "'" + col.heading + "' names no buffer of this step's scope " + scope_text(scope));
            return;
        }
        std::vector<std::string_view> values;
        for (std::size_t b = 0; b < cell.text.size();) {
            const std::size_t e = std::min(cell.text.find(' ', b), cell.text.size());
            if (e > b) values.push_back(std::string_view(cell.text).substr(b, e - b));
            b = e + 1;
        }
        if (values.size() > slots->size()) {
            error(line, cell.column,
                  "'" + col.heading + "' holds " + std::to_string(slots->size()) + " elements; the cell gives " +
                      std::to_string(values.size()) + " values");
            return;
        }
        const bool in = col.kind == ColumnKind::buffer_input;
        for (std::size_t k = 0; k < (in ? slots->size() : values.size()); ++k) {
            const CsvCell element{k < values.size() ? values[k] : std::string_view("0"), cell.column};
            if (in)
                input(line, element, (*slots)[k], scope, st);
            else
                expect(line, element, (*slots)[k], scope, st);
        }
    }

    std::string output_names() const {
        std::string s;
        for (const auto& o : schema_.outputs)
            s += (s.empty() ? "" : ", ") + o.name;
        return s.empty() ? "none: the library offers no outputs" : "one of " + s;
    }

    std::string input_ids() const {
        std::string s;
        for (const auto& i : schema_.inputs)
            s += (s.empty() ? "" : ", ") + std::to_string(i.id);
        return s;
    }

    std::string scope_text(int32_t uid) const {
        for (const auto& s : schema_.scopes)
            if (s.uid == uid) return std::to_string(uid) + " (" + s.names.front() + ")";
        return std::to_string(uid);
    }

    std::optional<int32_t> scope_of(const CsvCell& cell, int line) {
        // Steps of a case mostly repeat the scope before: one comparison.
        if (cell.text == last_scope_text_) return last_scope_;
        if (auto v = parse_int(cell.text)) {
            bool known = schema_.scopes.empty() && *v >= INT32_MIN && *v <= INT32_MAX;
            for (const auto& s : schema_.scopes)
                known |= s.uid == *v;
            if (known) return static_cast<int32_t>(*v);
        } else {
            for (const auto& s : schema_.scopes)
                for (const auto& n : s.names)
                    if (same_name(n, cell.text)) return s.uid;
        }
        std::string all;
        std::vector<std::string> known;
        for (const auto& s : schema_.scopes) {
            all += (all.empty() ? "" : ", ") + scope_text(s.uid);
            known.insert(known.end(), s.names.begin(), s.names.end());
        }
        error(line, cell.column,
              "unknown scope '" + std::string(cell.text) + "'" + suggest(cell.text, known) + "; expected " +
                  (all.empty() ? "a scope UID (an integer)" : "one of " + all));
        return std::nullopt;
    }

    const CsvCell* cell_at(const CsvRow& row, int c) const {
        return c >= 0 && c < static_cast<int>(row.cells.size()) ? &row.cells[c] : nullptr;
    }

    void step(const CsvRow& row) {
        for (std::size_t c = columns_.size(); c < row.cells.size(); ++c)
            if (!row.cells[c].text.empty()) {
                error(row.line, row.cells[c].column,
                      "cell beyond the last column; the header on line " + std::to_string(header_line_) + " has " +
                          std::to_string(columns_.size()) + " columns");
                return;
            }
        if (!start_case(row)) return;
        if (!link_cols_.empty()) link(row);
        const CsvCell* sc = cell_at(row, scope_col_);
        int32_t scope = 0;
        if (sc && !sc->text.empty()) {
            auto s = scope_of(*sc, row.line);
            if (!s) return;
            scope = *s;
            last_scope_text_ = sc->text;
        } else if (case_steps_ > 0) {
            scope = last_scope_;
        } else {
            error(row.line, sc ? sc->column : 1,
                  "the first step of case '" + out_.cases.back().name + "' has no scope; expected a scope UID or name");
            return;
        }
        PlanStep st{scope, static_cast<uint32_t>(out_.inputs.size()),
                    0,     static_cast<uint32_t>(out_.expects.size()),
                    0,     row.line};
        const std::size_t n = std::min(columns_.size(), row.cells.size());
        uint32_t repeat = 1;
        for (std::size_t c = 0; c < n; ++c) {
            const CsvCell& cell = row.cells[c];
            if (cell.text.empty()) continue;
            Column& col = columns_[c];
            if (col.kind == ColumnKind::repeat) repeat = repeat_of(row.line, cell);
            if (col.kind == ColumnKind::buffer_input || col.kind == ColumnKind::buffer_expect) {
                buffer_cell(row.line, cell, col, scope, st);
                continue;
            }
            if (col.kind != ColumnKind::input && col.kind != ColumnKind::expect) continue;
            const int slot = col.slot >= 0 ? col.slot : resolve(col, scope, row.line, cell);
            if (slot < 0) continue;
            // The common cell, a small decimal in its own scope, without the general path.
            const std::string_view t = cell.text;
            if (t.size() <= 3 && static_cast<unsigned>(t[0] - '0') < 10 && owner(col, slot) == scope) {
                unsigned v = static_cast<unsigned>(t[0] - '0');
                bool digits = true;
                for (std::size_t k = 1; k < t.size(); ++k) {
                    digits &= static_cast<unsigned>(t[k] - '0') < 10;
                    v = v * 10 + static_cast<unsigned>(t[k] - '0');
                }
                if (digits && col.kind == ColumnKind::expect && !schema_.outputs[slot].type.floating &&
                    v <= schema_.outputs[slot].type.max_uint()) {
                    out_.expects.push_back({slot, false, v});  // below 1000: held in place
                    ++st.n_expects;
                    continue;
                }
                if (digits && col.kind == ColumnKind::input && !schema_.inputs[slot].type.floating &&
                    v <= (schema_.inputs[slot].setter == Setter::boolean ? 1u : schema_.inputs[slot].type.max_uint())) {
                    out_.inputs.push_back({slot, false, v});
                    ++st.n_inputs;
                    continue;
                }
            }
            if (col.kind == ColumnKind::input) input(row.line, cell, slot, scope, st);
            if (col.kind == ColumnKind::expect) expect(row.line, cell, slot, scope, st);
        }
        // A held row is the row written `repeat` times, its checks on the last only.
        PlanStep held = st;
        held.n_expects = 0;
        out_.steps.insert(out_.steps.end(), repeat - 1, held);
        out_.steps.push_back(st);
        out_.cases.back().n_steps += repeat;
        case_steps_ += static_cast<int>(repeat);
        last_scope_ = scope;
    }

    // The times a row's step runs; 1 (reported) for a cell that is no whole
    // number within the limit, or when the steps added would pass theirs.
    uint32_t repeat_of(int line, const CsvCell& cell) {
        const auto n = parse_int(cell.text);
        if (!n || *n < 1 || *n > kMaxRepeat) {
            error(line, cell.column,
                  "repeat '" + std::string(cell.text) + "' is not a whole number from 1 to " +
                      std::to_string(kMaxRepeat) + "; expected how many times the row's step runs");
            return 1;
        }
        return added_steps(static_cast<uint64_t>(*n - 1), line, cell.column) ? static_cast<uint32_t>(*n) : 1;
    }

    bool added_steps(uint64_t n, int line, int column) {
        added_steps_ += n;
        if (added_steps_ <= kMaxAddedSteps) return true;
        error(line, column,
              "repeats and the setup case add more than " + std::to_string(kMaxAddedSteps) +
                  " steps to the suite; expected fewer or shorter held rows");
        return false;
    }

    int32_t owner(const Column& col, int slot) const {
        return col.kind == ColumnKind::input ? schema_.inputs[slot].scope : schema_.outputs[slot].scope;
    }

    std::string slot_name(const Column& col, int slot) const {
        return col.kind == ColumnKind::input ? schema_.inputs[slot].name : schema_.outputs[slot].name;
    }

    // The slot of a short name in the step's scope; -1 (reported) when the
    // scope has none or several.
    int resolve(Column& col, int32_t scope, int line, const CsvCell& cell) {
        auto it =
            std::find_if(col.by_scope.begin(), col.by_scope.end(), [&](const auto& p) { return p.first == scope; });
        if (it == col.by_scope.end()) {
            int slot = -1;
            for (int c : col.candidates)
                if (owner(col, c) == scope || owner(col, c) == 0) slot = slot == -1 ? c : -2;
            it = col.by_scope.insert(col.by_scope.end(), {scope, slot});
        }
        if (it->second >= 0) return it->second;
        std::string names;
        for (int c : col.candidates)
            names += (names.empty() ? "" : ", ") + slot_name(col, c);
        const std::string what = col.kind == ColumnKind::input ? "input" : "output";
        if (it->second == -1)
            error(line, cell.column,
                  "'" + col.heading + "' names no " + what + " of this step's scope " + scope_text(scope) +
                      "; it stands for one of " + names + ", each in its own scope");
        else
            error(line, cell.column,
                  "'" + col.heading + "' is ambiguous in scope " + scope_text(scope) +
                      "; expected the full name: " + names);
        return -1;
    }

    // The traceability cells, which belong on a case's first row only.
    void link(const CsvRow& row) {
        PlanCase& pc = out_.cases.back();
        const CsvCell* first = nullptr;
        for (int c : link_cols_)
            if (const CsvCell* cell = cell_at(row, c); cell && !cell->text.empty() && !first) first = cell;
        if (!first) return;
        if (case_steps_ > 0) {
            error(row.line, first->column,
                  "'" + columns_[static_cast<std::size_t>(&*first - row.cells.data())].heading + "' of case '" +
                      pc.name + "' belongs on its first row (line " + std::to_string(pc.line) + ")");
            return;
        }
        CaseLink l;
        bool verifies_given = false;
        for (int c : link_cols_) {
            const CsvCell* cell = cell_at(row, c);
            if (!cell || cell->text.empty()) continue;
            switch (columns_[c].kind) {
                case ColumnKind::req: {
                    // At the cell: a quoted cell's characters do not start at its column.
                    std::size_t at = 0;
                    if (auto problem = parse_requirement_refs(cell->text, l.refs, at))
                        error(row.line, cell->column, *problem);
                    break;
                }
                case ColumnKind::verifies:
                    if (auto v = verifies_named(cell->text))
                        l.verifies = *v, verifies_given = true;
                    else
                        error(row.line, cell->column,
                              "'" + std::string(cell->text) + "' is not a verification extent; expected full or partial");
                    break;
                case ColumnKind::technique:
                    if (auto t = technique_named(cell->text))
                        l.technique = *t;
                    else
                        error(row.line, cell->column,
                              "unknown technique '" + std::string(cell->text) + "'; expected one of " + technique_list());
                    break;
                default:
                    l.description = cell->text;
            }
        }
        if (verifies_given && l.refs.empty())
            error(row.line, first->column, "case '" + pc.name + "' says what it verifies but names no requirement (req)");
        out_.links.push_back(std::move(l));
        pc.link = static_cast<uint32_t>(out_.links.size());
    }

    bool start_case(const CsvRow& row) {
        const CsvCell* cc = cell_at(row, case_col_);
        if (!cc || cc->text.empty()) {
            if (current_case_ >= 0) return true;
            error(row.line, cc ? cc->column : 1, "step without a case; expected a case name in the 'case' column");
            return false;
        }
        if (current_case_ >= 0 && out_.cases[current_case_].name == cc->text) return true;
        if (cc->text.size() > kMaxCaseName) {
            error(row.line, cc->column,
                  "a case name of " + std::to_string(cc->text.size()) + " bytes; at most " +
                      std::to_string(kMaxCaseName) + " (every report names the case)");
            return false;
        }
        const bool is_setup = same_name(cc->text, "setup");
        if (is_setup && current_case_ >= 0) {
            error(row.line, cc->column,
                  "the 'setup' case must be the file's first case; its steps run before every other case of the "
                  "file");
            return false;
        }
        // Case names are unique within their file: reports name a case
        // suite:case, so other files may use the same names. Inserted only
        // when the case is sure to be added: the table holds its index.
        if (const auto* before = seen_.insert(out_.cases, cc->text, static_cast<uint32_t>(out_.cases.size()))) {
            const PlanCase& first = out_.cases[*before];
            error(row.line, cc->column,
                  "case '" + std::string(cc->text) + "' was already defined at " + file_ + ":" +
                      std::to_string(first.line) +
                      "; expected a new case name (a case's steps stand in consecutive rows)");
            return false;
        }
        current_case_ = static_cast<int>(out_.cases.size());
        out_.cases.push_back(
            {std::string(cc->text), file_index_, row.line, static_cast<uint32_t>(out_.steps.size()), 0});
        case_steps_ = 0;
        if (is_setup) {
            setup_ = current_case_;
        } else if (setup_ >= 0) {
            // The setup's steps again, sharing its inputs, without its checks.
            const PlanCase& s = out_.cases[setup_];
            if (!added_steps(s.n_steps, row.line, cc->column)) return false;
            for (uint32_t k = 0; k < s.n_steps; ++k) {
                PlanStep st = out_.steps[s.first_step + k];
                st.first_expect = static_cast<uint32_t>(out_.expects.size()), st.n_expects = 0;
                out_.steps.push_back(st);
            }
            out_.cases.back().n_steps = out_.cases.back().n_setup = s.n_steps;
        }
        return true;
    }

    bool owned(int line, const CsvCell& cell, const std::string& what, int32_t owner, int32_t scope) {
        if (owner == 0 || owner == scope) return true;
        error(line, cell.column,
              what + " belongs to scope " + scope_text(owner) + ", not to this step's scope " + scope_text(scope) +
                  "; expected it only in steps of its own scope");
        return false;
    }

    void input(int line, const CsvCell& cell, int slot, int32_t scope, PlanStep& st) {
        const InputSlot& in = schema_.inputs[slot];
        if (in.scope != 0 && in.scope != scope && !owned(line, cell, "input " + in.name, in.scope, scope)) return;
        const bool boolean = in.setter == Setter::boolean;
        // A boolean setter takes 0 or 1 whatever the variable's type.
        ValueType type = in.type;
        if (boolean) type = *value_type_named("bool");
        uint64_t raw = 0;
        if (!boolean && !type.enumerators.empty() && names_an_enumerator(cell.text)) {
            if (!enumerator_value(cell.text, type, raw)) {
                error(line, cell.column, unknown_enumerator(cell.text, "input " + in.name, type));
                return;
            }
            out_.inputs.push_back({slot, false, static_cast<int64_t>(raw)});
            ++st.n_inputs;
            return;
        }
        const ValueParse parsed = parse_value(cell.text, type, raw);
        if (parsed == ValueParse::ok || (parsed == ValueParse::out_of_type && options_.wrap && !type.floating)) {
            out_.inputs.push_back({slot, type.floating, static_cast<int64_t>(raw)});
            ++st.n_inputs;
            return;
        }
        const std::string range = boolean          ? "0 or 1 (boolean input " + in.name + ")"
                                  : type.name == "uint8_t" ? "an integer 0..255 (8-bit input " + in.name + ")"
                                                           : range_text(type) + " (" + type.name + " input " + in.name + ")";
        const std::string text(cell.text);
        if (parsed == ValueParse::not_a_number)
            error(line, cell.column, "'" + text + "' is not a number; expected " + range);
        else if (parsed == ValueParse::beyond_64_bits)
            error(line, cell.column, "value " + text + " is out of range (beyond 64 bits); expected " + range);
        else if (type.floating)
            error(line, cell.column, "value " + text + " is out of range; expected " + range);
        else
            error(line, cell.column, "value " + text + " is out of range; expected " + range + " (the library would store " +
                                         stored_text(type, boolean, raw) + "; --wrap allows that)");
    }

    // What the library's setter keeps of an out-of-range integer, by C's conversion.
    static std::string stored_text(const ValueType& t, bool boolean, uint64_t raw) {
        if (boolean || t.boolean) return raw != 0 ? "1" : "0";
        const int bits = t.size * 8;
        uint64_t v = bits >= 64 ? raw : raw & ((uint64_t{1} << bits) - 1);
        if (t.is_signed && bits < 64 && (v >> (bits - 1)) & 1) v |= ~uint64_t{0} << bits;
        return value_text(t.is_signed ? ValueKind::signed_int : ValueKind::unsigned_int, v);
    }

    // One output value of an expect cell, in the output's type.
    std::optional<uint64_t> output_value(std::string_view text, int line, const CsvCell& cell, const OutputSlot& o) {
        uint64_t raw = 0;
        if (!o.type.enumerators.empty() && names_an_enumerator(text)) {
            if (enumerator_value(text, o.type, raw)) return raw;
            error(line, cell.column, unknown_enumerator(text, "output " + o.name, o.type));
            return std::nullopt;
        }
        const ValueParse parsed = parse_value(text, o.type, raw);
        if (parsed == ValueParse::ok) return raw;
        const std::string expected = o.type.floating
                                         ? "a number, a range such as 1.5..2 or a tolerance such as 1.5~0.01"
                                         : range_text(o.type) + ", a range such as 30..35 or a set such as 0|1";
        error(line, cell.column,
              "'" + std::string(text) + "' " +
                  (parsed == ValueParse::not_a_number ? "is not a number" : "is out of range") + " for output " + o.name +
                  "; expected " + expected);
        return std::nullopt;
    }

    void expect(int line, const CsvCell& cell, int slot, int32_t scope, PlanStep& st) {
        const OutputSlot& o = schema_.outputs[slot];
        if (o.scope != 0 && o.scope != scope && !owned(line, cell, "output " + o.name, o.scope, scope)) return;
        const std::string_view t = cell.text;
        const ValueKind kind = kind_of(o.type);
        ExpectRange x{kind, 0, 0, 0};
        const auto dots = t.find("..");
        const auto tilde = o.type.floating ? t.find('~') : std::string_view::npos;
        const bool set = t.find('|') != std::string_view::npos;
        if (dots == std::string_view::npos && tilde == std::string_view::npos && !set) {
            const auto v = output_value(t, line, cell, o);
            if (!v) return;
            x.value = x.high = *v;
        } else if (dots != std::string_view::npos) {
            const auto lo = output_value(t.substr(0, dots), line, cell, o);
            const auto hi = lo ? output_value(t.substr(dots + 2), line, cell, o) : std::nullopt;
            if (!hi) return;
            if (value_less(kind, *hi, *lo)) {
                error(line, cell.column,
                      "range '" + std::string(t) + "' is empty; expected LOW..HIGH with LOW <= HIGH");
                return;
            }
            x.value = *lo, x.high = *hi;
        } else if (tilde != std::string_view::npos) {
            // A floating value within a stated tolerance: VALUE~TOLERANCE.
            const auto mid = output_value(t.substr(0, tilde), line, cell, o);
            const auto tol = mid ? output_value(t.substr(tilde + 1), line, cell, o) : std::nullopt;
            if (!tol) return;
            const double m = double_of(*mid), d = double_of(*tol);
            if (!(d >= 0)) {
                error(line, cell.column,
                      "tolerance in '" + std::string(t) + "' is negative; expected VALUE~TOLERANCE with TOLERANCE >= 0");
                return;
            }
            x.value = raw_of(m - d), x.high = raw_of(m + d);
        } else {
            ValueSet values;
            bool first = true;
            for (std::size_t b = 0;;) {
                const auto e = std::min(t.find('|', b), t.size());
                const auto v = output_value(t.substr(b, e - b), line, cell, o);
                if (!v) return;
                values.add(*v);
                if (first || value_less(kind, *v, x.value)) x.value = *v;
                if (first || value_less(kind, x.high, *v)) x.high = *v;
                first = false;
                if (e == t.size()) break;
                b = e + 1;
            }
            out_.sets.push_back(std::move(values));
            if (out_.sets.size() > UINT16_MAX) {
                error(line, cell.column, "too many sets of values in the suites; expected at most 65535");
                return;
            }
            x.set = static_cast<uint16_t>(out_.sets.size());
        }
        out_.expects.push_back(compact_expect(out_, slot, x));
        ++st.n_expects;
    }

    const Schema& schema_;
    const SuiteOptions& options_;
    Plan& out_;  // appended to; cut back to its former sizes when the file has problems
    uint32_t file_index_ = 0;
    std::vector<Column> columns_;
    CaseNames seen_;
    int case_col_ = -1, scope_col_ = -1, header_line_ = 0;
    std::vector<int> link_cols_;  // req, verifies, technique, description
    int current_case_ = -1, setup_ = -1;
    int case_steps_ = 0;
    uint64_t added_steps_ = 0;  // by repeats and the setup's copies
    int32_t last_scope_ = 0;
    std::string_view last_scope_text_;
};

}  // namespace

void parse_suite(const std::string& file, const std::string& text, const Schema& schema, const SuiteOptions& options,
                 Plan& plan) {
    auto diags = SuiteParser(file, schema, options, plan).parse(text);
    if (!diags.empty()) throw SuiteError(std::move(diags));
}

Plan load_suites(const std::vector<std::string>& files, const Schema& schema, const SuiteOptions& options) {
    Plan plan;
    std::vector<Diagnostic> all;
    // A suite named twice (x.csv ./x.csv, or by a link) is refused rather than
    // run twice: its cases would count twice and a diff would call them added.
    std::vector<std::pair<std::string, std::pair<dev_t, ino_t>>> seen;
    for (const auto& f : files) {
        struct stat st;
        if (stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            const auto same = std::find_if(seen.begin(), seen.end(), [&](const auto& s) {
                return s.second == std::pair{st.st_dev, st.st_ino};
            });
            if (same != seen.end()) {
                all.push_back({f, 0, 0, "the same suite file as " + same->first + "; name each suite once"});
                continue;
            }
            seen.push_back({f, {st.st_dev, st.st_ino}});
        }
        const auto text = read_input_file(f, "suite file", "a header row with at least 'case' and 'scope'", all);
        if (!text) continue;
        try {
            parse_suite(f, *text, schema, options, plan);
        } catch (const SuiteError& e) {
            all.insert(all.end(), e.diagnostics.begin(), e.diagnostics.end());
        }
    }
    if (!all.empty()) throw SuiteError(std::move(all));
    return plan;
}

std::string_view short_name(std::string_view name) {
    const auto dot = name.find('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

std::string expect_text(const Plan& plan, const PlanExpect& e) {
    const ExpectRange x = range_of(plan, e);
    if (x.set) {
        std::vector<uint64_t> members = plan.sets[x.set - 1].members;
        std::sort(members.begin(), members.end(), [&](uint64_t l, uint64_t r) { return value_less(x.kind, l, r); });
        std::string s;
        for (uint64_t v : members)
            s += (s.empty() ? "" : "|") + value_text(x.kind, v);
        return s;
    }
    if (x.value == x.high) return value_text(x.kind, x.value);
    return value_text(x.kind, x.value) + ".." + value_text(x.kind, x.high);
}

std::string expect_text_at(const Plan& plan, const PlanCase& c, int32_t step, int32_t output) {
    if (step < 0 || static_cast<uint32_t>(step) >= c.n_steps) return {};
    const PlanStep& st = plan.steps[c.first_step + static_cast<uint32_t>(step)];
    for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e)
        if (plan.expects[e].output == output) return expect_text(plan, plan.expects[e]);
    return {};
}

std::string case_id(const Plan& plan, const PlanCase& c) {
    return std::filesystem::path(plan.files[c.file]).stem().string() + ":" + c.name;
}

Plan repeat_cases(const Plan& plan, std::size_t n) {
    Plan out;
    out.files = plan.files;
    out.sets = plan.sets;
    out.ranges = plan.ranges;
    out.links = plan.links;
    if (plan.cases.empty()) return out;
    for (std::size_t k = 0; out.cases.size() < n; ++k) {
        const PlanCase& c = plan.cases[k % plan.cases.size()];
        const std::size_t round = k / plan.cases.size();
        PlanCase nc{round ? c.name + "#" + std::to_string(round + 1) : c.name,
                    c.file,
                    c.line,
                    static_cast<uint32_t>(out.steps.size()),
                    c.n_steps,
                    c.n_setup,
                    c.link};
        for (uint32_t s = 0; s < c.n_steps; ++s) {
            PlanStep st = plan.steps[c.first_step + s];
            const uint32_t fi = static_cast<uint32_t>(out.inputs.size()),
                           fe = static_cast<uint32_t>(out.expects.size());
            out.inputs.insert(out.inputs.end(), plan.inputs.begin() + st.first_input,
                              plan.inputs.begin() + st.first_input + st.n_inputs);
            out.expects.insert(out.expects.end(), plan.expects.begin() + st.first_expect,
                               plan.expects.begin() + st.first_expect + st.n_expects);
            st.first_input = fi, st.first_expect = fe;
            out.steps.push_back(st);
        }
        out.cases.push_back(std::move(nc));
    }
    return out;
}

}  // namespace kiv
