// Texts the panels derive from nodes and from what the user types.
#pragma once
#include <string>

class CMyNode;

namespace panels {

// A category name typed into a tab's rename edit: every blank, "<" and ">"
// removed. RenameAccepted tells whether the result may become the name
// (longer than one byte, so a single Chinese character is enough).
std::string CleanRenameText(const std::string& typed);
bool RenameAccepted(const std::string& cleaned);

// Blanks (space, tab, CR, LF) trimmed from both ends.
std::string TrimBlanks(const std::string& text);
std::string RemoveSpaces(const std::string& text);

// Text before the first occurrence of `mark` (the whole text without one).
std::string CutBefore(const std::string& text, const std::string& mark);
// Captions of item and program buttons: the name without ".url" / ".lnk" and
// whatever follows it.
inline std::string ItemCaption(const std::string& name) { return CutBefore(name, ".url"); }
inline std::string ProgramCaption(const std::string& name) { return CutBefore(name, ".lnk"); }

// Where an item button looks for its icon first: the item's icon path, or
// its address followed by its name when it has none.
std::string IconSource(const CMyNode& node);
// The second place: the program's images\icon folder with the source's part
// from its last backslash on.
std::string LocalIconPath(const std::string& programDir, const std::string& source);

// Address opened by a search command of the category menu; empty for an
// identifier that is not a search. The query bytes are appended unescaped.
std::string SearchAddress(int commandId, const std::string& query);
// The query of a search: the name of a category node, empty otherwise.
std::string SearchQuery(const CMyNode* context);

// A UTF-8-free length cut: at most `n` bytes of a code page 936 text,
// without splitting a double-byte character or a character reference.
std::string CutBytesGbk(const std::string& text, size_t n);

}  // namespace panels
