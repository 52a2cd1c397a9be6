// Differential test of two harness libraries of one unit (the hand-written
// seat heater and the one kivinst harness generates): random step sequences,
// each from the load-time state, the same inputs and scope into both, and
// after every step every output and every goal must agree.
//
//   harness_differential LIB_A CATALOG_A LIB_B CATALOG_B [SEQUENCES] [SEED]
#include <dlfcn.h>
#include <fcntl.h>
#include <gelf.h>
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

struct Output {
    std::string name, type;
    const void* at = nullptr;
};

struct Library {
    std::string path;
    void* handle = nullptr;
    int32_t* scope_uid = nullptr;
    void (*register_inputs)(int32_t, int32_t, const char*) = nullptr;
    void (*register_outputs)(int32_t, int32_t, const char*) = nullptr;
    void (*set_input)(int32_t, int64_t) = nullptr;
    int64_t (*get_output)(int32_t) = nullptr;
    void (*step)() = nullptr;
    std::map<std::string, Output> outputs;  // by full name
};

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "harness_differential: " << why << "\n";
    std::exit(2);
}

template <class T>
void resolve(Library& lib, const char* name, T& slot) {
    slot = reinterpret_cast<T>(dlsym(lib.handle, name));
    if (!slot) fail(lib.path + " exports no " + name);
}

// Harness variables are hidden: their addresses come from the symbol table.
std::map<std::string, uint64_t> local_objects(const std::string& path) {
    std::map<std::string, uint64_t> out;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) fail("cannot read " + path);
    elf_version(EV_CURRENT);
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    for (Elf_Scn* scn = nullptr; elf && (scn = elf_nextscn(elf, scn));) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        for (size_t i = 0; data && i < sh.sh_size / sh.sh_entsize; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, static_cast<int>(i), &sym) || GELF_ST_TYPE(sym.st_info) != STT_OBJECT) continue;
            if (const char* name = elf_strptr(elf, sh.sh_link, sym.st_name)) out[name] = sym.st_value;
        }
    }
    if (elf) elf_end(elf);
    close(fd);
    return out;
}

json read_json(const std::string& path) {
    std::ifstream in(path);
    if (!in) fail("cannot read " + path);
    try {
        return json::parse(in);
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
    }
}

Library load(const std::string& path, const json& catalog) {
    Library lib;
    lib.path = path;
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle) fail(std::string("cannot load ") + dlerror());
    resolve(lib, "KIV_SCOPE_UID", lib.scope_uid);
    resolve(lib, "kiv_register_inputs", lib.register_inputs);
    resolve(lib, "kiv_register_outputs", lib.register_outputs);
    resolve(lib, "kiv_dll_set_input_int", lib.set_input);
    resolve(lib, "kiv_dll_get_output_int", lib.get_output);
    resolve(lib, "kiv_dll_step", lib.step);
    link_map* map = nullptr;
    if (dlinfo(lib.handle, RTLD_DI_LINKMAP, &map) != 0 || !map) fail("cannot locate " + path);
    const auto symbols = local_objects(path);
    for (const auto& o : catalog.at("outputs")) {
        Output out;
        out.name = o.at("name").get<std::string>();
        out.type = o.value("type", std::string("uint8_t"));
        auto s = symbols.find(o.at("variable").get<std::string>());
        if (s == symbols.end()) fail(path + " has no symbol " + o.at("variable").get<std::string>());
        out.at = reinterpret_cast<const void*>(map->l_addr + s->second);
        lib.outputs[out.name] = out;
    }
    return lib;
}

std::string value(const Output& o) {
    auto get = [&](auto v) {
        std::memcpy(&v, o.at, sizeof v);
        return std::to_string(v);
    };
    if (o.type == "int8_t") return get(int8_t{});
    if (o.type == "uint8_t" || o.type == "bool") return get(uint8_t{});
    if (o.type == "int16_t") return get(int16_t{});
    if (o.type == "uint16_t") return get(uint16_t{});
    if (o.type == "int32_t") return get(int32_t{});
    if (o.type == "uint32_t") return get(uint32_t{});
    if (o.type == "int64_t") return get(int64_t{});
    if (o.type == "uint64_t") return get(uint64_t{});
    if (o.type == "float") return get(float{});
    if (o.type == "double") return get(double{});
    fail("output " + o.name + " has unknown type " + o.type);
}

struct Plan {
    std::vector<int32_t> scopes;
    std::map<int32_t, std::vector<int>> inputs_of;  // scope -> indices into ids
    std::vector<std::string> ids, goals;
};

// Values a suite would use, and the odd ones a converting setter must agree on.
int64_t draw(std::mt19937_64& rng) {
    const int k = static_cast<int>(rng() % 10);
    if (k < 6) return static_cast<int64_t>(rng() % 5);
    if (k < 9) return static_cast<int64_t>(rng() % 601) - 300;
    return static_cast<int64_t>(rng());
}

// One sequence, in a child process so that both libraries start from load.
int run_sequence(Library& a, Library& b, const Plan& plan, uint64_t seed) {
    std::mt19937_64 rng(seed);
    const int steps = 1 + static_cast<int>(rng() % 40);
    for (int s = 0; s < steps; ++s) {
        const int32_t scope = plan.scopes[rng() % plan.scopes.size()];
        for (int i : plan.inputs_of.at(scope)) {
            if (rng() % 10 < 3) continue;  // an empty cell keeps the last value
            const int64_t v = draw(rng);
            a.set_input(i, v);
            b.set_input(i, v);
        }
        *a.scope_uid = *b.scope_uid = scope;
        a.step();
        b.step();
        for (const auto& [name, oa] : a.outputs) {
            const std::string va = value(oa), vb = value(b.outputs.at(name));
            if (va != vb) {
                std::cerr << "sequence seed " << seed << ", step " << s + 1 << " (scope " << scope << "): output " << name
                          << " is " << va << " in " << a.path << " but " << vb << " in " << b.path << "\n";
                return 1;
            }
        }
        for (std::size_t g = 0; g < plan.goals.size(); ++g) {
            const int64_t ga = a.get_output(static_cast<int32_t>(g)), gb = b.get_output(static_cast<int32_t>(g));
            if (ga != gb) {
                std::cerr << "sequence seed " << seed << ", step " << s + 1 << " (scope " << scope << "): goal "
                          << plan.goals[g] << " is " << ga << " in " << a.path << " but " << gb << " in " << b.path << "\n";
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) fail("usage: harness_differential LIB_A CATALOG_A LIB_B CATALOG_B [SEQUENCES] [SEED]");
    const long sequences = argc > 5 ? std::stol(argv[5]) : 10000;
    const uint64_t seed = argc > 6 ? std::stoull(argv[6]) : 20261208;
    const json ca = read_json(argv[2]), cb = read_json(argv[4]);

    // Both catalogs must describe the same interface, or nothing is compared.
    auto interface = [](const json& c) {
        std::set<std::string> rows;
        for (const auto& s : c.at("scopes")) rows.insert("scope " + s.at("uid").dump() + " " + s.at("name").dump());
        for (const auto& i : c.at("inputs"))
            rows.insert("input " + i.at("id").dump() + " " + i.at("name").dump() + " " + i.value("setter", json("")).dump());
        for (const auto& o : c.at("outputs")) rows.insert("output " + o.at("name").dump());
        for (const auto& g : c.at("goals")) rows.insert("goal " + g.at("id").dump());
        return rows;
    };
    const auto ia = interface(ca), ib = interface(cb);
    if (ia != ib) {
        for (const auto& r : ia)
            if (!ib.count(r)) std::cerr << "only in " << argv[2] << ": " << r << "\n";
        for (const auto& r : ib)
            if (!ia.count(r)) std::cerr << "only in " << argv[4] << ": " << r << "\n";
        fail("the two catalogs describe different interfaces");
    }

    Library a = load(argv[1], ca), b = load(argv[3], cb);
    Plan plan;
    for (const auto& s : ca.at("scopes")) {
        plan.scopes.push_back(s.at("uid").get<int32_t>());
        plan.inputs_of[s.at("uid").get<int32_t>()];
    }
    for (const auto& i : ca.at("inputs")) {
        const int index = static_cast<int>(plan.ids.size());
        plan.ids.push_back(i.at("id").dump());
        plan.inputs_of[i.at("scope").get<int32_t>()].push_back(index);
    }
    for (const auto& g : ca.at("goals")) plan.goals.push_back(g.at("id").dump());
    for (Library* lib : {&a, &b}) {
        for (std::size_t i = 0; i < plan.ids.size(); ++i)
            lib->register_inputs(static_cast<int32_t>(plan.ids.size()), static_cast<int32_t>(i), plan.ids[i].c_str());
        for (std::size_t g = 0; g < plan.goals.size(); ++g)
            lib->register_outputs(static_cast<int32_t>(plan.goals.size()), static_cast<int32_t>(g), plan.goals[g].c_str());
    }

    std::mt19937_64 seeds(seed);
    long failed = 0;
    for (long n = 0; n < sequences; ++n) {
        const uint64_t s = seeds();
        const pid_t pid = fork();
        if (pid < 0) fail("cannot fork");
        if (pid == 0) _exit(run_sequence(a, b, plan, s));
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            if (!WIFEXITED(status)) std::cerr << "sequence seed " << s << ": the child died\n";
            if (++failed == 5) break;
        }
    }
    if (failed) {
        std::cerr << "harness_differential: " << failed << " sequences differ\n";
        return 1;
    }
    std::cout << "harness_differential: " << sequences << " sequences, " << plan.scopes.size() << " scopes, "
              << plan.ids.size() << " inputs, " << a.outputs.size() << " outputs and " << plan.goals.size()
              << " goals agree after every step\n";
    return 0;
}
