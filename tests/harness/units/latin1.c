/* A unit whose condition holds a comment in Latin-1, a byte that is not
 * UTF-8: the catalog, JSON, holds it as \xE9. */
int latin1_step(int c)
{
    return c == /* café */ 0x41 ? 1 : 0;
}
