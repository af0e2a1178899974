// The wall clock as the driver writes it into its run description and
// exchange headers: local date and time, to the second.
#pragma once

namespace vorin::platform {

struct LocalDateTime {
    int year;    // e.g. 2026
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..59 (60 on a leap second)
};

// Safe from any thread (no shared static result as with localtime()).
LocalDateTime LocalNow();

}  // namespace vorin::platform
