// Parsing a ~40 MB trace-like file: the library's document against pugixml
// (DOM), expat (SAX, no tree) and a bare fgetc loop as the floor.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <pugixml.hpp>
#include <vector>

#include "mvt_xml/xml.h"
#include "trace_like_file.h"

namespace {

const trace_like_file& input() {
    static const trace_like_file file(40u << 20);
    return file;
}

void finish(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input().bytes()));
}

void fgetc_loop(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = std::fopen(input().path().c_str(), "r");
        unsigned sum = 0;
        for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) sum += static_cast<unsigned>(c);
        std::fclose(f);
        benchmark::DoNotOptimize(sum);
    }
    finish(state);
}

void expat_sax(benchmark::State& state) {
    std::vector<char> chunk(1 << 16);
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        std::size_t elements = 0;
        XML_SetUserData(parser, &elements);
        XML_SetStartElementHandler(parser, [](void* data, const XML_Char*, const XML_Char**) {
            ++*static_cast<std::size_t*>(data);
        });
        XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
        FILE* f = std::fopen(input().path().c_str(), "r");
        bool ok = true;
        for (std::size_t n; ok && (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0;) {
            ok = XML_Parse(parser, chunk.data(), static_cast<int>(n), 0) == XML_STATUS_OK;
        }
        ok = ok && XML_Parse(parser, nullptr, 0, 1) == XML_STATUS_OK;
        std::fclose(f);
        XML_ParserFree(parser);
        if (!ok) state.SkipWithError("expat failed");
        benchmark::DoNotOptimize(elements);
    }
    finish(state);
}

void pugixml_dom(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(input().path().c_str())) state.SkipWithError("pugixml failed");
        benchmark::DoNotOptimize(doc.first_child());
    }
    finish(state);
}

void mvt_xml_document(benchmark::State& state) {
    for (auto _ : state) {
        xml::document doc(input().path().c_str());
        if (!doc.parse() || doc.root == nullptr || doc.root->child_elements.size() != input().records()) {
            state.SkipWithError("mvt_xml document failed");
        }
        benchmark::DoNotOptimize(doc.root);
    }
    finish(state);
}

}  // namespace

BENCHMARK(fgetc_loop)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(expat_sax)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(pugixml_dom)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(mvt_xml_document)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
