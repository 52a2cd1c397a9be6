/* Comparisons written over several lines: later line numbers must not move. */
#include <stdio.h>

static int over(int a, int b)
{
    int hits = 0;
    if (a
        >
        b)
        hits += __LINE__;
    if (a <\
= b) hits += __LINE__ * 100;
    return hits + __LINE__ * 10000;
}

int main(void)
{
    printf("%d %d %d\n", over(1, 2), over(3, 2), __LINE__);
    return 0;
}
