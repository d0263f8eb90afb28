#ifndef MVT_XML_XML_DOCUMENT_H
#define MVT_XML_XML_DOCUMENT_H

#include <cstddef>
#include <memory>
#include <ostream>
#include <vector>

#include "mvt_xml/export.h"
#include "mvt_xml/xml_element.h"
#include "mvt_xml/xml_tokenizer.h"

namespace xml {

// An XML file read into one element tree: any number of XML declarations and
// comments around at most one root element, whose elements hold either child
// elements or text. Elements named "data" or "text" keep their content as raw
// text, markup included.
class MVT_API document {
public:
    // Elements nested deeper than this make the parse fail. Bounding the
    // recursion keeps hostile input (a million nested tags) from exhausting
    // the stack; 256 matches what established parsers allow by default and is
    // far beyond what trace files need. Destruction, queries and dump walk
    // trees without recursion, so trees built by hand may go deeper.
    static constexpr int max_depth = 256;

    explicit document(const char* file_name);
    ~document();
    document(const document&) = delete;
    document& operator=(const document&) = delete;

    // Reads the rest of the file. False on malformed input; whatever was
    // built up to the failure stays in the tree. An element read when a root
    // is already set (by set_root or an earlier parse) replaces and destroys
    // that root.
    bool parse();
    // Reads a declaration after its "<?".
    bool parse_xml_tag();
    // Reads one element after its "<" and attaches it to `parent`, or makes
    // it the root when `parent` is null.
    bool parse_element(element* parent);

    static bool equals(const char* a, const char* b);
    // Destroys the current root (unless it is `e`) and takes ownership of `e`.
    element* set_root(element* e);

    // Queries over the root's descendants; the root itself is never a result.
    // The three-argument form is there for a char* name and for a const one,
    // so that string literals can be passed.
    element* elem(const char* id);
    const element* elem(const char* id) const;
    std::vector<element*> elems(const char* name);
    std::vector<const element*> elems(const char* name) const;
    std::vector<element*> elems(const char* attr, const char* value);
    std::vector<const element*> elems(const char* attr, const char* value) const;
    std::vector<element*> elems(char* name, const char* attr, const char* value);
    std::vector<element*> elems(const char* name, const char* attr, const char* value);
    std::vector<element*> elems(std::nullptr_t name, const char* attr, const char* value);
    std::vector<const element*> elems(const char* name, const char* attr, const char* value) const;

    // Writes the declaration line, then the tree.
    void dump(std::ostream& out);
    void dump(std::ostream& out) const;

    element declaration;
    element* root = nullptr;
    tokenizer reader;

private:
    struct scratch_buffers;

    MVT_LOCAL scratch_buffers& scratch();
    MVT_LOCAL bool read_declaration();
    MVT_LOCAL bool read_attribute_value();
    MVT_LOCAL bool read_element(element* parent, int depth);
    MVT_LOCAL element& attach(element* parent, int depth, std::unique_ptr<element> e);
    MVT_LOCAL bool read_attributes(element& e, int& token);
    MVT_LOCAL bool collect_attributes(int& token);
    MVT_LOCAL bool read_content(element& e, int depth, int& token);
    MVT_LOCAL bool read_end_tag(const element& e, int token);

    // Name, value and text buffers, allocated on the first parse and shared
    // by every nesting level: no level needs its buffers once it has copied
    // their contents into its element.
    std::unique_ptr<scratch_buffers> buffers;
};

}  // namespace xml

#endif
