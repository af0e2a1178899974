#include "serial/library.h"

#include "platform/errors.h"
#include "serial/last_error.h"
#include "serial/tcomm.h"

namespace vorin::serial {

Library& TheLibrary() {
    static Library library;
    return library;
}

void RaiseProcessPriority() {
    using platform::PriorityClass;
    Library& lib = TheLibrary();
    PriorityClass current;
    if (!platform::GetProcessPriorityClass(current)) {
        StoreErrorCode(platform::LastError());
        return;
    }
    lib.savedPriority = current;
    if (current == PriorityClass::Idle || current == PriorityClass::Normal)
        platform::SetProcessPriorityClass(PriorityClass::High);  // best effort
}

void RestoreProcessPriority() {
    Library& lib = TheLibrary();
    platform::PriorityClass current;
    if (!platform::GetProcessPriorityClass(current)) {
        StoreErrorCode(platform::LastError());
        return;
    }
    if (lib.savedPriority && current != *lib.savedPriority)
        platform::SetProcessPriorityClass(*lib.savedPriority);
}

}  // namespace vorin::serial
