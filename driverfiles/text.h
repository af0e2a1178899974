// Text buffers of the driver: 256 bytes, NUL-terminated, at most 255
// characters. Everything here stays inside those 256 bytes whatever the
// caller's text holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorin::driverfiles {

inline constexpr std::size_t kTextSize = 256;
inline constexpr std::size_t kTextMax = 255;

inline constexpr char kCommentChar = ';';
inline constexpr char kHeaderChar = '#';
inline constexpr char kDataChar = '$';
inline constexpr char kFieldSeparator = '\t';
inline constexpr char kSubfieldSeparator = ':';
inline constexpr char kParameterSeparator = ';';

// Length of a caller's text; kTextSize when its 256 bytes hold no NUL
// (an over-long text). A null pointer counts as empty.
std::size_t TextLength(const char* text);
inline bool TextFits(const char* text) { return TextLength(text) <= kTextMax; }

// Stores s (cut to 255 characters) as a text: all 256 bytes written.
void StoreText(char* out, std::string_view s);

// Makes an in/out buffer a proper text, cutting it at 255 characters.
std::size_t TerminateText(char* text);

// The field extraction of NapisZawieraPole on a string: empty optional-like
// result signalled by the bool.
bool ExtractField(std::string_view text, unsigned n, char separator, std::string& field);

// The line cleaning of OczyszczenieLinii on a string.
std::string CleanLine(std::string_view text);

}  // namespace vorin::driverfiles
