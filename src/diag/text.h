// Text as people see it: UTF-8 read character by character, and the
// characters that a terminal would take as commands.
#pragma once

#include <cstddef>
#include <string_view>

/// Reads the character that `bytes` (not empty) starts with into `c` and
/// gives the count of its bytes. An ill-formed sequence gives U+FFFD for its
/// longest start that could begin a well-formed one, at least one byte, and
/// clears `wellFormed`.
std::size_t decodeUtf8(std::string_view bytes, char32_t& c, bool& wellFormed);

/// Whether a terminal takes `c` as a command: a C0 control, DEL or a C1
/// control.
constexpr bool isControl(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

/// How many bytes at the start of `bytes` (not empty) a terminal shows as one
/// character, and whether that character is a control, to be shown as '?'.
/// Bytes are taken as UTF-8 where they are well formed, else each as the
/// character of its value, so that a control comes through in neither
/// reading.
std::size_t terminalCharacter(std::string_view bytes, bool& control);
