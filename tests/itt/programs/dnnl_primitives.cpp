// A oneDNN program whose executions the trace must name: a few matmul and
// eltwise primitives executed in a loop. oneDNN marks every execution as a
// task named after its primitive kind, with the domain and handles its
// compiled-in static part created before the library was loaded.
//
//   dnnl_primitives LOOPS
//
// Prints "matmul N" and "eltwise N", how often each kind was executed.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <oneapi/dnnl/dnnl.hpp>

int main(int argc, char** argv) {
    const int loops = argc > 1 ? std::atoi(argv[1]) : 10;
    using tag = dnnl::memory::format_tag;
    using dt = dnnl::memory::data_type;

    dnnl::engine engine(dnnl::engine::kind::cpu, 0);
    dnnl::stream stream(engine);

    const dnnl::memory::desc a_md({8, 16}, dt::f32, tag::ab), b_md({16, 4}, dt::f32, tag::ab),
        c_md({8, 4}, dt::f32, tag::ab);
    // What the primitives compute does not matter here, only that they run.
    dnnl::memory a(a_md, engine), b(b_md, engine), c(c_md, engine), d(c_md, engine);

    // Two matmuls and three eltwise primitives of different algorithms.
    std::vector<dnnl::matmul> matmuls;
    matmuls.emplace_back(dnnl::matmul::primitive_desc(dnnl::matmul::desc(a_md, b_md, c_md), engine));
    matmuls.emplace_back(dnnl::matmul::primitive_desc(dnnl::matmul::desc(a_md, b_md, c_md), engine));
    std::vector<dnnl::eltwise_forward> eltwises;
    for (dnnl::algorithm algorithm :
         {dnnl::algorithm::eltwise_relu, dnnl::algorithm::eltwise_tanh, dnnl::algorithm::eltwise_logistic})
        eltwises.emplace_back(dnnl::eltwise_forward::primitive_desc(
            dnnl::eltwise_forward::desc(dnnl::prop_kind::forward_inference, algorithm, c_md, 0.f), engine));

    long matmul_runs = 0, eltwise_runs = 0;
    for (int loop = 0; loop < loops; ++loop) {
        for (dnnl::matmul& m : matmuls) {
            m.execute(stream, {{DNNL_ARG_SRC, a}, {DNNL_ARG_WEIGHTS, b}, {DNNL_ARG_DST, c}});
            ++matmul_runs;
        }
        for (dnnl::eltwise_forward& e : eltwises) {
            e.execute(stream, {{DNNL_ARG_SRC, c}, {DNNL_ARG_DST, d}});
            ++eltwise_runs;
        }
        stream.wait();
    }
    std::printf("matmul %ld\neltwise %ld\n", matmul_runs, eltwise_runs);
    return 0;
}
