/* A variadic entry. */
int sum(int n, ...)
{
    return n;
}
