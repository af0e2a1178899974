// Every failure text of the serial library, in one place, as the
// Windows-1250 bytes that IsError hands out.
#pragma once
#include "serial/cp1250.h"

namespace vorin::serial::text {

#define VORIN_TEXT(name, utf8) inline constexpr auto name = ToCp1250(utf8)

// Opening the device.
VORIN_TEXT(kDeviceNotFound, "System nie potrafi znależć danego urządzenia.");
VORIN_TEXT(kAccessDenied, "Zabroniony dostęp do urządzenia.");
VORIN_TEXT(kInvalidHandle, "Niepoprawny uchwyt do urządzenia, proces przerwany.");
VORIN_TEXT(kBadDevice, "Błędnie określone urządzenie.");
VORIN_TEXT(kAlreadyInitialised, "Ten port jest już zainicjowany");
// Device state, buffers, timeouts, events.
VORIN_TEXT(kBuffers, "Błędna inicjalizacja buforów Zapisu/Odczytu.");
VORIN_TEXT(kCreateEventOpen, "Error CreateEvent. ");
VORIN_TEXT(kTimeoutsUpdate, "Błąd podczas aktualizacji czasów.");
VORIN_TEXT(kTimeoutsRead, " Błąd odczytu aktualnych czasów.");
VORIN_TEXT(kEventSignal, "Błąd podczas sygnalizacji zdarzenia.");
VORIN_TEXT(kEventReset, "Błąd podczas anulacji zdarzenia.");
VORIN_TEXT(kDcb, "Błąd podczas aktualizacji bloku kontroli danych.");
VORIN_TEXT(kCreateEvent, "Błąd CreateEvent. ");
VORIN_TEXT(kCreateEventRead, "Błąd CreateEvent.");
VORIN_TEXT(kCloseHandle, "Błąd zamknięcia uchwytu.");
VORIN_TEXT(kWaitFailed, "Błąd funkcji WaitForMultipleObjects.");
VORIN_TEXT(kNotOpen, "Port nie jest otwarty, niemożliwa operacja.");
// Transfers.
VORIN_TEXT(kWriteBad, "Niepoprawny zapis.");
VORIN_TEXT(kWriteToPortBad, "Niepoprawny zapis do portu.");
VORIN_TEXT(kWriteTimeout, "Timeout zapisu.");
VORIN_TEXT(kWriteCancelled, "Zapis przerwany.");
VORIN_TEXT(kReadBad, "Niepoprawny odczyt.");
VORIN_TEXT(kReadTimeout, "Timeout odczytu.");
VORIN_TEXT(kReadCancelled, "Odczyt przerwany.");
VORIN_TEXT(kReadAborted, "Odczyt przerwany");
// A COM port on the network (VORIN_COM<n>=rfc2217://... or tcp://...).
VORIN_TEXT(kNetConnect, "Nie można połączyć się z portem sieciowym.");
VORIN_TEXT(kNetDropped, "Połączenie z portem sieciowym zostało zerwane.");
// Line errors.
VORIN_TEXT(kCeBreak, "Urządzenie wykryło stan BREAK (CE_BREAK).");
VORIN_TEXT(kCeFrame, "Urządzenie wykryło błąd ramki (CE_FRAME).");
VORIN_TEXT(kCeOverrun, "Zgubiono znaki (CE_OVERRUN).");
VORIN_TEXT(kCeRxOver, "Zapełniony bufor wejściowy (CE_RXOVER).");
VORIN_TEXT(kCeRxParity, "Urządzenie wykryło błąd parzystości (CE_RXPARITY).");
VORIN_TEXT(kCeTxFull, "Zapełniony bufor wyjściowy (CE_TXFULL).");

#undef VORIN_TEXT

}  // namespace vorin::serial::text
