#include "mvt_xml/xml_tokenizer.h"

#include <cstdio>
#include <typeinfo>

namespace xml {

namespace {

constexpr signed char end_of_input = -1;

bool is_significant(int c) { return c >= 33 && c <= 126; }

// A getc result becomes a window character: -1 and the byte 255 both read as
// end of input afterwards.
signed char to_window(int c) { return static_cast<signed char>(static_cast<unsigned char>(c)); }

// Stores characters up to a limit and drops the rest. A null buffer or a
// size of 0 stores nothing, not even the terminator.
class bounded_text {
public:
    bounded_text(char* buf, int size, int reserved)
        : buf_(buf), limit_(buf != nullptr && size > reserved ? size - reserved : 0),
          terminate_(buf != nullptr && size > 0) {}

    bool put(signed char c) {
        if (count_ >= limit_) return false;
        buf_[count_++] = static_cast<char>(c);
        return true;
    }
    int finish() {
        if (terminate_) buf_[count_] = 0;
        return count_;
    }

private:
    char* buf_;
    int limit_;
    bool terminate_;
    int count_ = 0;
};

}  // namespace

tokenizer::tokenizer(const char* name) {
    if (name == nullptr) return;
    file_name = name;
    file = std::fopen(name, "r");
    if (file == nullptr) {
        std::printf("ERROR: Could not open %s\n", name);
        std::fflush(stdout);
        open_failed = true;
        // The other reading operations then see the end of the input at once.
        window[0] = window[1] = window[2] = end_of_input;
    }
}

tokenizer::~tokenizer() {
    if (file != nullptr) std::fclose(file);
}

// The stream belongs to this tokenizer alone, so stdio's locking buys nothing.
int tokenizer::getc() {
    if (file == nullptr) return -1;
    return getc_unlocked(file);
}

void tokenizer::choose_byte_source() {
    const bool plain = file != nullptr && typeid(*this) == typeid(tokenizer);
    source = plain ? byte_source::stdio : byte_source::virtual_getc;
}

inline int tokenizer::read_byte() {
    if (source == byte_source::stdio) return getc_unlocked(file);
    if (source == byte_source::unknown) choose_byte_source();
    return source == byte_source::stdio ? getc_unlocked(file) : getc();
}

inline void tokenizer::shift() {
    window[0] = window[1];
    window[1] = window[2];
    window[2] = to_window(read_byte());
}

bool tokenizer::is_whitespace(int c) { return c != -1 && !is_significant(c); }

int tokenizer::next_char() {
    signed char c0, c1 = window[1], c2 = window[2];
    do {
        c0 = c1;
        c1 = c2;
        c2 = to_window(read_byte());
    } while (c0 != end_of_input && !is_significant(c0));
    window[0] = c0;
    window[1] = c1;
    window[2] = c2;
    return c0;
}

int tokenizer::look_ahead() {
    while (is_whitespace(window[1])) {
        window[1] = window[2];
        window[2] = to_window(read_byte());
    }
    return window[1];
}

int tokenizer::next_token(char* buf, int size) {
    if (open_failed) return -1;
    if (window[0] == 0 && window[1] == 0) {
        window[1] = to_window(read_byte());
        window[2] = to_window(read_byte());
    }
    next_char();
    switch (window[0]) {
    case end_of_input:
        return -1;
    case '=':
    case '>':
        return window[0];
    case '"':
        return read_quoted(buf, size);
    case '/':
        return closes_tag_with('E');
    case '?':
        return closes_tag_with('X');
    case '<':
        return read_tag_opening();
    default:
        return read_name(buf, size);
    }
}

int tokenizer::closes_tag_with(int kind) {
    if (window[1] != '>') return -1;
    shift();
    return kind;
}

int tokenizer::read_tag_opening() {
    switch (window[1]) {
    case '!':
        return skip_comment();
    case '?':
        shift();
        return 'x';
    case '/':
        shift();
        return 'e';
    default:
        return 'b';
    }
}

// A backslash protects the character after it, the closing quote included;
// escapes are kept as written. Ends with window[0] on the closing quote.
// An unterminated string is malformed: -1.
int tokenizer::read_quoted(char* buf, int size) {
    bounded_text out(buf, size, 1);
    for (;;) {
        const signed char before = window[0];
        shift();
        if (window[0] == end_of_input) {
            out.finish();
            return -1;
        }
        if (before != '\\' && window[0] == '"') break;
        out.put(window[0]);
    }
    out.finish();
    return '"';
}

// A name runs up to '=', '>', '?', '/', whitespace or the end of input; the
// character that ends it stays unconsumed. '/' ends a name so that "<a/>"
// reads back what dump writes for an empty element.
int tokenizer::read_name(char* buf, int size) {
    bounded_text out(buf, size, 1);
    // The window lives in locals during the loop: stores into the char buffer
    // may alias anything and would otherwise send it back to memory per byte.
    signed char c0 = window[0], c1 = window[1], c2 = window[2];
    out.put(c0);
    while (is_significant(c1) && c1 != '=' && c1 != '>' && c1 != '?' && c1 != '/') {
        c0 = c1;
        c1 = c2;
        c2 = to_window(read_byte());
        out.put(c0);
    }
    window[0] = c0;
    window[1] = c1;
    window[2] = c2;
    out.finish();
    return 'n';
}

// Called with the window on "<!". The comment is read with direct getc calls
// up to the first "-->" after the opening "<!--", and ends with window[0] on
// its '>'. Anything but "<!--" (DOCTYPE, CDATA) and an unterminated comment
// are malformed: -1.
int tokenizer::skip_comment() {
    if (window[2] != '-') return -1;
    if (read_byte() != '-') return -1;
    for (;;) {
        int c = read_byte();
        while (c != '-') {
            if (c == -1) return -1;
            c = read_byte();
        }
        int dashes = 0;
        while (c == '-') {
            ++dashes;
            c = read_byte();
        }
        if (dashes >= 2 && c == '>') break;
        if (c == -1) return -1;
    }
    window[1] = '>';
    window[2] = to_window(read_byte());
    shift();
    return 'c';
}

// Reads element text up to the end tag that closes it, counting nested tags
// so that markup inside the text stays part of it. Stops with the "</" of
// that end tag in window[1] and window[2].
int tokenizer::get_text(char* buf, int size) {
    bounded_text out(buf, size, 2);
    // The end tag follows at once: the text is empty and the end tag is left
    // for the next token, rather than being read as text.
    if (window[1] == '<' && window[2] == '/') return out.finish();
    shift();
    signed char c0 = window[0], c1 = window[1], c2 = window[2];
    int depth = c0 == '<' ? 1 : 0;
    bool warned = false;
    while (c0 != end_of_input) {
        if (!out.put(c0) && !warned) {
            std::fputs("WARNING: buffer too small for data, truncating\n", stdout);
            std::fflush(stdout);
            warned = true;
        }
        if (c1 == '/' && c2 == '>') {
            --depth;
        } else if (c1 == '<') {
            if (c2 != '/') {
                ++depth;
            } else if (depth <= 0) {
                break;
            } else {
                --depth;
            }
        }
        c0 = c1;
        c1 = c2;
        c2 = to_window(read_byte());
    }
    window[0] = c0;
    window[1] = c1;
    window[2] = c2;
    return out.finish();
}

// The quoted-string rule of next_token, starting from window[0] as it is,
// for callers that read strings themselves; warns for every dropped character.
int tokenizer::capture_string(char* buf, int size) {
    bounded_text out(buf, size, 1);
    for (;;) {
        const signed char before = window[0];
        shift();
        if (window[0] == end_of_input) break;
        if (before != '\\' && window[0] == '"') break;
        if (!out.put(window[0])) {
            std::printf("WARNING: buffer %d is too small for string, truncating\n", size);
            std::fflush(stdout);
        }
    }
    return out.finish();
}

}  // namespace xml
