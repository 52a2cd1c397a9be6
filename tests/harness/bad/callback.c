/* An entry whose parameter a harness cannot feed. */
typedef void (*notify_t)(int);

void on_event(int code, notify_t notify)
{
    if (code > 2) notify(code);
}
