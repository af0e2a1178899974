// Stand-in for the serial port library while it does not build yet: every
// port is missing and every call fails. Linked into the link's tests only,
// and only when the vorinserial target does not exist.
#include "vorin/serial.h"

extern "C" {
int32_t InitializePort(uint8_t, uint32_t, uint16_t, uint16_t) { return 2; }
int32_t UnInitializePort(void) { return 0; }
uint8_t SerialPortPresent(uint8_t) { return 0; }
int32_t ClearPort(void) { return 0; }
int32_t WriteByte(uint8_t) { return 0; }
int32_t ReadByte(uint8_t*) { return 0; }
void UstawCTS(uint8_t) {}
uint8_t UstawKanal(uint8_t) { return 0; }
uint8_t ModemStatus(void) { return 0; }
int32_t SetDTRLine(void) { return 0; }
int32_t ClearDTRLine(void) { return 0; }
int32_t SetRTSLine(void) { return 0; }
int32_t ClearRTSLine(void) { return 0; }
uint8_t ChangeParity(uint8_t) { return 0; }
uint8_t ChangeSpeed(uint16_t) { return 0; }
void Opoznienie(uint16_t) {}
void vorin_serial_set_channel(uint32_t, uint32_t) {}
}
