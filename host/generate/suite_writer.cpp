// Generated suites as CSV text, and writing files whole or not at all.
#include "generate/suite_writer.h"

#include "formats/report_files.h"

#include "suite/csv_write.h"
#include "suite/value.h"
#include "error.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

namespace kiv::gen {

namespace {

// One row's cells keyed by column; the header is every column some row uses.
struct Table {
    std::vector<std::string> inputs_used, outputs_used;
    std::vector<std::map<std::string, std::string>> rows;
};


// Lays out cases as rows: a cell where an input changes, an expectation where
// an output of the step's scope changed or the scope did.
struct Layout {
    const Schema& schema;
    const Runner& runner;
    std::vector<uint8_t> input_used, output_used;
    std::vector<std::vector<std::pair<std::string, std::string>>> rows;  // (column, text)

    Layout(const Schema& s, const Runner& r)
        : schema(s), runner(r), input_used(s.inputs.size(), 0), output_used(r.outputs().size(), 0) {}

    void add(const std::string& name, const Case& c, const Observation* seen, const std::string& note) {
        std::vector<int64_t> current = runner.at_load();
        const std::size_t n_out = runner.outputs().size();
        for (std::size_t k = 0; k < c.size(); ++k) {
            std::vector<std::pair<std::string, std::string>> row{{"case", name}};
            if (k == 0 || c[k].scope != c[k - 1].scope) row.push_back({"scope", scope_name(schema, c[k].scope)});
            for (const Set& x : c[k].sets)
                if (runner.writes(current, x)) {
                    current[x.input] = x.value;
                    input_used[x.input] = 1;
                    const ValueType& t = schema.inputs[x.input].type;
                    row.push_back({"i" + std::to_string(x.input),
                                   t.enumerators.empty() ? std::to_string(x.value) : cell_text(t, static_cast<uint64_t>(x.value))});
                }
            for (std::size_t j = 0; seen && j < n_out; ++j) {
                const int32_t owner = schema.outputs[runner.outputs()[j]].scope;
                if (owner != 0 && owner != c[k].scope) continue;
                const uint64_t v = seen->outputs[k * n_out + j];
                if (k > 0 && c[k - 1].scope == c[k].scope && seen->outputs[(k - 1) * n_out + j] == v) continue;
                std::string text = cell_text(schema.outputs[runner.outputs()[j]].type, v);
                if (text.empty()) continue;
                output_used[j] = 1;
                row.push_back({"o" + std::to_string(j), std::move(text)});
            }
            if (k == 0 && !note.empty()) row.push_back({"note", note});
            rows.push_back(std::move(row));
        }
    }

    std::string text(const std::string& comment) const {
        std::vector<std::pair<std::string, std::string>> cols{{"case", "case"}, {"scope", "scope"}};
        for (std::size_t i = 0; i < input_used.size(); ++i)
            if (input_used[i]) cols.push_back({"i" + std::to_string(i), schema.inputs[i].name});
        for (std::size_t j = 0; j < output_used.size(); ++j)
            if (output_used[j]) cols.push_back({"o" + std::to_string(j), "expect " + schema.outputs[runner.outputs()[j]].name});
        cols.push_back({"note", "note"});
        std::string out;
        std::size_t from = 0;
        for (std::size_t to; (to = comment.find('\n', from)) != std::string::npos; from = to + 1)
            out += "# " + comment.substr(from, to - from) + "\n";
        for (std::size_t i = 0; i < cols.size(); ++i)
            out += (i ? "," : "") + csv_field(cols[i].second);
        out += "\n";
        for (const auto& row : rows) {
            std::string line;
            for (std::size_t i = 0; i < cols.size(); ++i) {
                if (i) line += ",";
                for (const auto& [key, text] : row)
                    if (key == cols[i].first) line += csv_field(text);
            }
            while (!line.empty() && line.back() == ',')
                line.pop_back();
            out += line + "\n";
        }
        return out;
    }
};

}  // namespace

std::string goal_label(const GoalSlot& goal) {
    return goal.info ? "KIV_G" + std::to_string(goal.info->goal) : std::to_string(goal.id);
}

std::string case_name_for(const GoalSlot& goal) {
    if (!goal.info) return "reaches_" + std::to_string(goal.id);
    // A field through a pointer reads as a path: "->" goes before ">" can take it.
    static const std::pair<const char*, const char*> kWords[] = {
        {"->", "."},   {"==", " eq "},  {"!=", " ne "}, {"<=", " le "}, {">=", " ge "},  {"<", " lt "},
        {">", " gt "}, {"&&", " and "}, {"||", " or "}, {"!", " not "}, {"+", " plus "}, {"^", " xor "}};
    std::string m = goal.info->meaning;
    for (const auto& [op, word] : kWords)
        for (std::size_t at; (at = m.find(op)) != std::string::npos;)
            m.replace(at, std::strlen(op), word);
    std::string slug;
    for (char c : m) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (alnum)
            slug += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!slug.empty() && slug.back() != '_')
            slug += '_';
    }
    // Long meanings (call names) are cut at a word boundary.
    if (slug.size() > 48) {
        const std::size_t cut = slug.rfind('_', 48);
        slug.resize(cut == std::string::npos || cut < 16 ? 48 : cut);
    }
    while (!slug.empty() && slug.back() == '_')
        slug.pop_back();
    return "reaches_G" + std::to_string(goal.info->goal) + (slug.empty() ? "" : "_" + slug);
}

std::string suite_csv(const Schema& schema, const Runner& runner, const std::vector<Chosen>& suite,
                      const std::vector<std::size_t>& rarity, const std::string& comment) {
    Layout layout(schema, runner);
    std::set<std::string> names;
    for (const Chosen& c : suite) {
        std::size_t pick = c.goals.empty() ? 0 : c.goals.front();
        for (std::size_t g : c.goals)
            if (rarity[g] < rarity[pick]) pick = g;
        std::string name = c.goals.empty() ? "case" : case_name_for(schema.goals[pick]);
        for (int k = 2; !names.insert(name).second; ++k)
            name = case_name_for(schema.goals[pick]) + "_" + std::to_string(k);
        std::vector<std::size_t> goals = c.goals;
        std::sort(goals.begin(), goals.end(), [&](std::size_t a, std::size_t b) {
            const auto n = [&](std::size_t g) { return schema.goals[g].info ? schema.goals[g].info->goal : schema.goals[g].id; };
            return n(a) < n(b);
        });
        std::string note = "for";
        for (std::size_t g : goals)
            note += " " + goal_label(schema.goals[g]);
        layout.add(name, c.steps, &c.seen, note);
    }
    return layout.text(comment);
}

std::string found_csv(const Schema& schema, const Runner& runner, const std::vector<Found>& cases,
                      const std::string& comment) {
    Layout layout(schema, runner);
    for (const Found& f : cases)
        layout.add(f.name, f.steps, nullptr, f.note);
    return layout.text(comment);
}

std::string beside_suite(const std::string& suite_path, const std::string& kind) {
    const std::string ext = ".csv";
    if (suite_path.size() > ext.size() && suite_path.compare(suite_path.size() - ext.size(), ext.size(), ext) == 0)
        return suite_path.substr(0, suite_path.size() - ext.size()) + "." + kind + ".csv";
    return suite_path + "." + kind + ".csv";
}

void check_writable(const std::string& path, bool force) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw Error("cannot write " + path + ": it is a directory");
        if (!force) throw Error(path + " exists; give --force to overwrite it");
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Error("cannot write " + path + ": directory " + dir + " does not exist");
    if (access(dir.c_str(), W_OK) != 0) throw Error("cannot write " + path + ": directory " + dir + " is not writable");
}

void write_atomically(const std::string& path, const std::string& text) {
    write_report_file(path, [&](std::ostream& out) { out << text; });
}

}  // namespace kiv::gen
