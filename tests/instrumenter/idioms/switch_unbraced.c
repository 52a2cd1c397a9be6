/* A switch whose body is one labelled statement, no braces. */
#include <stdio.h>

static int pick(int x)
{
    int r = 0;
    switch (x) case 0: r = 1;
    switch (x) default: r += 10;
    switch (x) case 1: case 2: r += 100;
    return r;
}

int main(void)
{
    int x;
    for (x = -1; x < 6; x++) printf("%d ", pick(x));
    printf("\n");
    return 0;
}
