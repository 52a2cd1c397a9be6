// platform_posix: the runtime names of platform.h on POSIX systems.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

char* _strdup(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}
