// Which addresses in a chat line become links. A chat line comes from
// anyone in a circle, and a click on a link hands it to the shell: only web
// and mail addresses may be links; a local file, a share (\\host\x), a
// script or another program's scheme stays plain text.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace qb {

// Whether a text (a link's whole text) is an address a chat link may open:
// it begins with "http:", "https:", "ftp:", "mailto:" or "www." (any case)
// and has something after that, without blanks or control characters.
bool IsChatLinkAddress(const std::u16string& text);

struct ChatLink {
  size_t from = 0, to = 0;  // characters [from, to) of the text
};
// The links of a text: each address of those kinds that starts the text or
// follows a character that is no letter, digit or one of "._-+@/", running
// to the first blank, control character, quote mark or angle bracket, with
// closing punctuation (".,;:!?)]}'") at its end left out.
std::vector<ChatLink> FindChatLinks(const std::u16string& text);

// Whether a character ends every address: no link runs across it.
bool EndsChatLink(char16_t c);
// The stretch of a text whose links an edit of the characters [editFrom,
// editTo) can change: from the last character before editFrom that ends
// every address to the first one at or after editTo, both included (the
// start and the end of the text where there is none). The links that
// FindChatLinks finds in the stretch are those of the whole text there, so
// a box that gained text marks its links again there only.
ChatLink LinkStretch(const std::u16string& text, size_t editFrom, size_t editTo);

}  // namespace qb
