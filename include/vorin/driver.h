/*
 * vorindriver: the printer link and the printer-driver library's exported
 * functions (text-file records, field validators, device identification).
 */
#ifndef VORIN_DRIVER_H
#define VORIN_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
