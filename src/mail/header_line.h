// Whether a text can stand in a mail header as one line. Clients write a
// draft's subject into its header, and a client that writes a line break
// there as it stands lets the text after it become headers of its own
// (a "Bcc:" that adds recipients of the user's log).
#pragma once

#include <string>
#include <string_view>

namespace mail {

// False when `text` holds a character that some client or its header
// writer reads as the end of a line: LF, CR, VT, FF, NEL (U+0085), the
// line and paragraph separators (U+2028, U+2029) and the file, group and
// record separators (U+001C-U+001E); and, since no header line may hold
// one either, any other C0 or C1 control character or DEL. A tab is a
// blank in a header and stays allowed. The text is read as UTF-8; its
// validity is checked elsewhere.
bool isOneHeaderLine(std::string_view text);

// `text` (UTF-8) as a header value of encoded words ("=?UTF-8?B?...?="),
// each of at most 75 characters and holding whole characters only,
// separated by a folding line break and a blank, which a reader drops
// between encoded words. Every byte of the text is in base64, so nothing
// of it (a "=?" of its own, a line break) is read as header syntax. An
// empty text gives an empty value.
std::string encodedWords(std::string_view text);

}  // namespace mail
