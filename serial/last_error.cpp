#include "serial/last_error.h"

#include <mutex>

namespace vorin::serial {

namespace {

ErrorStore& TheStore() { return TheErrorStore(); }

}  // namespace

void StoreError(const char* text, int32_t code) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.error.text = text;
    s.error.code = code;
}

void StoreErrorCode(int32_t code) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.error.code = code;
}

void ClearError() { StoreError("", 0); }

StoredError TakeError() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    StoredError out = std::move(s.error);
    s.error = StoredError{};
    return out;
}

StoredError PeekError() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.error;
}

}  // namespace vorin::serial
