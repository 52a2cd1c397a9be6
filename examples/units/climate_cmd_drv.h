/* The drivers the climate command handler calls; the unit does not define
 * them. */
#ifndef CLIMATE_CMD_DRV_H
#define CLIMATE_CMD_DRV_H

#include <stddef.h>
#include <stdint.h>

#define DRV_OK 0u
#define DRV_EMPTY 1u /* Drv_Receive: no frame waiting */
#define DRV_BUSY 1u  /* Drv_Transmit: the bus is busy, try again */

/* Copies the oldest frame waiting into buf (at most cap bytes) and its
 * length into *len. */
uint8_t Drv_Receive(uint8_t *buf, size_t cap, size_t *len);

/* Queues one frame for sending. */
uint8_t Drv_Transmit(const uint8_t *data, size_t len);

/* The 12-bit converter: channel 0 the cabin temperature sensor, channel 1
 * the supply through its divider. */
uint16_t Adc_Read(uint8_t channel);

/* Blower stage 0 (off) to 7. */
void Blower_Set(uint8_t level);

#endif
