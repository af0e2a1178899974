#include "loader/number_input.h"

namespace vorin::loader {

namespace {

bool IsSpace(int key) {
    return key == ' ' || key == '\t' || key == '\r' || key == '\n' || key == '\v' || key == '\f';
}

int DigitValue(int key, unsigned base) {
    int value = -1;
    if (key >= '0' && key <= '9')
        value = key - '0';
    else if (key >= 'a' && key <= 'f')
        value = key - 'a' + 10;
    else if (key >= 'A' && key <= 'F')
        value = key - 'A' + 10;
    return (value >= 0 && static_cast<unsigned>(value) < base) ? value : -1;
}

}  // namespace

NumberResult ReadInteger(KeySource& keys) {
    NumberResult result;
    int key = keys.ReadKey();
    while (IsSpace(key)) key = keys.ReadKey();
    if (key < 0) {
        result.status = NumberStatus::EndOfInput;
        return result;
    }

    bool negative = false;
    if (key == '+' || key == '-') {
        negative = key == '-';
        key = keys.ReadKey();
        if (key < 0) {
            result.status = NumberStatus::EndOfInput;
            return result;
        }
    }

    unsigned base = 10;
    uint32_t value = 0;
    bool haveDigit = false;
    if (key == '0') {
        haveDigit = true;
        key = keys.ReadKey();
        if (key == 'x' || key == 'X') {
            // "0x" must be followed by a hex digit to be hexadecimal; otherwise the
            // 0 is the number and the x, already taken, is gone, as with scanf.
            key = keys.ReadKey();
            base = 16;
        } else {
            base = 8;
        }
    }
    for (;;) {
        const int digit = key < 0 ? -1 : DigitValue(key, base);
        if (digit < 0) break;
        value = value * base + static_cast<uint32_t>(digit);
        haveDigit = true;
        key = keys.ReadKey();
    }
    if (key >= 0) keys.PushBack(key);
    if (!haveDigit) {
        result.status = NumberStatus::NoNumber;
        return result;
    }
    result.status = NumberStatus::Number;
    result.value = negative ? 0u - value : value;
    return result;
}

}  // namespace vorin::loader
