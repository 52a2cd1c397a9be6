/* A one-statement branch that is a function-like macro call, and a macro as a value. */
#include <stdio.h>

static int led;
static void gpio_write(int v) { led = v; }
#define LED_ON() gpio_write(1)
#define LED_OFF() gpio_write(0)
#define MIN(a, b) ((a) < (b) ? (a) : (b))

static int step(int x, int a, int b)
{
    int y;
    if (x > 0) LED_ON();
    else LED_OFF();
    y = MIN(a, b);
    if (x > 5)
        y = MIN(y, x) + 1;
    return y * 10 + led;
}

int main(void)
{
    int x, a;
    for (x = -2; x < 8; x++)
        for (a = -1; a < 3; a++) printf("%d ", step(x, a, 1 - a));
    printf("\n");
    return 0;
}
