// The library-wide last-error store: one text and one code, replaced whole by
// every failure and handed out and emptied by IsError. The workers and the
// calling thread all write it, so it is guarded by a lock.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

namespace vorin::serial {

void StoreError(const char* text, int32_t code);
template <class Text>
void StoreError(const Text& text, int32_t code) {
    StoreError(text.c_str(), code);
}
// Replaces only the code (the process-priority calls do this).
void StoreErrorCode(int32_t code);
void ClearError();

struct StoredError {
    std::string text;
    int32_t code = 0;
};
// Copies and empties the store.
StoredError TakeError();
// Copies without emptying (tests, diagnostics).
StoredError PeekError();

struct ErrorStore {
    std::mutex mutex;
    StoredError error;
};
// The one store; it lives with the rest of the library-wide state (library.cpp).
ErrorStore& TheErrorStore();

}  // namespace vorin::serial
