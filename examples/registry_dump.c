/* registry_dump: a minimal host. Loads the harness library by path, lists
 * every registered variable ID with its access, then drives the wrapper scope
 * through a few button presses in the host calling order and prints how many
 * goals each step has reached. Links nothing of the library. */
#include "dllharness.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

/* One function pointer per export, resolved by name. */
#define KIV_EXPORT_DATA(type, name) static type* p_##name;
#define KIV_EXPORT_FN(ret, name, params, args) static ret(*p_##name) params;
#include "dllharness_exports.def"

static int resolve(void* lib) {
    int ok = 1;
#define KIV_EXPORT_DATA(type, name)                    \
    if (!(*(void**)& p_##name = dlsym(lib, #name))) {  \
        fprintf(stderr, "missing export %s\n", #name); \
        ok = 0;                                        \
    }
#define KIV_EXPORT_FN(ret, name, params, args) KIV_EXPORT_DATA(ret, name)
#include "dllharness_exports.def"
    return ok;
}

enum { FIRST_ID = 900, LAST_ID = 2000, GOAL_FIRST = 1542, GOAL_LAST = 1892 };

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s path/to/libdllharness.so\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 2;
    }
    if (!resolve(lib)) return 2;

    int writable = 0, readonly = 0;
    char id[16];
    printf("variable IDs registered by %s:\n", argv[1]);
    for (int n = FIRST_ID; n <= LAST_ID; ++n) {
        snprintf(id, sizeof id, "%d", n);
        int32_t kind = p_kiv_nr_registered_functions(id);
        if (kind == 0) continue;
        printf("  %5d  %s\n", n, kind == 2 ? "writable" : "read-only");
        kind == 2 ? ++writable : ++readonly;
    }
    printf("%d IDs: %d writable, %d read-only\n\n", writable + readonly, writable, readonly);

    /* Inputs of the wrapper scope 955: parameters, seat, power state, status, button. */
    static const char* inputs[] = {"959", "961", "963", "966", "968", "970", "980"};
    enum { N_IN = sizeof inputs / sizeof *inputs, N_GOALS = (GOAL_LAST - GOAL_FIRST) / 2 + 1 };
    for (int i = 0; i < N_IN; ++i)
        p_kiv_register_inputs(N_IN, i, inputs[i]);
    for (int i = 0; i < N_GOALS; ++i) {
        snprintf(id, sizeof id, "%d", GOAL_FIRST + 2 * i);
        p_kiv_register_outputs(N_GOALS, i, id);
    }
    const int64_t setup[] = {30, 35, 45, 1, 1, 0};
    for (int i = 0; i < 6; ++i)
        p_kiv_dll_set_input_int(i, setup[i]);

    *p_KIV_SCOPE_UID = 955;
    printf("wrapper scope 955, seat occupied, power state 1:\n");
    for (int step = 1; step <= 9; ++step) {
        p_kiv_dll_set_input_int(6, step % 2 == 0); /* press on even steps */
        p_kiv_dll_step();
        int reached = 0;
        for (int g = 0; g < N_GOALS; ++g)
            reached += p_kiv_dll_get_output_int(g) != 0;
        printf("  step %d  button %d  goals reached %3d of %d\n", step, step % 2 == 0, reached, N_GOALS);
    }

    p_kiv_unregister_inputs();
    p_kiv_unregister_outputs();
    p_kiv_close_harness();
    dlclose(lib);
    return 0;
}
