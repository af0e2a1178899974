/*
 * vorinserial: one serial (COM) port at a time, moved byte by byte.
 *
 * The library owns one current port. InitializePort opens it, the byte calls
 * move single bytes through a transfer worker bounded by the comm timeouts,
 * UnInitializePort closes it. Every failure leaves a Polish text (Windows-1250
 * bytes) and a code in one library-wide last-error store; IsError hands it out
 * and empties it. The functions are meant for one calling thread: the thread
 * that opened the port.
 *
 * Port numbers: on Windows port n is \\.\COMn. On Linux port n is the device
 * path in the environment variable VORIN_COM<n> when set, else /dev/ttyS<n-1>.
 *
 * Result conventions: int32_t results are 0 for success or a system error code
 * (2 no such port, 5 port busy or already initialised, ...); uint8_t results
 * are 1 (yes / done) or 0.
 */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Opening and closing ------------------------------------------------ */

/* Opens port `port` at `speed` baud, 8 data bits, one stop bit, the parity of
 * the parity selector (even unless pInitializePort chose another), CTS output
 * flow control as set by UstawCTS, DTR and RTS low. A read waits at most
 * readTimeout seconds for a byte (0: return at once with what is there); a
 * write waits at most writeTimeout seconds (0: no write timeout; UnInitializePort
 * still ends such a write).
 * Returns 0 when open; 5 with "Ten port jest już zainicjowany" while a port is
 * open; otherwise the system error of the failing step (2 missing, 5 busy).
 * A failed call holds nothing: when a step after the device was opened fails
 * (a speed the line refuses, ...), the device, its workers and events are
 * released again, so the next InitializePort tries afresh. */
int32_t InitializePort(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout);

/* As InitializePort, after setting the parity selector: 0 none, 1 odd, any
 * other value even. The selector stays set even when the open is refused. */
int32_t pInitializePort(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout,
                        uint8_t parity);

/* Closes the current port: stops both workers, puts back the comm timeouts it
 * found, releases the device and ends every waiting byte call. Returns 0, or
 * the system error of a failing step; 0 when no port is open. A port still
 * open when the process ends is closed then. On Windows the port's workers
 * hold a reference on the DLL: FreeLibrary with a port open leaves it loaded
 * until the process ends, so call this first. */
int32_t UnInitializePort(void);

/* 1 when port `port` exists and can be opened right now, else 0. A port that
 * this or another process holds reports 0. Touches no other state. */
uint8_t SerialPortPresent(uint8_t port);

/* ---- Moving bytes --------------------------------------------------------- */

/* Discards what waits to be sent and what was received. 0 or a system error;
 * 0 when no port is open. */
int32_t ClearPort(void);

/* Sends one byte. 1 when it was sent, 0 when not (timeout, cancelled, no
 * port); after UnInitializePort it returns 0 at once. */
int32_t WriteByte(uint8_t b);

/* Receives one byte into *b. 1 when a byte came (stored in *b), 0 when none
 * came within the read timeout or no port is open (*b untouched). */
int32_t ReadByte(uint8_t* b);

/* 1 when the last byte call's transfer moved no byte (a timeout), else 0. */
uint8_t TimeOut(void);

/* ---- Errors and version --------------------------------------------------- */

/* Copies the stored failure text into the buffer that *text points to (it must
 * hold at least 52 bytes; a 256-byte text buffer is enough) and the stored code
 * into *code, then empties the store. Returns 1 when the code is not 0. With
 * text == NULL or *text == NULL, sets *code to -1 (when code is not NULL),
 * returns 0 and keeps the store. */
uint8_t IsError(char** text, int32_t* code);

/* Copies "3.00" into the buffer *text points to when *text is not NULL, else
 * points *text at a static "3.00". */
void DllVersion(char** text);

/* The package's version, "major.minor.patch" (the same text as vorindriver's
 * vorin_version; DllVersion keeps its own fixed form). A static text. */
const char* vorin_version(void);

/* ---- Line settings -------------------------------------------------------- */

/* CTS output flow control on (1, the default) or off (0). Takes effect at the
 * next open, ChangeSpeed or ChangeParity. It only holds output: RTS stays
 * where the line functions put it (on Linux the library waits for CTS itself
 * rather than use CRTSCTS, which would drive RTS). */
void UstawCTS(uint8_t on);

/* Parity code 0 none, 1 odd, 2 even, 3 mark, 4 space. Purges the buffers
 * first. 1 when applied, and 1 when the port was opened before and is closed
 * now (nothing to change); 0 when the device refused it, and 0 before the
 * first InitializePort of the process (there is no port to change). */
uint8_t ChangeParity(uint8_t parity);

/* Speed in baud (at most 65535 through this call). 1 when applied, and 1 when
 * the port was opened before and is closed now (nothing to change); 0 when the
 * device refused it, and 0 before the first InitializePort of the process. */
uint8_t ChangeSpeed(uint16_t speed);

/* ---- Modem lines ---------------------------------------------------------- */

/* Selects a multiplexer channel with DTR and RTS: 0 and 1 DTR low RTS high,
 * 2 both high, 3 both low, 4 DTR high RTS low. 1 when both lines were set,
 * 0 for any other channel, no port, or a device without modem lines. */
uint8_t UstawKanal(uint8_t channel);

/* The modem input lines: CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80. 0 when the
 * device cannot tell (for example a pseudo-terminal) or no port is open. */
uint8_t ModemStatus(void);

/* 1 when the port reports its transmit buffer empty at this moment, else 0. */
uint8_t CharSent(void);

/* Drive DTR / RTS directly. Nonzero when done, 0 when the device refused or no
 * port is open. */
int32_t SetDTRLine(void);
int32_t ClearDTRLine(void);
int32_t SetRTSLine(void);
int32_t ClearRTSLine(void);

/* ---- Line errors while the host waits elsewhere ---------------------------- */

/* Line errors reach the library through the thread that opened the port: it
 * clears them (and records their texts) whenever it waits inside the library
 * (byte calls, close). A host that opens the port and then waits elsewhere for
 * long should call this now and then on that thread. Returns 1 when it ran a
 * waiting call, else 0. */
uint8_t vorin_serve_handovers(void);

/* ---- Misc ----------------------------------------------------------------- */

/* Sleeps `milliseconds`. */
void Opoznienie(uint16_t milliseconds);

/* The message-pump thread. OpenThread starts it (once; no port needed):
 * every millisecond, while a WriteByte or ReadByte waits for the line, it
 * writes "odmierzam timeout" to standard output and posts 'A' on the server
 * channel, and it answers the server's commands 'a', 'b', 'e', 'r', 's' with
 * 'A', 'B', 'E', 'R', 'S' (value 0); 's' stops the reports until 'r'.
 * CloseThread ends it, a suspended one too, and waits for it. It needs the
 * channel's message number: the driver library passes it down; a program
 * that uses this library alone calls vorin_serial_set_channel.
 * On Windows the name OpenThread is also a kernel32 function with another
 * signature: a C program that includes <windows.h> as well should look these
 * two up by name with GetProcAddress instead of calling them directly. */
void OpenThread(void);
void CloseThread(void);
/* The server channel of the message-pump thread: message number (0 = off)
 * and the driver id it answers as (0 = the process id). */
void vorin_serial_set_channel(uint32_t message_number, uint32_t driver_id);

#ifdef __cplusplus
}
#endif
