// Checks for --mcdc before a run, and the MC/DC section after it.
#include "mcdc/mcdc_measure.h"

#include "error.h"
#include "instrumentation/probe_records.h"

#include <charconv>

namespace kiv {

namespace {

// A decision without condition records is its own one condition.
std::vector<std::string> condition_records(const CatalogRecord& d) {
    return d.conditions.empty() ? std::vector<std::string>{d.record} : d.conditions;
}

std::optional<std::size_t> condition_named(const CatalogRecord& d, const std::string& text) {
    const auto records = condition_records(d);
    std::size_t i = 0;
    const char* end = text.data() + text.size();
    if (auto [p, ec] = std::from_chars(text.data(), end, i); ec == std::errc() && p == end)
        return i < records.size() ? std::optional(i) : std::nullopt;
    for (std::size_t k = 0; k < records.size(); ++k)
        if (records[k] == text) return k;
    return std::nullopt;
}

void resolve_justifications(const std::vector<Justification>& rows, McdcSetup& setup) {
    std::vector<Diagnostic> problems;
    std::map<std::pair<std::size_t, std::size_t>, std::string> where;
    for (const auto& j : rows) {
        auto fail = [&](const std::string& why) { problems.push_back({j.file, j.line, j.column, why}); };
        std::size_t d = 0;
        while (d < setup.decisions.size() && setup.decisions[d]->record != j.mcdc_decision)
            ++d;
        if (d == setup.decisions.size()) {
            fail("MC/DC condition of '" + j.mcdc_decision + "': the catalog lists no such decision with its conditions");
            continue;
        }
        const auto c = condition_named(*setup.decisions[d], j.mcdc_condition);
        if (!c) {
            const auto n = condition_records(*setup.decisions[d]).size();
            fail("'" + j.mcdc_condition + "' is not a condition of " + j.mcdc_decision + "; expected an index from 0 to " +
                 std::to_string(n - 1) + " or one of its condition records");
            continue;
        }
        const std::string here = j.file + ":" + std::to_string(j.line);
        if (auto [it, fresh] = where.emplace(std::pair(d, *c), here); !fresh) {
            fail("MCDC:" + j.mcdc_decision + ":" + j.mcdc_condition + " is already justified at " + it->second +
                 "; expected each MC/DC condition once across all justification files");
            continue;
        }
        setup.justified[{d, *c}] = Justified{j.reason, j.file, j.line, j.method, j.proof, j.tool};
    }
    if (!problems.empty()) throw SuiteError(std::move(problems));
}

void find_records(const Target& target, McdcSetup& setup) {
    const Library& lib = target.library();
    if (!lib.has_symbol_table())
        throw Error("--mcdc: library " + lib.path() +
                    " has no symbol table (stripped?): the decision and condition records are read by symbol");
    auto find = [&](const std::string& name, std::size_t size) {
        volatile uint8_t* at = lib.data_symbol(name, size);
        if (!at) throw Error("--mcdc: library " + lib.path() + " has no symbol for probe record " + name);
        return at;
    };
    for (const CatalogRecord* d : setup.decisions) {
        mcdc::Watched w;
        w.decision = find(d->record, sizeof(IXA_DC_RECORD));
        for (const auto& c : d->conditions)
            w.conditions.push_back(find(c, sizeof(IXA_CC_RECORD)));
        setup.watched.push_back(std::move(w));
    }
}

McdcRef ref(const mcdc::Observations& o, std::size_t d, std::size_t v) {
    const mcdc::Vector& x = o.seen[d][v];
    return {o.first_seen[d][v].case_index, o.first_seen[d][v].step, {x.values, x.outcome}};
}

}  // namespace

McdcSetup prepare_mcdc(const Target& target, const std::vector<Justification>& rows, bool measure) {
    McdcSetup setup;
    if (!measure && rows.empty()) return setup;
    const Catalog& cat = target.catalog();
    const std::string why = measure ? "--mcdc" : "MC/DC justifications";
    if (!cat.present())
        throw Error(why + (measure ? " needs" : " need") +
                    " the library's catalog, which names its decisions and conditions");
    for (const auto& r : cat.records)
        if (r.kind == "DC" && !r.expression.empty()) {
            setup.decisions.push_back(&r);
            try {
                setup.expressions.emplace_back(r.expression, r.conditions.size());
            } catch (const Error& e) {
                throw Error("catalog " + cat.path + ": decision " + r.record + ": " + e.what());
            }
        }
    if (setup.decisions.empty())
        throw Error(why + ": catalog " + cat.path +
                    " lists no decisions with their conditions (written by an older build?); rebuild the library");
    resolve_justifications(rows, setup);
    if (measure) find_records(target, setup);
    return setup;
}

McdcSection measure_mcdc(const Target& target, const Plan& plan, const RunResult& run, const McdcSetup& setup,
                         const RunOptions& options) {
    const mcdc::Observations o =
        mcdc::replay(target, plan, run, setup.watched, options.isolation, options.step_timeout);
    McdcSection m;
    m.steps = o.steps;
    m.steps_not_replayed = o.not_replayed;
    for (std::size_t d = 0; d < setup.decisions.size(); ++d) {
        const CatalogRecord& rec = *setup.decisions[d];
        McdcDecision md{rec.record, rec.function, rec.file, rec.line, rec.column, rec.expression, {},
                        o.vectors[d], o.repeated[d]};
        const auto verdicts = mcdc::analyse(setup.expressions[d], o.seen[d]);
        const auto records = condition_records(rec);
        for (std::size_t c = 0; c < verdicts.size(); ++c) {
            const auto& v = verdicts[c];
            McdcCondition mc;
            mc.record = records[c];
            mc.shown = v.shown;
            if (v.shown) {
                mc.first = ref(o, d, v.first);
                mc.second = ref(o, d, v.second);
            }
            for (const auto& x : v.missing)
                mc.missing.push_back({x.values, x.outcome});
            if (v.partner != SIZE_MAX) mc.partner = ref(o, d, v.partner);
            if (auto it = setup.justified.find({d, c}); it != setup.justified.end()) mc.justification = it->second;
            md.conditions.push_back(std::move(mc));
        }
        m.decisions.push_back(std::move(md));
    }
    return m;
}

}  // namespace kiv
