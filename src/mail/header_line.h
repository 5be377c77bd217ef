// Whether a text can stand in a mail header as one line. Clients write a
// draft's subject into its header, and a client that writes a line break
// there as it stands lets the text after it become headers of its own
// (a "Bcc:" that adds recipients of the user's log).
#pragma once

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

}  // namespace mail
