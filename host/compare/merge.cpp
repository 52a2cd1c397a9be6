// Merging results: identities checked first, then cases put back in suite
// order and each goal's first reach taken from whichever share came first.
#include "compare/merge.h"

#include "error.h"

#include <algorithm>
#include <array>
#include <map>
#include <atomic>
#include <exception>
#include <filesystem>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

namespace {

std::string identity_text(const std::string& id) {
    return id.empty() ? "none" : id;
}

// Results are merged only when one library build with one catalog produced
// them: goal numbers and meanings mean the same in all of them only then.
void check_same_origin(const std::vector<NamedResult>& in) {
    const NamedResult& first = in.front();
    for (const NamedResult& r : in) {
        // Pairs of vectors may complete across shares; each result keeps only its own pairs.
        if (r.result.mcdc)
            throw Error(r.path + ": holds MC/DC (--mcdc), which is not merged; merge results run without --mcdc");
        if (r.result.run.library_id.empty())
            throw Error(r.path + ": the result records no library identity; it cannot be merged safely");
        const auto differ = [&](const char* what, const std::string& a, const std::string& b) {
            throw Error(first.path + " and " + r.path + " are results of different " + what + " (" +
                        identity_text(a) + ", " + identity_text(b) + "); nothing was merged");
        };
        if (r.result.run.library_id != first.result.run.library_id)
            differ("library builds", first.result.run.library_id, r.result.run.library_id);
        if (r.result.run.catalog_id != first.result.run.catalog_id)
            differ("catalogs", first.result.run.catalog_id, r.result.run.catalog_id);
        const auto& a = first.result.goals;
        const auto& b = r.result.goals;
        const bool same_goals = a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto& x, auto& y) {
                                    return x.id == y.id && x.goal == y.goal;
                                });
        if (!same_goals) throw Error(first.path + " and " + r.path + " list different goals; nothing was merged");
    }
}

// The shares of a split are each there once: a missing share would merge into
// a result that silently lacks its cases.
void check_shards(const std::vector<NamedResult>& in) {
    std::map<int32_t, std::vector<const NamedResult*>> by_index;
    int32_t count = 0;
    const NamedResult* counted = nullptr;
    for (const NamedResult& r : in) {
        const RunDescription& d = r.result.run;
        if (d.shard_index < 0) continue;
        if (counted && d.shard_count != count)
            throw Error(counted->path + " and " + r.path + " are shares of different splits (" + std::to_string(count) +
                        " and " + std::to_string(d.shard_count) + " shards); nothing was merged");
        count = d.shard_count, counted = &r;
        by_index[d.shard_index].push_back(&r);
    }
    for (const auto& [index, results] : by_index)
        if (results.size() > 1)
            throw Error("shard " + std::to_string(index) + "/" + std::to_string(count) + " is given twice (" +
                        results[0]->path + ", " + results[1]->path + "); nothing was merged");
    if (!counted) return;
    std::vector<int32_t> missing;
    for (int32_t k = 0; k < count; ++k)
        if (!by_index.count(k)) missing.push_back(k);
    if (missing.empty()) return;
    // As ranges of consecutive shards, so that a split of thousands with
    // most shares missing still gives one short line.
    std::string list;
    std::size_t ranges = 0, left = 0;
    for (std::size_t i = 0; i < missing.size();) {
        std::size_t j = i;
        while (j + 1 < missing.size() && missing[j + 1] == missing[j] + 1) ++j;
        if (ranges++ < 8)
            list += (i ? ", " : "") + std::to_string(missing[i]) +
                    (j > i ? "-" + std::to_string(missing[j]) : std::string()) + "/" + std::to_string(count);
        else
            left += j - i + 1;
        i = j + 1;
    }
    if (left) list += " and " + std::to_string(left) + " more";
    throw Error((missing.size() == 1 ? "shard " + list + " is" : "shards " + list + " are") +
                " missing; nothing was merged");
}

template <class T>
void add_unique(std::vector<T>& to, const std::vector<T>& from) {
    for (const T& x : from)
        if (std::find(to.begin(), to.end(), x) == to.end()) to.push_back(x);
}

// Case IDs seen so far, as (suite, name) in an open-addressed table of
// 8-byte slots: a merge of 64 shards checks some 640,000, and a node and a
// string each would cost more than the rest of the merge.
class CaseIds {
public:
    CaseIds(const std::vector<CaseResult>& cases, std::size_t n) : cases_(cases) {
        std::size_t size = 16;
        while (size < 2 * n) size *= 2;
        slots_.resize(size);
    }
    static std::size_t hash(const CaseResult& c) {
        return std::hash<std::string_view>{}(c.name) ^ std::hash<std::string_view>{}(c.suite);
    }
    // The table is far larger than a cache: a slot asked for a few cases
    // ahead is there when its case is added.
    void prefetch(std::size_t h) const { __builtin_prefetch(&slots_[h & (slots_.size() - 1)]); }
    // Adds cases[index], whose hash is h; returns the index of the case of
    // the same ID added before, or -1.
    int64_t add(uint32_t index, std::size_t h) {
        const CaseResult& c = cases_[index];
        const std::size_t mask = slots_.size() - 1;
        const auto tag = static_cast<uint32_t>(h >> 32);
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.index_plus_1 == 0) {
                s = {tag, index + 1};
                return -1;
            }
            const CaseResult& o = cases_[s.index_plus_1 - 1];
            if (s.tag == tag && o.name == c.name && o.suite == c.suite) return s.index_plus_1 - 1;
        }
    }

private:
    struct Slot {
        uint32_t tag = 0, index_plus_1 = 0;
    };
    const std::vector<CaseResult>& cases_;
    std::vector<Slot> slots_;
};

RunDescription merged_description(const std::vector<NamedResult>& in) {
    RunDescription d = in.front().result.run;
    d.suites.clear(), d.justification_files.clear(), d.inputs.clear(), d.command_line.clear();
    d.seconds = d.parse_seconds = d.run_seconds = d.report_seconds = 0;
    d.shard_index = -1, d.shard_count = 0;
    for (const NamedResult& r : in) {
        const RunDescription& x = r.result.run;
        add_unique(d.suites, x.suites);
        add_unique(d.justification_files, x.justification_files);
        for (const InputFile& f : x.inputs)
            if (std::none_of(d.inputs.begin(), d.inputs.end(), [&](const InputFile& g) {
                    return g.role == f.role && g.path == f.path && g.sha256 == f.sha256;
                }))
                d.inputs.push_back(f);
        if (x.isolation != d.isolation) d.isolation = "mixed";
        if (!x.started.empty() && (d.started.empty() || x.started < d.started)) d.started = x.started;
        // Added up: the machine time the shares took, not the wall time of a parallel run.
        d.seconds += x.seconds, d.parse_seconds += x.parse_seconds;
        d.run_seconds += x.run_seconds, d.report_seconds += x.report_seconds;
    }
    return d;
}

}  // namespace

// One suite named by two paths (absolute in one run, relative in another) is
// one suite: each spelling is replaced by the first one seen for the same
// content (the SHA-256 the result recorded; for an older result, device and
// inode where it can be found from here, else the normal path), so its cases
// sort together and one seen twice is refused. One path that held different
// contents in two runs is refused: those are different suites.
void one_spelling_per_suite(std::vector<NamedResult>& in) {
    std::unordered_map<std::string, std::pair<std::string, const std::string*>> content;  // path -> sha, result
    std::unordered_map<std::string, std::string> sha_of;
    for (const NamedResult& r : in)
        for (const InputFile& f : r.result.run.inputs) {
            if (f.role != "suite" || f.sha256.empty()) continue;
            const std::string path = std::filesystem::path(f.path).lexically_normal().string();
            const auto [it, fresh] = content.emplace(path, std::pair{f.sha256, &r.path});
            if (!fresh && it->second.first != f.sha256)
                throw Error("suite " + f.path + " had different contents in " + *it->second.second + " and " + r.path +
                            " (" + it->second.first + ", " + f.sha256 + "); nothing was merged");
            sha_of[f.path] = f.sha256;
        }
    std::unordered_map<std::string, std::string> spelling, first_of;
    const auto canon = [&](const std::string& s) -> const std::string& {
        if (auto it = spelling.find(s); it != spelling.end()) return it->second;
        struct stat st;
        const auto sha = sha_of.find(s);
        const std::string key = sha != sha_of.end()            ? sha->second
                                : stat(s.c_str(), &st) == 0 ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)
                                                            : std::filesystem::path(s).lexically_normal().string();
        const std::string& chosen = first_of.emplace(key, s).first->second;
        return spelling.emplace(s, chosen).first->second;
    };
    for (NamedResult& r : in) {
        for (std::string& s : r.result.run.suites)
            s = canon(s);
        for (InputFile& f : r.result.run.inputs)
            if (f.role == "suite") f.path = canon(f.path);
        for (CaseResult& c : r.result.cases)
            if (const std::string& to = canon(c.suite); to != c.suite) c.suite = to;
    }
}

Result merge_results(std::vector<NamedResult> in) {
    if (in.empty()) throw Error("no results to merge");
    check_same_origin(in);
    check_shards(in);
    one_spelling_per_suite(in);

    Result out;
    out.run = merged_description(in);
    std::unordered_map<std::string, std::size_t> suite_pos;
    for (const auto& s : out.run.suites)
        suite_pos.emplace(s, suite_pos.size());

    // Every case by (suite, line); the sort is stable, so cases of one line
    // (which only different suites of one name can give) keep input order.
    struct Ref {
        std::size_t suite;
        int32_t line;
        uint32_t input, index;
    };
    std::vector<Ref> refs;
    std::size_t total = 0;
    for (const NamedResult& r : in)
        total += r.result.cases.size();
    refs.reserve(total);
    for (uint32_t i = 0; i < in.size(); ++i)
        for (uint32_t c = 0; c < in[i].result.cases.size(); ++c) {
            const CaseResult& cr = in[i].result.cases[c];
            auto at = suite_pos.find(cr.suite);  // not emplace: it would build a node for every case
            if (at == suite_pos.end()) {
                at = suite_pos.emplace(cr.suite, suite_pos.size()).first;
                out.run.suites.push_back(cr.suite);
            }
            refs.push_back({at->second, cr.line, i, c});
        }
    std::stable_sort(refs.begin(), refs.end(), [](const Ref& a, const Ref& b) {
        return a.suite != b.suite ? a.suite < b.suite : a.line < b.line;
    });

    std::vector<std::vector<int64_t>> moved_to(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        moved_to[i].resize(in[i].result.cases.size());
    CaseIds seen(out.cases, total);
    std::vector<uint32_t> came_from;  // input of each merged case, for messages
    came_from.reserve(total);
    out.cases.reserve(total);
    // Some 130 MB of fresh memory for a merge of 640,000 cases: another core
    // faults its pages in, without writing to them, while this one moves the
    // cases, which would otherwise stop at every new page.
    const std::jthread populate([from = reinterpret_cast<uintptr_t>(out.cases.data()),
                                 bytes = total * sizeof(CaseResult)] {
        const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)), start = from & ~(page - 1);
        madvise(reinterpret_cast<void*>(start), from + bytes - start, MADV_POPULATE_WRITE);  // a hint: failure is harmless
    });
    // Cases come from 64 inputs in turn, each a cache miss, as is each table
    // slot: both are touched a few cases ahead.
    constexpr std::size_t kAhead = 8;
    std::array<std::size_t, kAhead> hashes{};
    const auto ahead = [&](std::size_t k) {
        const std::size_t h = CaseIds::hash(in[refs[k].input].result.cases[refs[k].index]);
        seen.prefetch(h);
        hashes[k % kAhead] = h;
    };
    for (std::size_t k = 0; k < std::min(kAhead, refs.size()); ++k)
        ahead(k);
    for (std::size_t k = 0; k < refs.size(); ++k) {
        const Ref& ref = refs[k];
        const std::size_t h = hashes[k % kAhead];
        if (k + kAhead < refs.size()) ahead(k + kAhead);
        moved_to[ref.input][ref.index] = static_cast<int64_t>(out.cases.size());
        CaseResult& c = out.cases.emplace_back(std::move(in[ref.input].result.cases[ref.index]));
        came_from.push_back(ref.input);
        if (const int64_t other = seen.add(static_cast<uint32_t>(out.cases.size() - 1), h); other >= 0)
            throw Error("case " + c.id() + " is in both " + in[came_from[static_cast<std::size_t>(other)]].path +
                        " and " + in[ref.input].path + "; nothing was merged");
        if (c.shard < 0) c.shard = in[ref.input].result.run.shard_index;
    }

    out.goals = in.front().result.goals;
    for (std::size_t g = 0; g < out.goals.size(); ++g) {
        GoalResult& goal = out.goals[g];
        goal.first_case = -1, goal.first_step = 0, goal.count = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const GoalResult& x = in[i].result.goals[g];
            if (!goal.justification && x.justification) goal.justification = x.justification;
            if (!goal.unsettled && x.unsettled) goal.unsettled = x.unsettled;
            goal.count += x.count;  // the shards ran disjoint cases
            if (!x.reached()) continue;
            const int64_t at = moved_to[i][static_cast<std::size_t>(x.first_case)];
            if (!goal.reached() || at < goal.first_case) goal.first_case = at, goal.first_step = x.first_step;
        }
    }
    // A case's unique goals stay unique only when no other result reached them.
    std::vector<int> reached_in(out.goals.size());
    for (const NamedResult& r : in)
        for (std::size_t g = 0; g < r.result.goals.size(); ++g)
            reached_in[g] += r.result.goals[g].reached();
    for (CaseResult& c : out.cases)
        std::erase_if(c.unique_goals, [&](int32_t g) { return reached_in.at(static_cast<std::size_t>(g)) > 1; });
    for (const NamedResult& r : in)
        for (const Threshold& t : r.result.thresholds)
            if (std::none_of(out.thresholds.begin(), out.thresholds.end(), [&](const Threshold& x) {
                    return x.criterion == t.criterion && x.percent == t.percent;
                }))
                out.thresholds.push_back(t);
    merge_trace(in, moved_to, out);
    return out;
}

Result merge_files(const std::vector<std::string>& paths) {
    // Read on every core: reading is most of a merge's time.
    std::vector<NamedResult> in(paths.size());
    std::vector<std::exception_ptr> failed(paths.size());
    std::atomic<std::size_t> next{0};
    auto reader = [&] {
        for (std::size_t i; (i = next++) < paths.size();) try {
                in[i] = {paths[i], read_json_file(paths[i])};
            } catch (...) {
                failed[i] = std::current_exception();
            }
    };
    const std::size_t workers = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), paths.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < workers; ++t)
        threads.emplace_back(reader);
    reader();
    for (auto& t : threads)
        t.join();
    // The first bad file in the order given, whichever thread met it first.
    for (const auto& e : failed)
        if (e) std::rethrow_exception(e);
    return merge_results(std::move(in));
}

}  // namespace kiv
