/* Climate control command handler. Requests arrive as frames
 *   service, n, n payload bytes, checksum (XOR of every byte before it)
 * and are answered with service + 0x40 and the data, or with
 *   0x7F, service, reason
 * in the same framing. Changing calibration needs the workshop key first;
 * three wrong keys in a row lock unlocking out for a while. */
#include "climate_cmd.h"

#include "climate_cmd_drv.h"

#define CMD_FRAME_MAX 12u      /* longest request or answer, checksum included */
#define CMD_CALIB_SIZE 8u      /* calibration bytes the workshop may write */
#define CMD_HISTORY 8u         /* services remembered for the service page */
#define CMD_TX_ATTEMPTS 3u     /* sends tried while the bus is busy */
#define CMD_UNLOCK_KEY 0x4B1Du /* workshop key */
#define CMD_LOCKOUT_STEPS 50u  /* 1 s before unlocking may be tried again */
#define CMD_SET_MIN 160        /* set point range, deci-degrees C */
#define CMD_SET_MAX 300
#define CMD_ADC_LOW 50u        /* below: the sensor line is shorted to ground */
#define CMD_ADC_HIGH 4045u     /* above: the sensor line is open */
#define CMD_SUPPLY_MV_PER_COUNT 5u
#define CMD_UNDERVOLT_MV 9000u /* below this the blower is switched off ... */
#define CMD_RECOVER_MV 9500u   /* ... until the supply is back above this */

/* Services */
#define SID_SET_MODE 0x01u
#define SID_SET_TEMP 0x02u
#define SID_SET_BLOWER 0x03u
#define SID_CLEAR_FAULTS 0x14u
#define SID_UNLOCK 0x27u
#define SID_WRITE_CALIB 0x2Eu
/* Reasons for a refusal */
#define NRC_NOT_SUPPORTED 0x11u
#define NRC_WRONG_LENGTH 0x13u
#define NRC_CONDITIONS 0x22u
#define NRC_OUT_OF_RANGE 0x31u
#define NRC_LOCKED 0x33u
#define NRC_INVALID_KEY 0x35u
#define NRC_ATTEMPTS 0x36u
#define NRC_DELAY 0x37u

typedef struct CmdContext {
    unsigned mode : 2;         /* CmdMode */
    unsigned unlocked : 1;     /* the workshop key was given */
    unsigned bad_keys : 2;     /* wrong keys in a row */
    unsigned undervoltage : 1;
    unsigned sensor_fault : 1;
    unsigned hist_next : 3;    /* where the next service goes in history */
    uint8_t reported;          /* faults already given to the hook, bit per code */
    uint8_t blower;            /* stage chosen for manual mode */
    uint8_t stage;             /* stage the blower runs at */
    uint8_t lockout;           /* steps until unlocking may be tried again */
    int16_t setpoint;          /* deci-degrees C */
    int16_t cabin;             /* deci-degrees C, last valid reading */
    uint16_t supply_mv;
    uint16_t dropped;          /* frames with a bad checksum or length */
    uint8_t history[CMD_HISTORY];
    uint8_t calib[CMD_CALIB_SIZE];
} CmdContext;

/* Auto, 21.0 degrees, locked, stage 3 kept for manual mode. */
#define CMD_DEFAULTS {CMD_MODE_AUTO, 0u, 0u, 0u, 0u, 0u, 0u, 3u, 0u, 0u, 210, 210, 12000u, 0u, {0u}, {0u}}

static CmdContext cmd = CMD_DEFAULTS;
static CmdFaultHook fault_hook;

void Cmd_Init(CmdFaultHook on_fault)
{
    const CmdContext defaults = CMD_DEFAULTS;

    cmd = defaults;
    fault_hook = on_fault;
}

static void report_fault(uint8_t code)
{
    const uint8_t bit = (uint8_t)(1u << code);

    if ((cmd.reported & bit) != 0u) {
        return;
    }
    cmd.reported |= bit;
    if (fault_hook != NULL) {
        fault_hook(code);
    }
}

static uint8_t checksum(const uint8_t *data, size_t len)
{
    uint8_t sum = 0u;
    size_t i;

    for (i = 0u; i < len; i++) {
        sum ^= data[i];
    }
    return sum;
}

/* Fills tx with a whole answer and returns its length; a refusal when nrc is
 * not 0, else the positive answer with n data bytes. */
static size_t build_answer(uint8_t *tx, uint8_t sid, uint8_t nrc, const uint8_t *data, uint8_t n)
{
    size_t len = 0u;
    uint8_t i;

    if (nrc != 0u) {
        tx[len++] = 0x7Fu;
        tx[len++] = 1u;
        tx[len++] = sid;
        tx[len++] = nrc;
    } else {
        tx[len++] = (uint8_t)(sid + 0x40u);
        tx[len++] = n;
        for (i = 0u; i < n; i++) {
            tx[len++] = data[i];
        }
    }
    tx[len] = checksum(tx, len);
    return len + 1u;
}

static uint8_t unlock(const uint8_t *p, uint8_t n)
{
    uint16_t key;

    if (n != 2u) {
        return NRC_WRONG_LENGTH;
    }
    if (cmd.lockout > 0u) {
        return NRC_DELAY;
    }
    key = (uint16_t)(((uint16_t)p[0] << 8) | p[1]);
    if (key == CMD_UNLOCK_KEY) {
        cmd.unlocked = 1u;
        cmd.bad_keys = 0u;
        return 0u;
    }
    cmd.bad_keys++;
    if (cmd.bad_keys < 3u) {
        return NRC_INVALID_KEY;
    }
    cmd.bad_keys = 0u;
    cmd.lockout = CMD_LOCKOUT_STEPS;
    report_fault(CMD_FAULT_LOCKOUT);
    return NRC_ATTEMPTS;
}

/* Carries out one request; returns 0 or the reason to refuse it. */
static uint8_t serve(uint8_t sid, const uint8_t *p, uint8_t n)
{
    int16_t set;

    switch (sid) {
    case SID_SET_MODE:
        if (n != 1u) {
            return NRC_WRONG_LENGTH;
        }
        if (p[0] > (uint8_t)CMD_MODE_DEFROST) {
            return NRC_OUT_OF_RANGE;
        }
        cmd.mode = p[0] & 3u;
        return 0u;
    case SID_SET_TEMP:
        if (n != 2u) {
            return NRC_WRONG_LENGTH;
        }
        set = (int16_t)(((uint16_t)p[0] << 8) | p[1]);
        if (set < CMD_SET_MIN || set > CMD_SET_MAX) {
            return NRC_OUT_OF_RANGE;
        }
        cmd.setpoint = set;
        return 0u;
    case SID_SET_BLOWER:
        if (n != 1u) {
            return NRC_WRONG_LENGTH;
        }
        if (cmd.mode != (unsigned)CMD_MODE_MANUAL) {
            return NRC_CONDITIONS;
        }
        if (p[0] > 7u) {
            return NRC_OUT_OF_RANGE;
        }
        cmd.blower = p[0];
        return 0u;
    case SID_CLEAR_FAULTS:
        cmd.reported = 0u;
        cmd.sensor_fault = 0u;
        return 0u;
    case SID_UNLOCK:
        return unlock(p, n);
    case SID_WRITE_CALIB:
        if (n != 2u) {
            return NRC_WRONG_LENGTH;
        }
        if (cmd.unlocked == 0u) {
            return NRC_LOCKED;
        }
        if (p[0] >= CMD_CALIB_SIZE) {
            return NRC_OUT_OF_RANGE;
        }
        cmd.calib[p[0]] = p[1];
        return 0u;
    default:
        return NRC_NOT_SUPPORTED;
    }
}

static CmdResult answer(const uint8_t *tx, size_t len)
{
    uint8_t status = DRV_BUSY;
    uint8_t attempt;

    for (attempt = 0u; attempt < CMD_TX_ATTEMPTS && status == DRV_BUSY; attempt++) {
        status = Drv_Transmit(tx, len);
    }
    if (status != DRV_OK) {
        report_fault(CMD_FAULT_TX);
        return CMD_TX_FAILED;
    }
    return CMD_DONE;
}

static CmdResult handle_request(void)
{
    uint8_t rx[CMD_FRAME_MAX];
    uint8_t tx[CMD_FRAME_MAX];
    size_t len = 0u;
    uint8_t n;
    uint8_t sum;
    uint8_t nrc;
    CmdResult result;

    if (Drv_Receive(rx, sizeof rx, &len) != DRV_OK) {
        return CMD_IDLE;
    }
    /* A driver that claims more than it may have copied is not believed. */
    if (len < 3u || len > sizeof rx) {
        cmd.dropped++;
        return CMD_IDLE;
    }
    sum = checksum(rx, len - 1u);
    if (sum != rx[len - 1u]) {
        cmd.dropped++;
        return CMD_IDLE;
    }
    n = rx[1];
    cmd.history[cmd.hist_next] = rx[0];
    cmd.hist_next++;
    nrc = ((size_t)n + 3u != len) ? NRC_WRONG_LENGTH : serve(rx[0], &rx[2], n);
    result = answer(tx, build_answer(tx, rx[0], nrc, &rx[2], (nrc == 0u && rx[0] != SID_UNLOCK) ? n : 0u));
    return (result == CMD_DONE && nrc != 0u) ? CMD_REJECTED : result;
}

static uint8_t auto_blower(void)
{
    const int16_t diff = (int16_t)(cmd.setpoint - cmd.cabin);
    const int16_t distance = (diff < 0) ? (int16_t)-diff : diff;

    if (distance >= 80) {
        return 7u;
    }
    if (distance >= 40) {
        return 5u;
    }
    if (distance >= 15) {
        return 3u;
    }
    return 1u;
}

static void run_blower(void)
{
    uint16_t raw[2];
    uint8_t ch;
    uint8_t level;

    for (ch = 0u; ch < 2u; ch++) {
        raw[ch] = Adc_Read(ch);
    }
    if (raw[0] < CMD_ADC_LOW || raw[0] > CMD_ADC_HIGH) {
        cmd.sensor_fault = 1u;
        report_fault(CMD_FAULT_SENSOR);
    } else {
        /* 0..4095 spans -40.0 .. 60.0 degrees */
        cmd.cabin = (int16_t)((int32_t)raw[0] * 1000 / 4095 - 400);
    }
    cmd.supply_mv = (uint16_t)(raw[1] * CMD_SUPPLY_MV_PER_COUNT);
    if (cmd.supply_mv < CMD_UNDERVOLT_MV) {
        cmd.undervoltage = 1u;
        report_fault(CMD_FAULT_UNDERVOLTAGE);
    } else if (cmd.supply_mv > CMD_RECOVER_MV) {
        cmd.undervoltage = 0u;
    }
    switch ((CmdMode)cmd.mode) {
    case CMD_MODE_AUTO:
        /* Without a cabin reading the blower holds a middle stage. */
        level = (cmd.sensor_fault != 0u) ? 4u : auto_blower();
        break;
    case CMD_MODE_MANUAL:
        level = cmd.blower;
        break;
    case CMD_MODE_DEFROST:
        level = 7u;
        break;
    default:
        level = 0u;
        break;
    }
    cmd.stage = (cmd.undervoltage != 0u) ? 0u : level;
    Blower_Set(cmd.stage);
}

CmdResult Cmd_Step(void)
{
    const CmdResult result = handle_request();

    if (cmd.lockout > 0u) {
        cmd.lockout--;
    }
    run_blower();
    return result;
}

typedef struct Line {
    char *out;
    size_t cap;
    size_t len; /* what the whole line needs so far */
} Line;

static void put_char(Line *line, char c)
{
    if (line->len + 1u < line->cap) {
        line->out[line->len] = c;
    }
    line->len++;
}

static void put_text(Line *line, const char *text)
{
    while (*text != '\0') {
        put_char(line, *text++);
    }
}

/* A tenth as "-12.5". */
static void put_tenths(Line *line, int32_t tenths)
{
    char digits[8];
    uint8_t n = 0u;
    uint32_t v = (tenths < 0) ? (uint32_t)-tenths : (uint32_t)tenths;

    if (tenths < 0) {
        put_char(line, '-');
    }
    do {
        digits[n++] = (char)('0' + (v % 10u));
        v /= 10u;
    } while (v > 0u || n < 2u);
    while (n > 1u) {
        put_char(line, digits[--n]);
    }
    put_char(line, '.');
    put_char(line, digits[0]);
}

size_t Cmd_Format(char *out, size_t cap)
{
    static const char *const names[] = {"OFF", "AUTO", "MAN", "DEFR"};
    Line line = {out, cap, 0u};

    put_text(&line, names[cmd.mode]);
    put_text(&line, " SET=");
    put_tenths(&line, cmd.setpoint);
    put_text(&line, " CAB=");
    if (cmd.sensor_fault != 0u) {
        put_text(&line, "ERR");
    } else {
        put_tenths(&line, cmd.cabin);
    }
    put_text(&line, " BLW=");
    put_char(&line, (char)('0' + cmd.stage));
    put_text(&line, " U=");
    put_tenths(&line, (int32_t)(cmd.supply_mv / 100u));
    if (cap > 0u) {
        out[(line.len < cap) ? line.len : cap - 1u] = '\0';
    }
    return line.len;
}
