/* Does not parse: kivinst exits 2 and writes nothing. */
int broken(int x)
{
    return x +;
}
