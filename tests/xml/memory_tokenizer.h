#ifndef MVT_TESTS_XML_MEMORY_TOKENIZER_H
#define MVT_TESTS_XML_MEMORY_TOKENIZER_H

#include <cstddef>
#include <string>
#include <utility>

#include "mvt_xml/xml.h"

// Feeds the tokenizer from a string through an overridden getc, and exposes
// the window so tests can see where a read stopped.
class memory_tokenizer : public xml::tokenizer {
public:
    explicit memory_tokenizer(std::string input) : xml::tokenizer(nullptr), input_(std::move(input)) {}

    int getc() override {
        if (pos_ >= input_.size()) return -1;
        return static_cast<unsigned char>(input_[pos_++]);
    }

    int window_at(int i) const { return window[i]; }

    // The next token, with what it stored for a name or a string.
    std::pair<int, std::string> token(int size = 1024) {
        std::string buf(static_cast<std::size_t>(size), '#');
        const int kind = next_token(buf.data(), size);
        return {kind, kind == 'n' || kind == '"' ? buf.c_str() : ""};
    }

private:
    std::string input_;
    std::size_t pos_ = 0;
};

#endif
