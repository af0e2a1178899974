// A scripted printer at the far end of the link's port operations: it hands
// out the answer bytes it was given, in order, and records every call the link
// makes (line changes, pauses, bytes written with the line state they went out
// at). Not an imitation of the OS: it stands where the printer stands.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vorin::link::test {

class DrukarkaSkryptowa {
public:
    struct Zapis {
        uint8_t bajt;
        uint32_t predkosc;
        bool rts;
    };

    // Installs itself as the link's port and sets the link state to defaults
    // with the port taken as open. One at a time.
    DrukarkaSkryptowa();
    ~DrukarkaSkryptowa();
    DrukarkaSkryptowa(const DrukarkaSkryptowa&) = delete;
    DrukarkaSkryptowa& operator=(const DrukarkaSkryptowa&) = delete;

    // The printer's next answer bytes.
    void Wyslij(std::initializer_list<uint8_t> bajty);
    void Wyslij(const std::vector<uint8_t>& bajty);
    // The next read finds nothing within the read timeout. Reads past the
    // scripted bytes do the same.
    void Milczy();
    // Writes after the first `ile` (counted from now) do not go out.
    void ZapisyPrzechodza(std::size_t ile) { pozostaleZapisy_ = ile; }
    // InitializePort calls after the first `ile` (counted from now) fail with 2.
    void InicjalizacjePrzechodza(std::size_t ile) { pozostaleInicjalizacje_ = ile; }

    // What the link wrote (bytes that went out), and with which line state.
    std::vector<uint8_t> Zapisane() const;
    const std::vector<Zapis>& Zapisy() const { return zapisy_; }
    // Every call in order, e.g. "Clear", "W 1B", "R 06", "R -", "RTS+",
    // "Speed 9600", "Pause 1000"; with bajty = false the byte calls are left out.
    std::vector<std::string> Wywolania(bool bajty = true) const;
    void WyczyscZapis();
    std::size_t Odczyty() const { return odczyty_; }
    std::size_t NieodczytaneBajty() const;

    // Line and port behaviour.
    int32_t wynikInicjalizacji = 0;  // InitializePort result
    uint8_t portObecny = 1;          // SerialPortPresent result
    bool dsrZaRts = true;            // DSR follows RTS
    bool dsrStale = false;           // DSR on whatever RTS does
    bool dcd = true;                 // carrier detect
    uint32_t predkosc = 0;           // line speed as last set
    bool rts = false;

    // Called by the port operations.
    void Zdarzenie(std::string opis) { wywolania_.push_back(std::move(opis)); }
    int32_t Zapisz(uint8_t b);
    int32_t Odczytaj(uint8_t* b);
    int32_t Inicjalizuj(uint8_t port, uint32_t speed, uint16_t wt, uint16_t rt);

private:
    std::deque<std::optional<uint8_t>> doWyslania_;
    std::vector<Zapis> zapisy_;
    std::vector<std::string> wywolania_;
    std::optional<std::size_t> pozostaleZapisy_;
    std::optional<std::size_t> pozostaleInicjalizacje_;
    std::size_t odczyty_ = 0;
};

std::string Hex(uint8_t b);

}  // namespace vorin::link::test
