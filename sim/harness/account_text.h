// How the account's text reaches a terminal: control characters made visible, long lines broken.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace sim {

// The text with every control character but the line break made visible: C0 and DEL in caret
// notation ("^[" for ESC, "^I" for a tab, "^?" for DEL), C1 as "<U+009B>". A label, model or file
// a profile carries can then neither move the cursor nor retitle the terminal. With `tabs`, a tab
// stays a tab (a quoted file's own layout, as the run log's after its time stamps).
std::string Printable(std::string_view text, bool tabs = false);

// The columns a line of UTF-8 takes on a terminal (one per code point).
std::size_t Columns(std::string_view line);

// Writes `text` line by line, each broken at blanks (or, with none, at the last column) so that
// none passes `columns`; a continued line is indented `hang` more than its first.
void WriteWrapped(std::ostream& out, std::string_view text, std::size_t columns,
                  std::size_t hang = 4);

}  // namespace sim
