/* Power window lifter with anti-pinch: one window, driven every 10 ms.
 * The position is counted in hall pulses from fully open; a pinch is a
 * filtered motor current above a limit that follows the supply voltage and
 * the vehicle speed, for a few cycles in a row, while closing. */
#include "window_lifter.h"

#include "window_lifter_io.h"

#define WL_POS_TOP 300         /* pulses from fully open to the top stop */
#define WL_POS_MARGIN 10       /* a stall this near the top is the top stop */
#define WL_PINCH_ZONE_LOW 40   /* anti-pinch watches from here ... */
#define WL_PINCH_ZONE_HIGH 290 /* ... up to the seal, which brakes the glass anyway */
#define WL_MAX_PULSES 12       /* more in one cycle is a sensor glitch */
#define WL_INRUSH_CYCLES 5     /* the start-up current is no pinch */
#define WL_PINCH_CYCLES 4      /* over-current cycles in a row that make a pinch */
#define WL_PINCH_REPEAT 2      /* after this many pinches one-touch closing is refused */
#define WL_REVERSE_CYCLES 20   /* how long the window backs off after a pinch */
#define WL_STALL_CYCLES 8      /* driven cycles without a pulse that make a stall */
#define WL_AFTERRUN_CYCLES 50  /* the window still works this long after ignition off */
#define WL_FAULT_CYCLES 5      /* invalid switch codes in a row that make a fault */
#define WL_PINCH_LIMIT_MA 6000 /* at nominal supply and standstill */
#define WL_SPEED_MA_PER_KMH 20 /* head wind presses on the glass */
#define WL_NOMINAL_MV 12000
#define WL_MIN_MV 9000 /* below this the motor is not driven */
#define WL_DUTY_FULL 1000
#define WL_DUTY_SLOW 400       /* closing while the position is unknown */
#define WL_HEAT_PER_A2 0.05f   /* temperature rise per cycle per A^2 */
#define WL_COOLING 0.02f       /* share of the rise lost per cycle */
#define WL_HEAT_LIMIT 40.0f    /* rise that stops the motor ... */
#define WL_HEAT_RESUME 25.0f   /* ... until it has cooled to this */

typedef enum WlRequest {
    WL_REQ_NONE,
    WL_REQ_UP,
    WL_REQ_DOWN,
    WL_REQ_AUTO_UP,
    WL_REQ_AUTO_DOWN,
    WL_REQ_INVALID
} WlRequest;

typedef struct WindowLifter {
    WlState state;
    int16_t position;     /* hall pulses from fully open */
    bool normalised;      /* the position is known */
    uint8_t run_cycles;   /* cycles in the current state, saturating */
    uint8_t over_cycles;  /* over-current cycles in a row */
    uint8_t stall_cycles; /* driven cycles in a row without a pulse */
    uint8_t reverse_left; /* cycles of backing off still to go */
    uint8_t fault_cycles; /* invalid switch codes in a row */
    uint8_t pinches;      /* since the last full close, saturating */
    uint16_t afterrun;    /* cycles since ignition off, saturating */
    int32_t current_avg;  /* filtered motor current, mA */
    float heat;           /* modelled motor temperature rise */
} WindowLifter;

static WindowLifter wl = {WL_IDLE, 0, true, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0, 0.0f};

static uint8_t sat_inc_u8(uint8_t value)
{
    return (value < UINT8_MAX) ? (uint8_t)(value + 1u) : value;
}

static int16_t sat_i16(int32_t value, int16_t low, int16_t high)
{
    if (value < low) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return (int16_t)value;
}

static bool closing(WlState state)
{
    return state == WL_MANUAL_UP || state == WL_AUTO_UP;
}

static bool driven(WlState state)
{
    return closing(state) || state == WL_MANUAL_DOWN || state == WL_AUTO_DOWN || state == WL_REVERSING;
}

static WlRequest read_request(const WlVehicle *vehicle)
{
    WlRequest request;

    switch (Io_ReadButton()) {
    case IO_BUTTON_NONE:
        request = WL_REQ_NONE;
        break;
    case IO_BUTTON_UP:
        request = WL_REQ_UP;
        break;
    case IO_BUTTON_DOWN:
        request = WL_REQ_DOWN;
        break;
    case IO_BUTTON_AUTO_UP:
        request = WL_REQ_AUTO_UP;
        break;
    case IO_BUTTON_AUTO_DOWN:
        request = WL_REQ_AUTO_DOWN;
        break;
    default:
        request = WL_REQ_INVALID;
        break;
    }
    /* Comfort closing stands for a one-touch press, but only in a parked car
     * and never against someone holding the switch. */
    if (request == WL_REQ_NONE && vehicle->comfort_close && !vehicle->ignition_on) {
        request = WL_REQ_AUTO_UP;
    }
    return request;
}

/* Whether the motor may run: with ignition, in the after-run, or for comfort
 * closing, and always with enough supply. */
static bool power_available(const WlVehicle *vehicle, uint16_t supply_mv)
{
    if (vehicle->ignition_on) {
        wl.afterrun = 0u;
    } else if (wl.afterrun < WL_AFTERRUN_CYCLES) {
        wl.afterrun++;
    }
    return (vehicle->ignition_on || wl.afterrun < WL_AFTERRUN_CYCLES || vehicle->comfort_close) &&
           supply_mv >= WL_MIN_MV;
}

/* Counts the pulses into the position and driven cycles without any. */
static void track_position(int8_t pulses)
{
    int16_t step = pulses;

    if (step > WL_MAX_PULSES || step < -WL_MAX_PULSES) {
        step = 0;
    }
    wl.position = sat_i16((int32_t)wl.position + step, 0, WL_POS_TOP);
    if (driven(wl.state) && step == 0) {
        wl.stall_cycles = sat_inc_u8(wl.stall_cycles);
    } else {
        wl.stall_cycles = 0u;
    }
}

static void model_heat(int16_t current_ma)
{
    const float amps = (float)current_ma / 1000.0f;

    if (driven(wl.state)) {
        wl.heat += amps * amps * WL_HEAT_PER_A2;
    }
    wl.heat -= wl.heat * WL_COOLING;
}

/* The pinch limit rises as the supply sags (the same force takes more
 * current) and with forward speed. supply_mv is at least WL_MIN_MV. */
static int32_t pinch_limit(uint16_t supply_mv, int16_t speed_kmh)
{
    int32_t limit = (int32_t)WL_PINCH_LIMIT_MA * WL_NOMINAL_MV / (int32_t)supply_mv;

    if (speed_kmh > 0) {
        limit += (int32_t)speed_kmh * WL_SPEED_MA_PER_KMH;
    }
    return limit;
}

static bool pinch_detected(int32_t limit)
{
    const bool watching = wl.normalised && wl.run_cycles > WL_INRUSH_CYCLES &&
                          wl.position >= WL_PINCH_ZONE_LOW && wl.position <= WL_PINCH_ZONE_HIGH;

    if (watching && wl.current_avg > limit) {
        wl.over_cycles = sat_inc_u8(wl.over_cycles);
    } else {
        wl.over_cycles = 0u;
    }
    return wl.over_cycles >= WL_PINCH_CYCLES;
}

static WlState start_reversing(void)
{
    wl.pinches = sat_inc_u8(wl.pinches);
    wl.reverse_left = WL_REVERSE_CYCLES;
    Io_ReportEvent(IO_EVENT_PINCH);
    return WL_REVERSING;
}

static WlState start(WlRequest request)
{
    switch (request) {
    case WL_REQ_UP:
        return WL_MANUAL_UP;
    case WL_REQ_DOWN:
        return (wl.position > 0) ? WL_MANUAL_DOWN : WL_IDLE;
    case WL_REQ_AUTO_UP:
        return (wl.normalised && wl.pinches < WL_PINCH_REPEAT) ? WL_AUTO_UP : WL_MANUAL_UP;
    case WL_REQ_AUTO_DOWN:
        return wl.normalised ? WL_AUTO_DOWN : WL_MANUAL_DOWN;
    default:
        return WL_IDLE;
    }
}

/* Closing: a pinch reverses; a stall is the top stop, which teaches the
 * position, unless the position says the window is well short of it. */
static WlState keep_closing(WlRequest request, int32_t limit)
{
    if (pinch_detected(limit)) {
        return start_reversing();
    }
    if (wl.stall_cycles >= WL_STALL_CYCLES) {
        if (wl.normalised && wl.position < WL_POS_TOP - WL_POS_MARGIN) {
            return start_reversing();
        }
        if (!wl.normalised) {
            Io_ReportEvent(IO_EVENT_NORMALISED);
        }
        wl.position = WL_POS_TOP;
        wl.normalised = true;
        wl.pinches = 0u;
        return WL_IDLE;
    }
    if (wl.state == WL_MANUAL_UP) {
        return (request == WL_REQ_UP) ? WL_MANUAL_UP : start(request);
    }
    if (request == WL_REQ_DOWN || request == WL_REQ_AUTO_DOWN) {
        return WL_IDLE;
    }
    return (wl.position >= WL_POS_TOP) ? WL_IDLE : WL_AUTO_UP;
}

static WlState keep_opening(WlRequest request)
{
    if (wl.stall_cycles >= WL_STALL_CYCLES || (wl.normalised && wl.position == 0)) {
        wl.position = 0;
        return WL_IDLE;
    }
    if (wl.state == WL_MANUAL_DOWN) {
        return (request == WL_REQ_DOWN) ? WL_MANUAL_DOWN : start(request);
    }
    return (request == WL_REQ_UP || request == WL_REQ_AUTO_UP) ? WL_IDLE : WL_AUTO_DOWN;
}

static WlState next_state(WlRequest request, bool powered, int32_t limit)
{
    if (wl.fault_cycles >= WL_FAULT_CYCLES) {
        if (wl.state != WL_FAULT) {
            Io_ReportEvent(IO_EVENT_SWITCH_FAULT);
        }
        return WL_FAULT;
    }
    /* A reversal always completes: it frees what was caught. */
    if (wl.heat > WL_HEAT_LIMIT && wl.state != WL_REVERSING && wl.state != WL_THERMAL) {
        Io_ReportEvent(IO_EVENT_OVERHEAT);
        return WL_THERMAL;
    }
    if (!powered) {
        return WL_IDLE;
    }
    switch (wl.state) {
    case WL_MANUAL_UP:
    case WL_AUTO_UP:
        return keep_closing(request, limit);
    case WL_MANUAL_DOWN:
    case WL_AUTO_DOWN:
        return keep_opening(request);
    case WL_REVERSING:
        if (wl.reverse_left > 0u) {
            wl.reverse_left--;
        }
        return (wl.reverse_left == 0u || wl.position == 0) ? WL_IDLE : WL_REVERSING;
    case WL_THERMAL:
        return (wl.heat < WL_HEAT_RESUME) ? WL_IDLE : WL_THERMAL;
    case WL_FAULT:
        return (request == WL_REQ_NONE) ? WL_IDLE : WL_FAULT;
    default:
        return start(request);
    }
}

/* Drive for a state, scaled so the motor runs at the same speed whatever the
 * supply; supply_mv is not zero. */
static int16_t duty_for(WlState state, uint16_t supply_mv)
{
    int32_t duty;

    if (closing(state)) {
        duty = wl.normalised ? WL_DUTY_FULL : WL_DUTY_SLOW;
    } else if (driven(state)) {
        duty = -WL_DUTY_FULL;
    } else {
        duty = 0;
    }
    duty = duty * WL_NOMINAL_MV / (int32_t)supply_mv;
    return sat_i16(duty, -WL_DUTY_FULL, WL_DUTY_FULL);
}

WlState window_lifter_step(const WlVehicle *vehicle)
{
    const uint16_t supply_mv = Io_ReadSupply();
    const int16_t current_ma = Io_ReadCurrent();
    const int8_t pulses = Io_ReadHallPulses();
    const WlRequest request = read_request(vehicle);
    const bool powered = power_available(vehicle, supply_mv);
    WlState next;

    track_position(pulses);
    model_heat(current_ma);
    /* First-order filter, a quarter of the way per cycle: one spike is no pinch. */
    wl.current_avg += ((int32_t)current_ma - wl.current_avg) / 4;
    if (request == WL_REQ_INVALID) {
        wl.fault_cycles = sat_inc_u8(wl.fault_cycles);
    } else {
        wl.fault_cycles = 0u;
    }

    next = next_state(request, powered, powered ? pinch_limit(supply_mv, vehicle->speed_kmh) : 0);
    if (next != wl.state) {
        wl.run_cycles = 0u;
        wl.over_cycles = 0u;
        wl.stall_cycles = 0u;
    } else {
        wl.run_cycles = sat_inc_u8(wl.run_cycles);
    }
    wl.state = next;
    Io_SetMotor(powered ? duty_for(next, supply_mv) : 0);
    return next;
}

void window_lifter_reset(void)
{
    wl.state = WL_IDLE;
    wl.position = WL_POS_TOP / 2; /* unknown: half way, so either way may be tried */
    wl.normalised = false;
    wl.pinches = 0u;
    wl.over_cycles = 0u;
    wl.stall_cycles = 0u;
    wl.reverse_left = 0u;
    Io_SetMotor(0);
}
