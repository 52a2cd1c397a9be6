#include "ifaces.h"

/* First in the file: its scope is the first that hands out a callback. */
static Mon_Notify mon_notify;

void Mon_Init(Mon_Notify notify)
{
    mon_notify = notify;
}

void Mon_Step(uint8_t level)
{
    if (level > 10 && mon_notify) {
        mon_notify(level);
    }
}

/* Two channels through one driver: only per-call results make delta non-zero. */
int16_t Sensor_Delta(void)
{
    const int16_t a = (int16_t)Adc_Read(0);
    const int16_t b = (int16_t)Adc_Read(1);
    const int16_t delta = (int16_t)(a - b);
    if (delta > 100) {
        return 1;
    }
    if (delta < -100) {
        return -1;
    }
    return 0;
}

/* Results chosen by the pin read. */
uint8_t Dio_Pattern(void)
{
    uint8_t bits = 0;
    for (uint8_t pin = 0; pin < 4; ++pin) {
        bits = (uint8_t)(bits | ((Dio_Read(pin) & 1u) << pin));
    }
    return bits;
}

/* STX, length, payload, sum: one tx_byte call per byte. */
void Frame_Send(const uint8_t *payload, uint8_t len)
{
    uint8_t sum = len;
    tx_byte(0x02);
    tx_byte(len);
    for (uint8_t i = 0; i < len; ++i) {
        tx_byte(payload[i]);
        sum = (uint8_t)(sum + payload[i]);
    }
    tx_byte(sum);
}

uint8_t Crc8(const uint8_t *p, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) {
            crc = (uint8_t)((crc & 0x80u) ? ((unsigned)crc << 1) ^ 0x07u : (unsigned)crc << 1);
        }
    }
    return crc;
}

/* Writes "L=" and up to three digits and a NUL: six bytes at most, and it
 * trusts its caller to have them. */
uint8_t Fmt_Level(char *buf, uint8_t level)
{
    uint8_t at = 0;
    buf[at++] = 'L';
    buf[at++] = '=';
    if (level >= 100) {
        buf[at++] = (char)('0' + level / 100);
    }
    if (level >= 10) {
        buf[at++] = (char)('0' + level / 10 % 10);
    }
    buf[at++] = (char)('0' + level % 10);
    buf[at] = '\0';
    return at;
}

/* Four writes; the first that fails stops the save. */
int8_t Log_Save(uint8_t value)
{
    for (uint16_t addr = 0; addr < 4; ++addr) {
        if (Eeprom_Write(addr, (uint8_t)(value + addr)) != 0) {
            return (int8_t)-(addr + 1);
        }
    }
    return 0;
}

/* A command read into a buffer the unit owns: its first byte, checked
 * against the length the driver reported. */
uint8_t Cmd_Poll(void)
{
    uint8_t frame[8];
    uint8_t len = 0;
    if (!Can_Receive(frame, sizeof frame, &len) || len == 0 || len > sizeof frame) {
        return 0;
    }
    return frame[0] == 0x10 && len >= 2 ? frame[1] : 0xFF;
}

/* Two reads a step into one buffer: the first's first byte and the
 * second's second. */
uint8_t Uart_Pair(void)
{
    uint8_t rx[4];
    if (Uart_Read(rx, sizeof rx) < 1) {
        return 0;
    }
    const uint8_t first = rx[0];
    if (Uart_Read(rx, 2) < 2) {
        return first;
    }
    return (uint8_t)(first + rx[1]);
}

void Ctx_Push(Ctx *c, uint8_t v)
{
    if (c->count < 100) {
        c->samples[c->count++] = v;
    }
    c->armed = c->count >= 3;
    c->mode = (unsigned)((c->mode + 1u) & 7u);
    c->raw.word = (uint16_t)(c->raw.word + v);
    c->pushes++;
}

/* Fills as many tokens as it is told there are. */
uint8_t Tok_Fill(Tok *toks, uint8_t count)
{
    uint8_t i = 0;
    for (; i < count; ++i) {
        toks[i].kind = 7;
        toks[i].at = i;
    }
    return i;
}

/* A callback kept in the object the caller passes. */
uint8_t Sensor_Over(Sensor *s, uint8_t raw)
{
    const uint8_t v = s->filter ? s->filter(raw) : raw;
    return v > s->threshold;
}

/* Copies a name as far as size allows, then ends it with a NUL one place too
 * far when it does not fit: within the buffer, past what it was told. */
uint8_t Name_Copy(char *dst, uint8_t size)
{
    static const char name[] = "ABCDEF";
    uint8_t i = 0;
    for (; i < size && name[i] != '\0'; ++i) {
        dst[i] = name[i];
    }
    dst[i] = '\0';
    return i;
}

/* A text into a caller's buffer of no stated size: as long as the unit
 * thinks, "SN-" and up to twenty digits of the serial. */
void Serial_Text(char *out, uint8_t digits)
{
    uint8_t at = 0;
    out[at++] = 'S';
    out[at++] = 'N';
    out[at++] = '-';
    for (uint8_t i = 0; i < digits && i < 20; ++i) {
        out[at++] = (char)('0' + i % 10);
    }
    out[at] = '\0';
}

/* One result through a pointer, or, told to, two: the second is past it. */
void Minmax_Out(int32_t *range, uint8_t both)
{
    range[0] = -5;
    if (both) {
        range[1] = 9;
    }
}
