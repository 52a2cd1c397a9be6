/* Constructs kivinst reports and leaves as they are. */
#define IS_ZERO(x) ((x) == 0)

int odd(int x)
{
    if (x > 3)
        goto inside;
    {
        x = 2;
    inside:
        x++;
    }
    __asm__ volatile("" ::: "memory");
    return IS_ZERO(x);
}

int dispatch(int k)
{
    static void* targets[] = {&&one, &&two};
    goto* targets[k & 1];
one:
    return 1;
two:
    return 2;
}
