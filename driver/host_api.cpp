// The C interface a driver host runs a whole driver through.
#include "device/device.h"
#include "driver/driver_state.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "vorin/driver.h"

namespace dr = vorin::driver;
namespace dv = vorin::device;
namespace df = vorin::driverfiles;
namespace lk = vorin::link;

extern "C" {

uint8_t vorin_result_code(void) { return lk::KodWyniku; }
void vorin_set_result_code(uint8_t code) { lk::KodWyniku = code; }
uint16_t vorin_line_state(void) { return static_cast<uint16_t>(lk::StanLinii); }

void vorin_set_slot(uint8_t slot, const char* text) {
    if (slot > 3) return;
    std::size_t n = text == nullptr ? 0 : df::textLength(text);
    dr::State().slot[slot].assign(text == nullptr ? "" : text, n > df::kTextMax ? df::kTextMax : n);
}

void vorin_get_slot(uint8_t slot, char text[256]) {
    if (text == nullptr) return;
    df::storeText(text, slot <= 3 ? dr::State().slot[slot] : std::string());
}

void vorin_set_switch(int which, uint8_t on) {
    dr::DriverState& st = dr::State();
    bool value = on != 0;
    switch (which) {
    case VORIN_OUTPUT_FILE: st.outputFileSwitch = value; break;
    case VORIN_REWRITE: df::driverFileState().rewrite = value; break;
    case VORIN_READ_TYPE: dv::PrzelacznikOdczytuTypu = value; break;
    case VORIN_READ_NUMBER: dv::PrzelacznikOdczytuNumeru = value; break;
    case VORIN_COMPARE_NUMBER: dv::PrzelacznikPorownaniaNumeru = value; break;
    case VORIN_COUNT_PLU: dv::PrzelacznikLiczeniaPLU = value; break;
    case VORIN_HIGH_RANGE: dv::PrzelacznikWysokiegoZakresu = value; break;
    case VORIN_EXCLUSIVE_OPEN: df::driverFileState().exclusiveOpen = value; break;
    default: break;
    }
}

void vorin_set_expected_version(uint32_t version) { dr::State().expectedVersion = version; }

void vorin_get_header_line(uint8_t n, char text[256]) {
    if (text != nullptr) df::storeText(text, df::headerLine(n));
}

int32_t vorin_output_handle(void) { return df::driverFileState().outputHandle.load(); }
int32_t vorin_input_handle(void) { return df::driverFileState().inputHandle.load(); }

void vorin_get_driver_file_name(uint8_t n, char text[256]) {
    if (text == nullptr) return;
    df::storeText(text,
                  n >= 1 && n <= dr::kFileCount ? dr::State().fileName[n - 1] : std::string());
}

void ZerowanieStanuSterownika(void) { dr::ZerowanieStanuSterownika(); }
void OdczytanieKonfiguracji(void) { dr::OdczytanieKonfiguracji(); }
uint8_t StartSterownika(void) { return dr::StartSterownika(); }
void ZakonczenieSterownika(void) { dr::ZakonczenieSterownika(); }

}  // extern "C"
