#ifndef MVT_XML_XML_TOKENIZER_H
#define MVT_XML_XML_TOKENIZER_H

#include <cstdio>
#include <string>

#include "mvt_xml/export.h"

namespace xml {

// Cuts an XML file into tokens through a three-character window:
// window[0] is the character consumed last, window[1] and window[2] the two
// after it. Results go into caller-supplied buffers; nothing is allocated
// while reading. Every input byte arrives through the virtual getc, so a
// subclass may read from any source (construct it with a null file name).
//
// Token kinds are character codes: -1 end or malformed, '"' string, '=',
// '>', 'E' (/>), 'X' (?>), 'b' (<), 'c' comment, 'x' (<?), 'e' (</), 'n' name.
// Unterminated strings and comments read as -1.
class MVT_API tokenizer {
public:
    explicit tokenizer(const char* file_name);
    // Closes the file. Not virtual on purpose: the class has exactly one
    // virtual slot, getc.
    ~tokenizer();
    tokenizer(const tokenizer&) = delete;
    tokenizer& operator=(const tokenizer&) = delete;

    // The next byte 0..255, or -1 at the end of the input.
    virtual int getc();

    bool is_whitespace(int c);
    int next_char();
    int look_ahead();
    int next_token(char* buf, int size);
    // Empty, and nothing consumed, when the end tag follows at once.
    int get_text(char* buf, int size);
    int capture_string(char* buf, int size);

protected:
    FILE* file = nullptr;
    std::string file_name;
    signed char window[3] = {0, 0, 0};
    bool open_failed = false;

private:
    enum class byte_source : unsigned char { unknown, stdio, virtual_getc };

    MVT_LOCAL void choose_byte_source();
    MVT_LOCAL int read_byte();
    MVT_LOCAL void shift();
    MVT_LOCAL int closes_tag_with(int kind);
    MVT_LOCAL int read_tag_opening();
    MVT_LOCAL int read_quoted(char* buf, int size);
    MVT_LOCAL int read_name(char* buf, int size);
    MVT_LOCAL int skip_comment();

    // Resolved on first use (the dynamic type is not known in the
    // constructor): when getc is not overridden, bytes are taken straight
    // from the stdio buffer instead of through one virtual call each.
    byte_source source = byte_source::unknown;
};

}  // namespace xml

#endif
