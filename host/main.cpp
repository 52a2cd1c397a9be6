// kivrun: unit tests for a harness library, from CSV suites, with coverage per criterion.
#include "commands/command_line.h"

int main(int argc, char** argv) {
    return kiv::command_line(argc, argv);
}
