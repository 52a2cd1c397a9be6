/* standin: a harness library that misbehaves on purpose, for kivrun's tests.
 * It exports the same 23 names as the real one. Input ID 10 feeds a byte;
 * goals 100..107 are read-only. Scopes: 1 computes kiv_haux1 = input + 1;
 * 2 segfaults, 3 loops forever, 4 aborts, 5 divides by zero, each after
 * recording a probe; 6 keeps a counter on the heap, which a restore of the
 * library's data cannot reset; 7 takes input x 100 microseconds, then
 * computes as 1 does. 8 forks: the copy returns (finishing the case in
 * its stead) and the case's own process aborts 50 ms later. 9 signals its
 * whole process group with SIGTERM. 10 leaves a process behind that holds
 * standard output for 30 s. 11 sets an alarm for 1 s and leaves it pending.
 * 12 puts the low byte of rand() into kiv_haux1.
 * In scope 1 the input value 254 segfaults and the
 * value 2 raises goal 107, for a search that must survive the one and
 * still find the other. */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include "dllharness.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int32_t KIV_SCOPE_UID;

__attribute__((visibility("hidden"))) uint8_t kiv_haux1; /* output, no ID: read by symbol */
static uint8_t input_value;
/* volatile: a fault right after a probe must not lose its store */
static volatile uint8_t probe_ok, probe_segv, probe_loop, probe_abort, probe_fpe, probe_two;
static int* heap_steps; /* allocated at the first registry call */
static uint32_t goals[8];

enum { INPUT_ID = 10, FIRST_GOAL = 100, GOALS = 8 };

static int id_of(const char* text) {
    char* end;
    long v = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || (text[0] == '0' && text[1] != '\0')) return -1;
    return (int)v;
}

static void open_registry(void) {
    if (!heap_steps) heap_steps = calloc(1, sizeof *heap_steps);
}

static void evaluate(void) {
    uint8_t seen[GOALS] = {probe_ok,
                           probe_segv,
                           probe_loop,
                           probe_abort,
                           probe_fpe,
                           heap_steps && *heap_steps == 1,
                           heap_steps && *heap_steps > 1,
                           probe_two};
    for (int g = 0; g < GOALS; ++g)
        if (seen[g]) goals[g] = 1;
}

int32_t kiv_nr_registered_functions(const char* id) {
    open_registry();
    int n = id_of(id);
    if (n == INPUT_ID) return 2;
    return n >= FIRST_GOAL && n < FIRST_GOAL + GOALS ? 1 : 0;
}

static int input_slot = -1;
static int goal_slot[64];

void kiv_register_params(int32_t count, int32_t index, const char* id) {
    (void)count, (void)index, (void)id;
    open_registry();
}
void kiv_register_inputs(int32_t count, int32_t index, const char* id) {
    (void)count;
    open_registry();
    if (id_of(id) == INPUT_ID) input_slot = index;
}
void kiv_register_outputs(int32_t count, int32_t index, const char* id) {
    (void)count;
    open_registry();
    if (index >= 0 && index < 64) goal_slot[index] = id_of(id) - FIRST_GOAL;
}
void kiv_unregister_params(void) {}
void kiv_unregister_inputs(void) {}
void kiv_unregister_outputs(void) {}
void kiv_close_harness(void) {
    free(heap_steps);
    heap_steps = NULL;
}

int64_t kiv_dll_get_param_int(int32_t index) {
    (void)index;
    return 0;
}
void kiv_dll_set_param_int(int32_t index, int64_t value) {
    (void)index, (void)value;
}
double kiv_dll_get_param_float(int32_t index) {
    (void)index;
    return 0;
}
void kiv_dll_set_param_float(int32_t index, double value) {
    (void)index, (void)value;
}
int64_t kiv_dll_get_input_int(int32_t index) {
    return index == input_slot ? input_value : 0;
}
void kiv_dll_set_input_int(int32_t index, int64_t value) {
    if (index == input_slot) input_value = (uint8_t)value;
}
double kiv_dll_get_input_float(int32_t index) {
    return (double)kiv_dll_get_input_int(index);
}
void kiv_dll_set_input_float(int32_t index, double value) {
    kiv_dll_set_input_int(index, (int64_t)value);
}
int64_t kiv_dll_get_output_int(int32_t index) {
    int g = index >= 0 && index < 64 ? goal_slot[index] : -1;
    return g >= 0 && g < GOALS ? goals[g] : 0;
}
void kiv_dll_set_output_int(int32_t index, int64_t value) {
    (void)index, (void)value;
}
double kiv_dll_get_output_float(int32_t index) {
    return (double)kiv_dll_get_output_int(index);
}
void kiv_dll_set_output_float(int32_t index, double value) {
    (void)index, (void)value;
}

/* Real faults, also in a sanitizer build, where the checks would end the
 * process their own way first. */
__attribute__((no_sanitize("undefined"), noinline)) static void store_to_null(volatile int* p) {
    *p = 1;
}
__attribute__((no_sanitize("undefined"), noinline)) static int divide(volatile int a, volatile int b) {
    return a / b;
}

void kiv_dll_step(void) {
    volatile int zero = 0;
    switch (KIV_SCOPE_UID) {
        case 1:
            if (input_value == 254) store_to_null((volatile int*)(uintptr_t)zero);
            if (input_value == 2) probe_two = 1;
            probe_ok = 1;
            kiv_haux1 = (uint8_t)(input_value + 1);
            break;
        case 2:
            probe_segv = 1;
            store_to_null((volatile int*)(uintptr_t)zero);
            break;
        case 3:
            probe_loop = 1;
            for (volatile int spin = 0;; spin = spin + 1) {
            }
        case 4:
            probe_abort = 1;
            abort();
        case 5:
            probe_fpe = 1;
            kiv_haux1 = (uint8_t)divide(7, zero);
            break;
        case 6:
            ++*heap_steps;
            break;
        case 7: {
            /* A signal the host ignores must not shorten the step. */
            struct timespec left = {0, (long)input_value * 100000};
            while (nanosleep(&left, &left) != 0) {
            }
            kiv_haux1 = (uint8_t)(input_value + 1);
            break;
        }
        case 8: {
            if (fork() == 0) break;
            struct timespec wait = {0, 50000000};
            nanosleep(&wait, NULL);
            abort();
        }
        case 9:
            kill(0, SIGTERM);
            break;
        case 10:
            if (fork() == 0) {
                sleep(30);
                _exit(0);
            }
            break;
        case 11:
            alarm(1);
            break;
        case 12:
            kiv_haux1 = (uint8_t)rand();
            break;
        default:
            return;
    }
    evaluate();
}

void kiv_dll_exception(void) {
    evaluate();
}
