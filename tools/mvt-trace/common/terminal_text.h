#ifndef MVT_TRACE_TERMINAL_TEXT_H
#define MVT_TRACE_TERMINAL_TEXT_H

#include <string>
#include <string_view>

namespace mvt_trace {

// Text from a trace (names, paths, quoted lines) made safe to print on a
// terminal. Trace names are whatever bytes the traced program passed, and
// an escape sequence among them could retitle the window, rewrite what is
// on the screen, or hide the line it sits in. Valid UTF-8 and printable
// ASCII stay as they are; every C0 control byte (line feed and tab too, so
// that one name stays one line), DEL, the C1 controls U+0080 to U+009F and
// each byte that is not part of valid UTF-8 is shown as \xNN, in lower case.
std::string printable(std::string_view text);

}  // namespace mvt_trace

#endif
