#include "link/test_peer.h"

#include <cstdio>
#include <stdexcept>

#include "link/link.h"
#include "link/port_ops.h"

namespace vorin::link::test {

namespace {

DrukarkaSkryptowa* gDrukarka = nullptr;

DrukarkaSkryptowa& D() { return *gDrukarka; }

const OperacjePortu kOperacje = {
    [](uint8_t port) -> uint8_t {
        D().Zdarzenie("Present " + std::to_string(port));
        return D().portObecny;
    },
    [](uint8_t port, uint32_t speed, uint16_t wt, uint16_t rt) -> int32_t {
        return D().Inicjalizuj(port, speed, wt, rt);
    },
    []() -> int32_t {
        D().Zdarzenie("UnInit");
        return 0;
    },
    [](uint8_t on) { D().Zdarzenie("CTS " + std::to_string(on)); },
    [](uint8_t parity) -> uint8_t {
        D().Zdarzenie("Parity " + std::to_string(parity));
        return 1;
    },
    [](uint16_t speed) -> uint8_t {
        D().Zdarzenie("Speed " + std::to_string(speed));
        D().predkosc = speed;
        return 1;
    },
    [](uint8_t channel) -> uint8_t {
        D().Zdarzenie("Kanal " + std::to_string(channel));
        return 1;
    },
    []() -> int32_t {
        D().Zdarzenie("DTR+");
        return 1;
    },
    []() -> int32_t {
        D().Zdarzenie("DTR-");
        return 1;
    },
    []() -> int32_t {
        D().Zdarzenie("RTS+");
        D().rts = true;
        return 1;
    },
    []() -> int32_t {
        D().Zdarzenie("RTS-");
        D().rts = false;
        return 1;
    },
    [](uint8_t b) -> int32_t { return D().Zapisz(b); },
    [](uint8_t* b) -> int32_t { return D().Odczytaj(b); },
    []() -> int32_t {
        D().Zdarzenie("Clear");
        return 0;
    },
    []() -> uint8_t {
        D().Zdarzenie("Modem");
        uint8_t s = 0;
        if (D().dsrStale || (D().dsrZaRts && D().rts)) s |= 0x20;
        if (D().dcd) s |= 0x80;
        return s;
    },
    [](uint16_t ms) { D().Zdarzenie("Pause " + std::to_string(ms)); },
};

}  // namespace

std::string Hex(uint8_t b) {
    char t[3];
    std::snprintf(t, sizeof t, "%02X", b);
    return t;
}

DrukarkaSkryptowa::DrukarkaSkryptowa() {
    if (gDrukarka != nullptr) throw std::logic_error("one scripted printer at a time");
    gDrukarka = this;
    UstawieniaDomyslneLacza();
    UstawKanalSerwera(nullptr);
    UstawTransportMux(nullptr);
    UstawOperacjePortu(kOperacje);
    PortOtwarty = 1;
}

DrukarkaSkryptowa::~DrukarkaSkryptowa() {
    PrzywrocOperacjePortu();
    UstawKanalSerwera(nullptr);
    UstawTransportMux(nullptr);
    UstawieniaDomyslneLacza();
    gDrukarka = nullptr;
}

void DrukarkaSkryptowa::Wyslij(std::initializer_list<uint8_t> bajty) {
    for (uint8_t b : bajty) doWyslania_.push_back(b);
}

void DrukarkaSkryptowa::Wyslij(const std::vector<uint8_t>& bajty) {
    for (uint8_t b : bajty) doWyslania_.push_back(b);
}

void DrukarkaSkryptowa::Milczy() { doWyslania_.push_back(std::nullopt); }

std::vector<uint8_t> DrukarkaSkryptowa::Zapisane() const {
    std::vector<uint8_t> wynik;
    for (const Zapis& z : zapisy_) wynik.push_back(z.bajt);
    return wynik;
}

std::vector<std::string> DrukarkaSkryptowa::Wywolania(bool bajty) const {
    if (bajty) return wywolania_;
    std::vector<std::string> wynik;
    for (const std::string& w : wywolania_)
        if (w.rfind("W ", 0) != 0 && w.rfind("R ", 0) != 0) wynik.push_back(w);
    return wynik;
}

void DrukarkaSkryptowa::WyczyscZapis() {
    zapisy_.clear();
    wywolania_.clear();
    odczyty_ = 0;
}

std::size_t DrukarkaSkryptowa::NieodczytaneBajty() const {
    std::size_t n = 0;
    for (const auto& b : doWyslania_)
        if (b) ++n;
    return n;
}

int32_t DrukarkaSkryptowa::Zapisz(uint8_t b) {
    if (pozostaleZapisy_) {
        if (*pozostaleZapisy_ == 0) {
            Zdarzenie("W " + Hex(b) + " !");
            return 0;
        }
        --*pozostaleZapisy_;
    }
    Zdarzenie("W " + Hex(b));
    zapisy_.push_back({b, predkosc, rts});
    return 1;
}

int32_t DrukarkaSkryptowa::Inicjalizuj(uint8_t port, uint32_t speed, uint16_t wt, uint16_t rt) {
    Zdarzenie("Init " + std::to_string(port) + " " + std::to_string(speed) + " " +
              std::to_string(wt) + " " + std::to_string(rt));
    int32_t wynik = wynikInicjalizacji;
    if (pozostaleInicjalizacje_) {
        if (*pozostaleInicjalizacje_ == 0)
            wynik = 2;
        else
            --*pozostaleInicjalizacje_;
    }
    if (wynik == 0) {
        predkosc = speed;
        rts = false;
    }
    return wynik;
}

int32_t DrukarkaSkryptowa::Odczytaj(uint8_t* b) {
    ++odczyty_;
    if (doWyslania_.empty() || !doWyslania_.front()) {
        if (!doWyslania_.empty()) doWyslania_.pop_front();
        Zdarzenie("R -");
        return 0;
    }
    *b = *doWyslania_.front();
    doWyslania_.pop_front();
    Zdarzenie("R " + Hex(*b));
    return 1;
}

}  // namespace vorin::link::test
