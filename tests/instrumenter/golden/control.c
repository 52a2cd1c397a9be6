/* Control flow our two units do not have. */
int pick(int a, int b, int c)
{
    if (!(a < b && !c) || a == c)
        a = -a;
    return a > 0 ? (b > 0 ? 1 : 2) : c ? 3 : 4;
}

unsigned sum(const unsigned char* v, int n)
{
    unsigned total = 0;
    int i, j;
    for (i = 0, j = n - 1; i < j; i++, j--)
        total += v[i] + v[j];
    while (n > 0 && v[n - 1] == 0)
        n--;
    do {
        total /= (unsigned)n;
    } while (total > 100u);
    return total % 7u;
}

int classify(int k)
{
    int r = 0;
    switch (k) {
    case 0:
    case 1:
        r = 1;
    case 2:
        r += 2;
        if (r > 2)
            r = 9;
        else if (r < 0)
            r = 8;
        r++;
        break;
    default:
        r = -1;
    }
    return r;
}
