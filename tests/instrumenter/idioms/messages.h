/* Configuration of messages.c. */
#define INTERVAL 10
#define LIMIT (300 / INTERVAL)
#define IN_RANGE(v) ((v) > 2 && (v) < LIMIT)
