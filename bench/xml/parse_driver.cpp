// One parse of one file by one library, in a process of its own so that the
// peak resident size belongs to that library alone:
//   xml_parse_driver generate trace|attributes BYTES PATH
//   xml_parse_driver ours|pugixml|expat|read PATH
// A parse prints "parse_ms free_ms peak_kib root_children".
#include <expat.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "mvt_xml/xml.h"
#include "sample_files.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct result {
    double parse_ms = 0;
    double free_ms = 0;
    long peak = 0;
    std::size_t root_children = 0;
    bool ok = true;
};

result run_ours(const char* path) {
    result r;
    auto start = clock_type::now();
    auto doc = std::make_unique<xml::document>(path);
    r.ok = doc->parse() && doc->root != nullptr;
    r.parse_ms = ms_since(start);
    r.peak = peak_kib();
    if (r.ok) r.root_children = doc->root->child_elements.size();
    start = clock_type::now();
    doc.reset();
    r.free_ms = ms_since(start);
    return r;
}

result run_pugixml(const char* path) {
    result r;
    auto start = clock_type::now();
    auto doc = std::make_unique<pugi::xml_document>();
    r.ok = static_cast<bool>(doc->load_file(path));
    r.parse_ms = ms_since(start);
    r.peak = peak_kib();
    for (pugi::xml_node n = doc->document_element().first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element) ++r.root_children;
    }
    start = clock_type::now();
    doc.reset();
    r.free_ms = ms_since(start);
    return r;
}

// Expat builds no tree: it reports elements, and the handlers only count the
// root's children, so this is the cost of reading alone.
struct expat_counts {
    int depth = 0;
    std::size_t root_children = 0;
};

result run_expat(const char* path) {
    result r;
    auto start = clock_type::now();
    XML_Parser parser = XML_ParserCreate(nullptr);
    expat_counts counts;
    XML_SetUserData(parser, &counts);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char*, const XML_Char**) {
            auto* c = static_cast<expat_counts*>(data);
            if (++c->depth == 2) ++c->root_children;
        },
        [](void* data, const XML_Char*) { --static_cast<expat_counts*>(data)->depth; });
    XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
    const int fd = open(path, O_RDONLY);
    for (;;) {
        const int chunk = 1 << 16;
        void* buf = XML_GetBuffer(parser, chunk);
        const ssize_t n = buf != nullptr ? read(fd, buf, chunk) : -1;
        if (n < 0 || XML_ParseBuffer(parser, static_cast<int>(n), n == 0) != XML_STATUS_OK) {
            r.ok = n == 0;
            break;
        }
        if (n == 0) break;
    }
    close(fd);
    XML_ParserFree(parser);
    r.parse_ms = ms_since(start);
    r.peak = peak_kib();
    r.root_children = counts.root_children;
    return r;
}

// The floor: every byte read once, nothing parsed.
result run_read(const char* path) {
    result r;
    auto start = clock_type::now();
    const int fd = open(path, O_RDONLY);
    std::vector<unsigned char> buf(1 << 16);
    unsigned sum = 0;
    for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;) {
        for (ssize_t i = 0; i < n; ++i) sum += buf[static_cast<std::size_t>(i)];
    }
    close(fd);
    r.parse_ms = ms_since(start);
    r.peak = peak_kib();
    r.root_children = sum == 0;  // keeps the sum alive
    return r;
}

int generate(const char* shape, const char* bytes, const char* path) {
    const bool trace = std::strcmp(shape, "trace") == 0;
    if (!trace && std::strcmp(shape, "attributes") != 0) return 2;
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) return 1;
    const sample_counts counts =
        write_sample(out, trace ? sample_shape::trace : sample_shape::attributes, std::strtoull(bytes, nullptr, 10));
    std::fclose(out);
    std::printf("%zu %zu\n", counts.bytes, counts.top_level_elements);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "generate") == 0) return generate(argv[2], argv[3], argv[4]);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s generate trace|attributes BYTES PATH | ours|pugixml|expat|read PATH\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    result r;
    if (mode == "ours") r = run_ours(argv[2]);
    else if (mode == "pugixml") r = run_pugixml(argv[2]);
    else if (mode == "expat") r = run_expat(argv[2]);
    else if (mode == "read") r = run_read(argv[2]);
    else return 2;
    if (!r.ok) {
        std::fprintf(stderr, "%s failed on %s\n", mode.c_str(), argv[2]);
        return 1;
    }
    std::printf("%.1f %.1f %ld %zu\n", r.parse_ms, r.free_ms, r.peak, r.root_children);
    return 0;
}
