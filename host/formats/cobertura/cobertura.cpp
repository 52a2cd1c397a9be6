// Cobertura XML: a package per source folder, a class per source file, a
// method per function. Lines are those with statement or branch goals (hits
// as line_hits counts them, as gcov would); branches are the outcomes of
// decision, condition, comparison, switch-case and cast probes.
#include "formats/source.h"

#include "error.h"
#include "path_text.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

namespace kiv {

namespace {

std::string rate(std::size_t part, std::size_t whole) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", whole ? static_cast<double>(part) / static_cast<double>(whole) : 1.0);
    return buf;
}

struct Tally {
    std::size_t lines = 0, lines_hit = 0, branches = 0, branches_hit = 0;
    void add(const LineHits& l) {
        ++lines;
        if (l.hits) ++lines_hit;
        branches += l.branches;
        branches_hit += l.branches_reached;
    }
    std::string rates() const {
        return "line-rate=\"" + rate(lines_hit, lines) + "\" branch-rate=\"" + rate(branches_hit, branches) + "\"";
    }
};

void write_lines(const std::vector<LineHits>& lines, std::ostream& out, const std::string& indent) {
    out << indent << "<lines>\n";
    for (const LineHits& l : lines) {
        out << indent << "  <line number=\"" << l.line << "\" hits=\"" << l.hits << "\"";
        if (l.branches)
            out << " branch=\"true\" condition-coverage=\"" << l.branches_reached * 100 / l.branches << "% ("
                << l.branches_reached << "/" << l.branches << ")\"";
        else
            out << " branch=\"false\"";
        out << "/>\n";
    }
    out << indent << "</lines>\n";
}

// Seconds since the epoch of the run's start ("2026-12-07T23:04:02Z"); 0 when unknown.
long long epoch_of(const std::string& iso) {
    std::tm tm{};
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(timegm(&tm));
}

}  // namespace

void write_cobertura(const Result& result, std::ostream& out, const std::string& source_root) {
    struct File {
        std::string name;
        std::vector<LineHits> lines;
    };
    std::map<std::string, std::vector<File>> packages;  // by folder
    Tally total;
    for (const FileGoals& f : goals_by_file(result)) {
        File file{f.file, line_hits(result, f)};
        for (const LineHits& l : file.lines)
            total.add(l);
        packages[std::filesystem::path(f.file).parent_path().generic_string()].push_back(std::move(file));
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<coverage " << total.rates() << " lines-covered=\"" << total.lines_hit << "\" lines-valid=\"" << total.lines
        << "\" branches-covered=\"" << total.branches_hit << "\" branches-valid=\"" << total.branches
        << "\" complexity=\"0\" version=\"kivrun\" timestamp=\"" << epoch_of(result.run.started) * 1000 << "\">\n"
        << "  <sources>\n    <source>" << xml_text(path_text(source_path(source_root, ".")))
        << "</source>\n  </sources>\n  <packages>\n";
    for (const auto& [folder, files] : packages) {
        Tally pkg;
        for (const File& f : files)
            for (const LineHits& l : f.lines)
                pkg.add(l);
        out << "    <package name=\"" << xml_text(folder.empty() ? "." : folder) << "\" " << pkg.rates()
            << " complexity=\"0\">\n      <classes>\n";
        for (const File& f : files) {
            Tally cls;
            std::map<std::string, std::vector<LineHits>> methods;
            for (const LineHits& l : f.lines) {
                cls.add(l);
                methods[l.function].push_back(l);
            }
            out << "        <class name=\"" << xml_text(std::filesystem::path(f.name).stem().string())
                << "\" filename=\"" << xml_text(f.name) << "\" " << cls.rates()
                << " complexity=\"0\">\n          <methods>\n";
            for (const auto& [name, lines] : methods) {
                Tally m;
                for (const LineHits& l : lines)
                    m.add(l);
                out << "            <method name=\"" << xml_text(name) << "\" signature=\"()\" " << m.rates()
                    << " complexity=\"0\">\n";
                write_lines(lines, out, "              ");
                out << "            </method>\n";
            }
            out << "          </methods>\n";
            write_lines(f.lines, out, "          ");
            out << "        </class>\n";
        }
        out << "      </classes>\n    </package>\n";
    }
    out << "  </packages>\n</coverage>\n";
}

}  // namespace kiv
