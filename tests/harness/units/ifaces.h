/* A unit with the interfaces embedded code has: a driver read twice a step,
 * bytes sent one call at a time, buffers in and out, a context with
 * bit-fields, a long array and a union, and a callback registered at init. */
#ifndef IFACES_H
#define IFACES_H

#include <stddef.h>
#include <stdint.h>

typedef void (*Mon_Notify)(uint8_t level);

typedef struct {
    unsigned mode : 3;
    unsigned armed : 1;
    uint8_t samples[100];
    uint8_t count;
    union {
        uint16_t word;
        uint8_t bytes[2];
    } raw;
    _Atomic uint8_t pushes;
} Ctx;

typedef struct {
    uint8_t kind, at;
} Tok;

typedef struct {
    uint8_t threshold;
    uint8_t (*filter)(uint8_t raw);
} Sensor;

/* Drivers the unit calls and does not define. */
uint16_t Adc_Read(uint8_t channel);
uint8_t Dio_Read(uint8_t pin);
void tx_byte(uint8_t b);
int8_t Eeprom_Write(uint16_t addr, uint8_t value);
uint8_t Can_Receive(uint8_t *buf, uint8_t cap, uint8_t *len);
uint8_t Uart_Read(uint8_t *buf, uint8_t cap);

int16_t Sensor_Delta(void);
uint8_t Dio_Pattern(void);
void Frame_Send(const uint8_t *payload, uint8_t len);
uint8_t Crc8(const uint8_t *p, size_t n);
uint8_t Fmt_Level(char *buf, uint8_t level);
int8_t Log_Save(uint8_t value);
uint8_t Cmd_Poll(void);
uint8_t Uart_Pair(void);
void Ctx_Push(Ctx *c, uint8_t v);
uint8_t Tok_Fill(Tok *toks, uint8_t count);
uint8_t Sensor_Over(Sensor *s, uint8_t raw);
void Mon_Init(Mon_Notify notify);
void Mon_Step(uint8_t level);
uint8_t Name_Copy(char *dst, uint8_t size);
void Serial_Text(char *out, uint8_t digits);
void Minmax_Out(int32_t *range, uint8_t both);

#endif
