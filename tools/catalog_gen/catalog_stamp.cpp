// kiv_catalog_stamp: the last step of a harness build. kivinst harness writes
// a unit set's catalog with the unit set; once the library is linked, this
// names the library build in it, so that kivrun trusts the catalog to list
// that build's IDs. A tool of its own, small, as it runs on every link.
//
//   kiv_catalog_stamp LIBRARY.so CATALOG.json OUTPUT.json
// Exit 0 done, 1 the output cannot be written, 2 bad input.
#include "catalog.h"
#include "identity/identity.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: kiv_catalog_stamp LIBRARY.so CATALOG.json OUTPUT.json\n";
        return 2;
    }
    const std::string library = kiv::library_identity(argv[1]);
    if (library.empty()) {
        std::cerr << "kiv_catalog_stamp: " << argv[1] << ": cannot be read\n";
        return 2;
    }
    // A catalog is a regular file of at most 1 GiB, as kivrun reads it.
    struct stat st {};
    if (::stat(argv[2], &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1LL << 30)) {
        std::cerr << "kiv_catalog_stamp: " << argv[2] << ": no catalog file (missing, not a regular file, or over 1 GiB)\n";
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string out_text;
    try {
        out_text = kiv::catalog::stamp(text.str(), library);
    } catch (const kiv::catalog::Error& e) {
        std::cerr << e.what() << " (" << argv[2] << ")\n";
        return 2;
    }
    const std::string tmp = std::string(argv[3]) + ".tmp";
    std::ofstream out(tmp, std::ios::binary);
    out << out_text;
    out.close();
    if (!out || std::rename(tmp.c_str(), argv[3]) != 0) {
        std::remove(tmp.c_str());
        std::cerr << "kiv_catalog_stamp: " << argv[3] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
