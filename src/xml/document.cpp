#include "mvt_xml/xml_document.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace xml {

namespace {

constexpr int name_size = 1024;
constexpr int value_size = 1024;
constexpr int text_size = 100000;

// Token kinds of the tokenizer.
constexpr int end_token = -1;
constexpr int string_token = '"';
constexpr int equals_token = '=';
constexpr int close_token = '>';
constexpr int empty_end_token = 'E';
constexpr int declaration_end_token = 'X';
constexpr int begin_tag_token = 'b';
constexpr int comment_token = 'c';
constexpr int end_tag_token = 'e';
constexpr int name_token = 'n';
constexpr int declaration_start_token = 'x';

// Elements whose content is kept as raw text, markup included.
bool holds_raw_text(const element& e) {
    const std::string_view name = e.name;
    return name == "data" || name == "text";
}

}  // namespace

// Created with a default-initialising new, so the arrays are not zeroed: the
// tokenizer terminates whatever it stores.
struct document::scratch_buffers {
    char name[name_size];
    char value[value_size];
    char text[text_size];
    // Children of the elements being read, innermost element last. Each
    // element takes its own children in one exact-size vector when its
    // content ends, instead of growing its vector one child at a time.
    std::vector<element*> pending_children;
    // The attributes of the start tag being read, gathered so that the
    // element's map is sized once; the strings keep their capacity from one
    // element to the next.
    std::vector<std::pair<std::string, std::string>> pending_attributes;
    std::size_t attribute_count = 0;
};

namespace {

// Hands an element the children collected for it since `first`, on every way
// out of reading its content, so that a failure keeps what was read.
class child_collector {
public:
    child_collector(std::vector<element*>& pending, element& owner)
        : pending_(pending), owner_(owner), first_(pending.size()) {}
    child_collector(const child_collector&) = delete;
    child_collector& operator=(const child_collector&) = delete;

    ~child_collector() {
        const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(first_);
        try {
            owner_.child_elements.insert(owner_.child_elements.end(), begin, pending_.end());
        } catch (...) {
            for (auto it = begin; it != pending_.end(); ++it) delete *it;
        }
        pending_.resize(first_);
    }

private:
    std::vector<element*>& pending_;
    element& owner_;
    std::size_t first_;
};

}  // namespace

document::document(const char* file_name) : declaration("xml", nullptr), reader(file_name) {}

document::~document() { delete root; }

document::scratch_buffers& document::scratch() {
    if (!buffers) buffers.reset(new scratch_buffers);
    return *buffers;
}

bool document::equals(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

element* document::set_root(element* e) {
    if (root != e) delete root;
    root = e;
    return e;
}

bool document::parse() {
    try {
        bool have_element = false;
        for (;;) {
            switch (reader.next_token(scratch().name, name_size)) {
            case begin_tag_token:
                if (have_element || !read_element(nullptr, 1)) return false;
                have_element = true;
                break;
            case comment_token:
                break;
            case declaration_start_token:
                if (!read_declaration()) return false;
                break;
            case end_token:
                return true;
            default:
                return false;
            }
        }
    } catch (...) {
        return false;
    }
}

bool document::parse_xml_tag() {
    try {
        return read_declaration();
    } catch (...) {
        return false;
    }
}

bool document::parse_element(element* parent) {
    try {
        return read_element(parent, 1);
    } catch (...) {
        return false;
    }
}

// Reads `= "value"` after an attribute name into the value buffer.
bool document::read_attribute_value() {
    return reader.next_token(nullptr, 0) == equals_token &&
           reader.next_token(scratch().value, value_size) == string_token;
}

bool document::read_declaration() {
    scratch_buffers& s = scratch();
    if (reader.next_token(s.name, name_size) != name_token || !equals(s.name, "xml")) return false;
    for (;;) {
        const int token = reader.next_token(s.name, name_size);
        if (token != name_token) return token == declaration_end_token;
        if (!read_attribute_value()) return false;
        declaration.add_attribute(s.name, s.value);
    }
}

// The element is attached before its attributes and content are read, so a
// failure further on leaves it, and all its ancestors, in the tree.
bool document::read_element(element* parent, int depth) {
    // The recursion below is bounded here; see max_depth for the choice.
    if (depth > max_depth) return false;
    scratch_buffers& s = scratch();
    if (reader.next_token(s.name, name_size) != name_token) return false;
    element& e = attach(parent, depth, std::unique_ptr<element>(new element(s.name, nullptr)));
    int token = 0;
    if (!read_attributes(e, token)) return false;
    if (token == empty_end_token) return true;
    if (!read_content(e, depth, token)) return false;
    return read_end_tag(e, token);
}

// Below the outermost element, the parent is being read and collects its
// children (see child_collector).
element& document::attach(element* parent, int depth, std::unique_ptr<element> e) {
    if (parent == nullptr) return *set_root(e.release());
    std::vector<element*>& siblings = depth > 1 ? scratch().pending_children : parent->child_elements;
    siblings.push_back(e.get());
    return *e.release();
}

// Leaves in `token` the token that ended the start tag: '>' or "/>". The
// attributes read go to the element however the tag ends, so a failure keeps
// them too.
bool document::read_attributes(element& e, int& token) {
    scratch_buffers& s = scratch();
    s.attribute_count = 0;
    const bool ok = collect_attributes(token);
    if (s.attribute_count == 0) return ok;
    e.attributes.reserve(e.attributes.size() + s.attribute_count);
    for (std::size_t i = 0; i < s.attribute_count; ++i) {
        e.attributes.insert_or_assign(s.pending_attributes[i].first, s.pending_attributes[i].second);
    }
    return ok;
}

bool document::collect_attributes(int& token) {
    scratch_buffers& s = scratch();
    for (;;) {
        token = reader.next_token(s.name, name_size);
        if (token == close_token || token == empty_end_token) return true;
        if (token != name_token || !read_attribute_value()) return false;
        if (s.attribute_count == s.pending_attributes.size()) s.pending_attributes.emplace_back();
        auto& pending = s.pending_attributes[s.attribute_count++];
        pending.first.assign(s.name);
        pending.second.assign(s.value);
    }
}

// Reads children or text, and leaves in `token` the token that follows them.
bool document::read_content(element& e, int depth, int& token) {
    scratch_buffers& s = scratch();
    if (!holds_raw_text(e) && reader.look_ahead() == '<') {
        const child_collector children(s.pending_children, e);
        for (;;) {
            token = reader.next_token(nullptr, 0);
            if (token == begin_tag_token) {
                if (!read_element(&e, depth + 1)) return false;
            } else if (token != comment_token) {
                return true;
            }
        }
    }
    // The text is stored as set_text would store it: up to its first zero
    // byte, if it holds one.
    const int stored = reader.get_text(s.text, text_size);
    const std::size_t length = stored > 0 ? static_cast<std::size_t>(stored) : 0;
    const void* zero = std::memchr(s.text, 0, length);
    e.text.assign(s.text, zero != nullptr ? static_cast<const char*>(zero) - s.text : length);
    token = reader.next_token(nullptr, 0);
    return true;
}

bool document::read_end_tag(const element& e, int token) {
    scratch_buffers& s = scratch();
    return token == end_tag_token && reader.next_token(s.name, name_size) == name_token &&
           e.name == std::string_view(s.name) && reader.next_token(nullptr, 0) == close_token;
}

element* document::elem(const char* id) { return root != nullptr ? root->child(id) : nullptr; }

const element* document::elem(const char* id) const {
    return root != nullptr ? std::as_const(*root).child(id) : nullptr;
}

std::vector<element*> document::elems(const char* name) { return elems(name, nullptr, nullptr); }

std::vector<const element*> document::elems(const char* name) const { return elems(name, nullptr, nullptr); }

std::vector<element*> document::elems(const char* attr, const char* value) { return elems(nullptr, attr, value); }

std::vector<const element*> document::elems(const char* attr, const char* value) const {
    return elems(nullptr, attr, value);
}

std::vector<element*> document::elems(char* name, const char* attr, const char* value) {
    return elems(static_cast<const char*>(name), attr, value);
}

std::vector<element*> document::elems(std::nullptr_t, const char* attr, const char* value) {
    return elems(static_cast<const char*>(nullptr), attr, value);
}

std::vector<element*> document::elems(const char* name, const char* attr, const char* value) {
    return root != nullptr ? root->children(name, attr, value) : std::vector<element*>();
}

std::vector<const element*> document::elems(const char* name, const char* attr, const char* value) const {
    return root != nullptr ? std::as_const(*root).children(name, attr, value) : std::vector<const element*>();
}

}  // namespace xml
