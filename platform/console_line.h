// The console's current output line as this program wrote it, and where the
// cursor stands in it: both console implementations keep it the same way, so
// that the progress column can be found without asking the terminal.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace vorin::platform {

inline void TrackOutputLine(std::string& line, std::size_t& cursor, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '\n':
            line.clear();
            cursor = 0;
            break;
        case '\r': cursor = 0; break;
        case '\b':
            if (cursor > 0) --cursor;
            break;
        default:
            if (cursor < line.size()) {
                line[cursor] = c;
            } else {
                line.push_back(c);
            }
            ++cursor;
        }
    }
}

}  // namespace vorin::platform
