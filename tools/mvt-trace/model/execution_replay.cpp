// Executions, their pieces and the regions, from the begin and end records
// of every thread, replayed in the order they were made.

#include <algorithm>
#include <unordered_map>

#include "model/model_builder.h"

namespace mvt_trace {

namespace {

using execution = trace_model::execution;
using piece = trace_model::piece;
using event = file_log::event;
using event_kind = file_log::event_kind;

// The events of every file as one stream in time order, as the threads made
// them. Within one file the events keep their order even if its clock
// stepped back; equal times go in file order.
class event_merge {
public:
    explicit event_merge(const std::vector<std::unique_ptr<file_log>>& logs) : logs_(logs), at_(logs.size(), 0) {
        for (std::uint32_t f = 0; f < logs.size(); ++f)
            if (!logs[f]->events.empty()) push(f);
    }

    bool next(const event*& e, std::uint32_t& file) {
        if (heap_.empty()) return false;
        std::pop_heap(heap_.begin(), heap_.end(), later);
        file = heap_.back().file;
        heap_.pop_back();
        e = &logs_[file]->events[at_[file]++];
        if (at_[file] < logs_[file]->events.size()) push(file);
        return true;
    }

private:
    struct head {
        std::uint64_t timestamp;
        std::uint32_t file;
    };
    static bool later(const head& a, const head& b) {
        return a.timestamp != b.timestamp ? a.timestamp > b.timestamp : a.file > b.file;
    }
    void push(std::uint32_t file) {
        heap_.push_back({logs_[file]->events[at_[file]].timestamp, file});
        std::push_heap(heap_.begin(), heap_.end(), later);
    }

    const std::vector<std::unique_ptr<file_log>>& logs_;
    std::vector<std::size_t> at_;
    std::vector<head> heap_;
};

}  // namespace

void model_builder::replay_executions() {
    const std::size_t threads = files_.size();
    counts_.assign(threads, thread_counts{});
    trace_model::execution_list& executions = model_.executions_;
    // Every begin makes an execution or a piece at most, and so does every
    // end (a task switched back in): enough room for all, reserved at once
    // rather than grown and copied.
    std::uint64_t begins = 0, ends = 0;
    for (const trace_model::thread& t : model_.threads_) {
        begins += t.by_kind[static_cast<std::size_t>(record_kind::task_begin)];
        ends += t.by_kind[static_cast<std::size_t>(record_kind::task_end)];
    }
    reserve_in_huge_pages(executions, begins);
    trace_model::piece_list pieces;
    reserve_in_huge_pages(pieces, begins + ends);
    // An execution open on a thread. Its piece is no_index while an OpenMP
    // explicit task is switched out: OpenMP runs one task at a time on a
    // thread, and a task that begins another there (a child at a taskwait,
    // say) is suspended until it resumes. Implicit tasks, parallel regions
    // and every execution outside OpenMP contain what runs inside them.
    struct open_entry {
        std::uint32_t execution;
        std::uint32_t piece;
        bool switches;
    };
    std::vector<std::vector<open_entry>> stacks(threads);
    // Per execution while replaying: its last piece, and the thread whose
    // stack holds it (none while suspended or done).
    std::vector<std::uint32_t, large_allocator<std::uint32_t>> last_piece, live_thread;
    last_piece.reserve(begins);
    live_thread.reserve(begins);
    // Per process: OpenMP executions still open, by identifier number.
    std::vector<std::unordered_map<std::uint32_t, std::uint32_t>> open_openmp(states_.size());
    std::vector<std::unordered_map<std::uint32_t, std::vector<std::uint32_t>>> open_regions(states_.size());
    std::vector<trace_model::region>& regions = model_.regions_;

    auto end_piece = [&](open_entry& entry, std::uint64_t at) {
        if (entry.piece == no_index) return;
        piece& stretch = pieces[entry.piece];
        stretch.end = std::max(at, stretch.begin);
        executions[stretch.execution].busy += stretch.end - stretch.begin;
        executions[stretch.execution].end = stretch.end;
        entry.piece = no_index;
    };
    auto new_piece = [&](std::uint32_t e, std::uint32_t thread, std::uint32_t depth, std::uint64_t at) {
        const auto p = static_cast<std::uint32_t>(pieces.size());
        piece stretch;
        stretch.begin = stretch.end = at;
        stretch.execution = e;
        stretch.thread = thread;
        stretch.depth = depth;
        pieces.push_back(stretch);
        if (last_piece[e] == no_index)
            executions[e].first_piece = p;
        else
            pieces[last_piece[e]].next = p;
        last_piece[e] = p;
        ++executions[e].piece_count;
        return p;
    };
    // The topmost OpenMP explicit task on a thread: the one that runs there,
    // or ran last.
    auto top_switching = [&](std::uint32_t thread) -> long {
        const std::vector<open_entry>& stack = stacks[thread];
        for (std::size_t k = stack.size(); k-- > 0;)
            if (stack[k].switches) return static_cast<long>(k);
        return -1;
    };
    auto switch_out = [&](std::uint32_t thread, std::uint64_t at) {
        const long k = top_switching(thread);
        if (k >= 0) end_piece(stacks[thread][static_cast<std::size_t>(k)], at);
    };
    // After an end: a task switched out for the one that ended resumes.
    auto switch_back = [&](std::uint32_t thread, std::uint64_t at) {
        const long k = top_switching(thread);
        if (k < 0) return;
        open_entry& entry = stacks[thread][static_cast<std::size_t>(k)];
        if (entry.piece == no_index)
            entry.piece = new_piece(entry.execution, thread, static_cast<std::uint32_t>(k), at);
    };
    auto push = [&](std::uint32_t e, std::uint32_t thread, bool switches, std::uint64_t at) {
        if (switches) switch_out(thread, at);
        std::vector<open_entry>& stack = stacks[thread];
        stack.push_back({e, new_piece(e, thread, static_cast<std::uint32_t>(stack.size()), at), switches});
        live_thread[e] = thread;
    };
    // An OpenMP task switched to while it is open: it resumes. If it is on
    // this thread's stack, what lies above it was switched out (untied tasks
    // suspended at a scheduling point); if it is on another thread's, it left
    // that thread without a word, when what lies above it there began, or
    // now.
    auto resume = [&](std::uint32_t e, std::uint32_t thread, std::uint64_t at) {
        if (live_thread[e] == thread) {
            std::vector<open_entry>& stack = stacks[thread];
            while (!stack.empty() && stack.back().execution != e) {
                end_piece(stack.back(), at);
                live_thread[stack.back().execution] = no_index;
                stack.pop_back();
            }
            if (!stack.empty() && stack.back().piece == no_index)
                stack.back().piece = new_piece(e, thread, static_cast<std::uint32_t>(stack.size() - 1), at);
            return;
        }
        if (live_thread[e] != no_index) {
            std::vector<open_entry>& stack = stacks[live_thread[e]];
            for (std::size_t k = 0; k < stack.size(); ++k) {
                if (stack[k].execution != e) continue;
                const std::uint64_t left =
                    k + 1 < stack.size() && stack[k + 1].piece != no_index ? pieces[stack[k + 1].piece].begin : at;
                end_piece(stack[k], left);
                stack.erase(stack.begin() + static_cast<long>(k));
                break;
            }
        }
        push(e, thread, true, at);
    };

    // Per process, by identifier number: OpenMP explicit tasks that ended.
    // libomp reports only the end of a task it runs inside an untied task's
    // taskyield, which ends the untied task instead; its later pieces then
    // begin an identifier that already ended.
    std::vector<std::vector<char>> ended_explicit(states_.size());
    for (std::uint32_t p = 0; p < states_.size(); ++p) ended_explicit[p].assign(model_.processes_[p].ids.size(), 0);
    std::vector<char> declares_nodes(states_.size(), 0);
    for (const trace_model::object& o : model_.objects_)
        if (o.is_node()) declares_nodes[o.process] = 1;

    event_merge merge(logs_);
    const event* ev = nullptr;
    std::uint32_t thread = 0;
    while (merge.next(ev, thread)) {
        const std::uint32_t p = model_.threads_[thread].process;
        switch (ev->kind()) {
            case event_kind::task_begin: {
                const std::uint32_t id = id_number(thread, ev->id);
                const bool openmp = model_.processes_[p].is_openmp_domain(address(thread, ev->domain));
                if (openmp) {
                    auto found = open_openmp[p].find(id);
                    if (found != open_openmp[p].end()) {
                        resume(found->second, thread, ev->timestamp);
                        break;
                    }
                }
                const auto e = static_cast<std::uint32_t>(executions.size());
                execution x;
                x.begin = x.end = ev->timestamp;
                x.thread = thread;
                x.node = node_for(p, id, openmp);
                x.name = handle_string(p, address(thread, ev->name));
                x.id = id;
                x.parent = id_number(thread, ev->parent);
                x.depth = static_cast<std::uint32_t>(stacks[thread].size());
                if (x.node != no_index) {
                    // OpenMP ties a parallel region's execution to the region's
                    // composite node, which names it; the region is the
                    // runtime's, not a task of the program's.
                    const bool region = openmp && model_.text(model_.objects_[x.node].kind) == "composite_node";
                    x.role = region ? trace_model::execution_role::runtime : trace_model::execution_role::task;
                } else if (openmp ? model_.text(x.name) == "omp_explicit" : !declares_nodes[p]) {
                    // OpenMP gives no node to a task without dependences; a
                    // run that declares no graph at all (an instrumented
                    // library marking its work) has only such tasks. Where
                    // a graph is declared, what no node claims is the
                    // runtime's own.
                    x.role = trace_model::execution_role::task_without_node;
                }
                if (openmp && x.is_work() && ended_explicit[p][id]) {
                    ++restarted_tasks_[p];
                    ended_explicit[p][id] = 0;  // counted once
                }
                executions.push_back(x);
                last_piece.push_back(no_index);
                live_thread.push_back(no_index);
                push(e, thread, openmp && x.is_work(), ev->timestamp);
                if (openmp) open_openmp[p][id] = e;
                break;
            }
            case event_kind::task_end: {
                std::vector<open_entry>& stack = stacks[thread];
                if (stack.empty()) {
                    ++counts_[thread].unmatched_task_ends;
                    break;
                }
                open_entry top = stack.back();
                stack.pop_back();
                end_piece(top, ev->timestamp);
                live_thread[top.execution] = no_index;
                auto& open = open_openmp[p];
                auto found = open.find(executions[top.execution].id);
                if (found != open.end() && found->second == top.execution) {
                    open.erase(found);
                    if (executions[top.execution].is_work()) ended_explicit[p][executions[top.execution].id] = 1;
                }
                if (top.switches) switch_back(thread, ev->timestamp);
                break;
            }
            case event_kind::region_begin: {
                trace_model::region r;
                r.begin = r.end = ev->timestamp;
                r.begin_thread = r.end_thread = thread;
                r.id = id_number(thread, ev->id);
                r.name = handle_string(p, address(thread, ev->name));
                // A region the program left unnamed reads as the object it
                // belongs to: a flow graph's regions as the graph.
                if (address(thread, ev->name) == 0 && r.id < states_[p].object_of_id.size()) {
                    const std::uint32_t owner = states_[p].object_of_id[r.id];
                    if (owner != no_index) {
                        const trace_model::object& o = model_.objects_[owner];
                        r.name = o.label != no_index ? o.label : o.kind;
                    }
                }
                open_regions[p][r.id].push_back(static_cast<std::uint32_t>(regions.size()));
                regions.push_back(r);
                break;
            }
            case event_kind::region_end: {
                auto found = open_regions[p].find(id_number(thread, ev->id));
                if (found == open_regions[p].end() || found->second.empty()) {
                    ++counts_[thread].unmatched_region_ends;
                    break;
                }
                trace_model::region& r = regions[found->second.back()];
                found->second.pop_back();
                r.end = std::max(ev->timestamp, r.begin);
                r.end_thread = thread;
                break;
            }
        }
    }

    // What is still open ran until its file's last record; it is counted
    // where its last piece ran.
    auto count_open = [&](std::uint32_t e, std::uint32_t on_thread) {
        execution& x = executions[e];
        if (x.open_at_end) return;
        x.open_at_end = true;
        if (x.role == trace_model::execution_role::runtime)
            ++counts_[on_thread].open_runtime;
        else if (x.role == trace_model::execution_role::task_without_node)
            ++counts_[on_thread].open_unattached;
        else
            ++counts_[on_thread].open_tasks;
    };
    for (std::uint32_t t = 0; t < threads; ++t) {
        model_.threads_[t].unmatched_task_ends = counts_[t].unmatched_task_ends;
        model_.threads_[t].unmatched_region_ends = counts_[t].unmatched_region_ends;
        const std::uint64_t last = model_.threads_[t].last_timestamp;
        for (open_entry& entry : stacks[t]) {
            end_piece(entry, last);
            count_open(entry.execution, t);
        }
    }
    for (auto& open : open_openmp)
        for (const auto& [id, e] : open)
            if (live_thread[e] == no_index && last_piece[e] != no_index) count_open(e, pieces[last_piece[e]].thread);
    for (auto& by_id : open_regions)
        for (auto& [id, open] : by_id)
            for (std::uint32_t r : open) {
                trace_model::region& region = regions[r];
                region.end = std::max(region.begin, model_.threads_[region.begin_thread].last_timestamp);
                region.open_at_end = true;
                ++counts_[region.begin_thread].open_regions;
            }

    // Each thread's pieces, in the order they began.
    index_pairs by_thread;
    by_thread.reserve(pieces.size());
    for (std::uint32_t p = 0; p < pieces.size(); ++p) by_thread.push_back({pieces[p].thread, p});
    model_.thread_pieces_ = compressed_rows(threads, by_thread);
    model_.pieces_ = std::move(pieces);
}

// The executions of each object, in the order they began.
void model_builder::index_executions() {
    index_pairs owned;
    const trace_model::execution_list& executions = model_.executions_;
    for (std::uint32_t e = 0; e < executions.size(); ++e)
        if (executions[e].node != no_index) owned.push_back({executions[e].node, e});
    model_.executions_of_ = compressed_rows(model_.objects_.size(), owned);
}

}  // namespace mvt_trace
