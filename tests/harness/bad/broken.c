/* Does not parse: a missing semicolon. */
int broken(int x)
{
    return x + 1
}
