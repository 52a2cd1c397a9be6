#!/bin/sh
# Writes a C unit of N entry functions (default 500) to standard output: each
# keeps state of its own and has decisions, conditions and comparisons, so a
# harness of it holds some 40 variable IDs per function. For timing how a
# harness build grows with a unit (bench-harness.sh).
n=${1:-500}
awk -v n="$n" 'BEGIN {
    print "/* A wide unit of " n " entry functions, written by bench/units/wide_unit.sh. */"
    print "#include <stdint.h>\n"
    print "uint8_t Io_Read(uint8_t channel);\n"
    for (k = 0; k < n; ++k) {
        print "static uint8_t s" k ";"
        print "uint8_t f" k "(uint8_t a, uint8_t b)\n{"
        print "    if (a > " (k % 200) "u && b != 3u) {"
        print "        s" k " = (uint8_t)(s" k " + a);"
        print "    } else if (a == b || Io_Read(" (k % 8) "u) > 7u) {"
        print "        s" k " = 0u;"
        print "    }"
        print "    return s" k " > 100u ? 1u : 0u;\n}\n"
    }
}'
