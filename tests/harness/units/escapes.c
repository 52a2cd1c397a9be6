/* A unit whose conditions hold character escapes: the catalog's texts of
 * them are the bytes the compiler reads from the tables' string literals. */
#include <stdint.h>

uint8_t escapes_step(char c)
{
    if (c == '\n' || c == '\\' || c == '\x41' || c == '\101' || c == '"') {
        return 1u;
    }
    return c == '\t' ? 2u : 0u;
}
