// The default port operations: the flat functions of vorinserial.
#include "link/port_ops.h"

#include "vorin/serial.h"

namespace vorin::link {

namespace {

// Function-local statics: addresses imported from a DLL are not constants, and
// the table must be ready even when another file's start-up code uses the link.
OperacjePortu& Biezace() {
    static OperacjePortu biezace = DomyslneOperacjePortu();
    return biezace;
}

}  // namespace

const OperacjePortu& DomyslneOperacjePortu() {
    static const OperacjePortu kDomyslne = {
        ::SerialPortPresent, ::InitializePort, ::UnInitializePort, ::UstawCTS,
        ::ChangeParity,      ::ChangeSpeed,    ::UstawKanal,       ::SetDTRLine,
        ::ClearDTRLine,      ::SetRTSLine,     ::ClearRTSLine,     ::WriteByte,
        ::ReadByte,          ::ClearPort,      ::ModemStatus,      ::Opoznienie,
    };
    return kDomyslne;
}

const OperacjePortu& BiezaceOperacjePortu() { return Biezace(); }

void UstawOperacjePortu(const OperacjePortu& ops) { Biezace() = ops; }

void PrzywrocOperacjePortu() { Biezace() = DomyslneOperacjePortu(); }

}  // namespace vorin::link
