#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenlo {

// The text without the blanks at either end (names are blank-padded to their field).
std::string_view TrimBlanks(std::string_view text);

// The line's character set is ISO 8859-1, one byte a character. UTF-8 to single-byte text:
// characters outside ISO 8859-1 become "?", which no name check accepts.
std::string Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);

// The name a received file may be stored under: the last path component ("/" and "\" both
// separate, a drive prefix such as "C:" goes). Nothing when that is empty, "." or "..", or holds a
// control character or a colon.
std::optional<std::string> SafeFileName(std::string_view sent);

// Bytes as readable text for traces: printable characters as they are, control characters by
// name (<ACK>, <STX>) and the rest in hex (<x9B>).
std::string Printable(std::string_view bytes);

}  // namespace quenlo
