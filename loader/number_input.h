// Reading the port number the way a "%i" conversion reads the keyboard: key by
// key, every key echoed once as it arrives, no line editing, and the first key
// that cannot continue the number pushed back so that it stays pending.
#pragma once

#include <cstdint>

namespace vorin::loader {

// Where the keys come from. ReadKey echoes a key the first time it is read
// (a pushed-back key is not echoed again); -1 is the end of input.
class KeySource {
public:
    virtual ~KeySource() = default;
    virtual int ReadKey() = 0;
    virtual void PushBack(int key) = 0;
};

enum class NumberStatus {
    Number,      // `value` holds the number read
    NoNumber,    // the first key after white space cannot begin a number; it is pushed back
    EndOfInput,  // input ended before a number was complete
};

struct NumberResult {
    NumberStatus status = NumberStatus::NoNumber;
    // The integer read, wrapped to 32 bits as a C int conversion would hold it;
    // only its low bits matter to the caller.
    uint32_t value = 0;
};

// White space first (blank, tab, Enter, line feed, vertical tab, form feed),
// then an optional sign and the digits: decimal, octal after a leading 0,
// hexadecimal after 0x or 0X.
NumberResult ReadInteger(KeySource& keys);

}  // namespace vorin::loader
