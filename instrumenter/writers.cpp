// The files kivinst writes beside an instrumented source: its record table,
// its sites file and a Make depfile.
#include "instrument.h"

#include "files.h"
#include "path_text.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kivinst {
namespace {

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else
            out += c;
    }
    return out + "\"";
}

// Make reads a space as a separator, '#' as a comment and '$' as a variable.
std::string make_escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

}  // namespace

std::string depfile(const std::string& target, const std::vector<std::string>& files) {
    std::string out = make_escaped(target) + ":";
    for (const auto& f : files) out += " \\\n  " + make_escaped(f);
    return out + "\n";
}

std::string records_def(const Options& options, const std::vector<Record>& records) {
    std::ostringstream def;
    def << "// Probe records of translation unit " << options.unit << ", written by kivinst from "
        << relative_path(options.source, options.root)
        << ",\n"
        << "// one row per probe call site, in source order.\n"
        << "//\n"
        << "// IXA_RECORD(kind, record, function, what the call site observes)\n"
        << "#ifndef IXA_RECORD\n"
        << "#error \"define IXA_RECORD(kind, record, function, text) before including this file\"\n"
        << "#endif\n";
    std::string function;
    for (const Record& r : records) {
        if (r.function != function) def << "\n";
        function = r.function;
        def << "IXA_RECORD(" << r.kind << ", " << r.name << ", " << r.function << ", \"" << r.text << "\")\n";
    }
    // A unit's records.def includes every table of the unit under one IXA_RECORD.
    def << "\n#ifndef IXA_RECORD_KEEP\n#undef IXA_RECORD\n#endif\n";
    return def.str();
}

std::string sites_json(const Options& options, const std::vector<Record>& records) {
    std::ostringstream js;
    js << "{\"format\": 1, \"unit\": " << options.unit
       << ", \"source\": " << json_string(kiv::path_text(relative_path(options.source, options.root)))
       << ",\n \"sites\": [";
    const char* sep = "\n  ";
    for (const Record& r : records) {
        js << sep << "{\"record\": " << json_string(r.name) << ", \"kind\": " << json_string(r.kind)
           << ", \"function\": " << json_string(r.function) << ", \"file\": " << json_string(kiv::path_text(r.file))
           << ", \"line\": " << r.line << ", \"column\": " << r.column;
        if (r.kind == "CC") js << ", \"decision\": " << json_string(r.decision);
        if (r.kind == "DC") {
            js << ", \"conditions\": [";
            for (std::size_t i = 0; i < r.conditions.size(); ++i) js << (i ? ", " : "") << json_string(r.conditions[i]);
            js << "], \"expression\": " << json_string(r.expression);
        }
        if (!r.unreachable.empty()) {
            js << ", \"unreachable\": {";
            const char* comma = "";
            for (const auto& [field, why] : r.unreachable) js << comma << json_string(field) << ": " << json_string(why), comma = ", ";
            js << "}";
        }
        if (r.kind == "STM") {
            // Ranges in line order, overlapping and adjacent ones joined.
            auto lines = r.lines;
            std::sort(lines.begin(), lines.end());
            std::vector<std::pair<unsigned, unsigned>> merged;
            for (const auto& l : lines)
                if (!merged.empty() && l.first <= merged.back().second + 1)
                    merged.back().second = std::max(merged.back().second, l.second);
                else
                    merged.push_back(l);
            js << ", \"lines\": [";
            for (std::size_t i = 0; i < merged.size(); ++i)
                js << (i ? ", " : "") << "[" << merged[i].first << ", " << merged[i].second << "]";
            js << "]";
        }
        if (r.constants) {
            js << ", \"constants\": [";
            for (std::size_t i = 0; i < r.constants->size(); ++i) js << (i ? ", " : "") << (*r.constants)[i];
            js << "]";
        }
        js << "}";
        sep = ",\n  ";
    }
    js << "\n]}\n";
    return js.str();
}

}  // namespace kivinst
