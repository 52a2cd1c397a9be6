/* An anonymous enum as a conversion's target, and an anonymous struct. */
#include <stdio.h>

static enum { IDLE, RUN, STOP } mode;
static struct { unsigned char level; } state;

static int set(long v)
{
    mode = v;
    state.level = v;
    return mode == RUN ? 10 + state.level : state.level;
}

int main(void)
{
    long v;
    for (v = -1; v < 4; v++) printf("%d ", set(v));
    printf("\n");
    return 0;
}
