#include "output/otf2_output.h"

#include <otf2/otf2.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mvt_trace {

const char* const otf2_archive_name = "traces";

namespace {

class otf2_failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// OTF2 tells of a failure through a process-wide callback as well as by its
// return code, and by default prints it. The first message of a write is
// kept for the user's one line; nothing is printed.
OTF2_ErrorCode keep_first_message(void* user_data, const char*, uint64_t, const char*, OTF2_ErrorCode code,
                                  const char* format, va_list arguments) {
    auto* first = static_cast<std::string*>(user_data);
    if (first->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        *first = std::string(OTF2_Error_GetDescription(code)) + ": " + text;
    }
    return code;
}

// Buffers are written out whenever they fill: memory stays at a chunk per
// open writer however long the run.
OTF2_FlushType always_flush(void*, OTF2_FileType, OTF2_LocationRef, void*, bool) { return OTF2_FLUSH; }
OTF2_FlushCallbacks flush_callbacks = {always_flush, nullptr};

enum attribute : OTF2_AttributeRef { execution_attribute, node_attribute, piece_attribute, waits_for_attribute, step_attribute };

OTF2_RegionRole role_of(const trace_model& model, const trace_model::execution& e) {
    if (e.is_work()) return OTF2_REGION_ROLE_TASK;
    // The runtime's own executions that OTF2 has a word for: OpenMP's.
    const std::string_view name = model.text(e.name);
    if (name == "omp_parallel") return OTF2_REGION_ROLE_PARALLEL;
    if (name == "omp_barrier") return OTF2_REGION_ROLE_BARRIER;
    return OTF2_REGION_ROLE_UNKNOWN;
}

class archive_writer {
public:
    explicit archive_writer(const run_analysis& run)
        : run_(run), model_(run.model), no_records_(model_.active_threads() == 0), ordinal_(model_.pieces().size(), 0),
          place_(model_.executions().size(), no_index), region_of_object_(model_.objects().size(), OTF2_UNDEFINED_REGION) {
        for (const trace_model::execution& e : model_.executions()) {
            std::uint32_t k = 0;
            for (std::uint32_t p = e.first_piece; k < e.piece_count && p != no_index; p = model_.pieces()[p].next)
                ordinal_[p] = ++k;
        }
        for (std::uint32_t place = 0; place < run.graph.members.size(); ++place) place_[run.graph.members[place]] = place;
        for (std::uint32_t step = 0; step < run.dependencies.critical_path.size(); ++step)
            step_.emplace(run.dependencies.critical_path[step].execution, step + 1);
        OTF2_Error_RegisterCallback(keep_first_message, &first_message_);
    }

    ~archive_writer() {
        if (attributes_) OTF2_AttributeList_Delete(attributes_);
        if (archive_) OTF2_Archive_Close(archive_);
        OTF2_Error_RegisterCallback(nullptr, nullptr);
    }

    archive_writer(const archive_writer&) = delete;
    archive_writer& operator=(const archive_writer&) = delete;

    void write(const std::string& directory, const std::string& creator) {
        archive_ = OTF2_Archive_Open(directory.c_str(), otf2_archive_name, OTF2_FILEMODE_WRITE,
                                     OTF2_CHUNK_SIZE_EVENTS_DEFAULT, OTF2_CHUNK_SIZE_DEFINITIONS_DEFAULT,
                                     OTF2_SUBSTRATE_POSIX, OTF2_COMPRESSION_NONE);
        if (!archive_) fail(OTF2_ERROR_INVALID);
        check(OTF2_Archive_SetFlushCallbacks(archive_, &flush_callbacks, nullptr));
        check(OTF2_Archive_SetSerialCollectiveCallbacks(archive_));
        check(OTF2_Archive_SetCreator(archive_, creator.c_str()));
        attributes_ = OTF2_AttributeList_New();
        defs_ = OTF2_Archive_GetGlobalDefWriter(archive_);
        if (!attributes_ || !defs_) fail(OTF2_ERROR_INVALID);

        define_run();
        check(OTF2_Archive_OpenEvtFiles(archive_));
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t)
            if (has_location(t)) write_events(t);
        check(OTF2_Archive_CloseEvtFiles(archive_));
        // Readers expect a local definition file beside every event file,
        // even with nothing in it.
        check(OTF2_Archive_OpenDefFiles(archive_));
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t) {
            if (!has_location(t)) continue;
            OTF2_DefWriter* local = OTF2_Archive_GetDefWriter(archive_, t);
            if (!local) fail(OTF2_ERROR_INVALID);
            check(OTF2_Archive_CloseDefWriter(archive_, local));
        }
        check(OTF2_Archive_CloseDefFiles(archive_));
        check(OTF2_Archive_CloseGlobalDefWriter(archive_, defs_));
        defs_ = nullptr;
        OTF2_Archive* archive = archive_;
        archive_ = nullptr;
        check(OTF2_Archive_Close(archive));
    }

private:
    [[noreturn]] void fail(OTF2_ErrorCode code) {
        throw otf2_failure(first_message_.empty() ? OTF2_Error_GetDescription(code) : first_message_);
    }
    void check(OTF2_ErrorCode code) {
        if (code != OTF2_SUCCESS) fail(code);
    }

    // Trace files opened in advance that no thread used hold no record, and
    // are left out; unless no file holds any, as OTF2's readers refuse an
    // archive without locations.
    bool has_location(std::uint32_t thread) const {
        return model_.threads()[thread].records > 0 || no_records_;
    }

    // Names, kinds and files come back as one definition each.
    OTF2_StringRef string(std::string_view text) {
        auto [at, added] = strings_.try_emplace(std::string(text), next_string_);
        if (added) define_string(at->first);
        return at->second;
    }
    // For texts that are each their own (lists of executions): not kept.
    OTF2_StringRef define_string(const std::string& text) {
        const OTF2_StringRef ref = next_string_++;
        check(OTF2_GlobalDefWriter_WriteString(defs_, ref, text.c_str()));
        return ref;
    }

    void define_run() {
        check(OTF2_GlobalDefWriter_WriteClockProperties(
            defs_, 1000000000, 0, model_.wall(),
            model_.any_timestamp() ? model_.first_timestamp() : OTF2_UNDEFINED_TIMESTAMP));
        const OTF2_StringRef run_name = string("run");
        check(OTF2_GlobalDefWriter_WriteSystemTreeNode(defs_, 0, run_name, run_name, OTF2_UNDEFINED_SYSTEM_TREE_NODE));
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p)
            check(OTF2_GlobalDefWriter_WriteLocationGroup(defs_, p, string(model_.processes()[p].label),
                                                          OTF2_LOCATION_GROUP_TYPE_PROCESS, 0,
                                                          OTF2_UNDEFINED_LOCATION_GROUP));
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t) {
            if (!has_location(t)) continue;
            const trace_model::thread& thread = model_.threads()[t];
            const auto [first, last] = model_.pieces_of_thread(t);
            const std::uint64_t events = 2 * static_cast<std::uint64_t>(last - first);
            check(OTF2_GlobalDefWriter_WriteLocation(
                defs_, t, string("thread " + std::to_string(thread.file.index) + " (" + thread.file.name + ")"),
                OTF2_LOCATION_TYPE_CPU_THREAD, events, thread.process));
        }
        const struct {
            attribute ref;
            const char* name;
            const char* description;
            OTF2_Type type;
        } attributes[] = {
            {execution_attribute, "execution", "the execution's number, as executions.id in mvt-trace sqlite",
             OTF2_TYPE_UINT64},
            {node_attribute, "node", "the execution's node, as nodes.id in mvt-trace sqlite", OTF2_TYPE_UINT32},
            {piece_attribute, "piece", "which piece of its execution, from 1 (the first carries no number)",
             OTF2_TYPE_UINT32},
            {waits_for_attribute, "waits_for",
             "the executions this one waited for in the graph of executions, by number", OTF2_TYPE_STRING},
            {step_attribute, "critical_path_step", "the execution's step on the critical path, from 1",
             OTF2_TYPE_UINT32},
        };
        for (const auto& a : attributes)
            check(OTF2_GlobalDefWriter_WriteAttribute(defs_, a.ref, string(a.name), string(a.description), a.type));
    }

    OTF2_RegionRef define_region(const std::string& name, const code_location* place, OTF2_RegionRole role,
                                 std::string_view description) {
        auto [at, added] = regions_.try_emplace({name, role}, next_region_);
        if (!added) return at->second;
        const bool known = place && place->known;
        check(OTF2_GlobalDefWriter_WriteRegion(defs_, next_region_, string(name),
                                               string(known ? place->function : name), string(description), role,
                                               OTF2_PARADIGM_USER, OTF2_REGION_FLAG_NONE,
                                               string(known ? place->file : ""), known ? place->line : 0,
                                               known ? place->line : 0));
        return next_region_++;
    }

    // A construct's executions share its region, and so do a node's outside
    // any construct, and the executions of no node that share a name.
    OTF2_RegionRef region_of(const trace_model::execution& e) {
        if (e.node != no_index) {
            OTF2_RegionRef& region = region_of_object_[e.node];
            if (region != OTF2_UNDEFINED_REGION) return region;
            const std::uint32_t c = run_.labels.construct_of(e.node);
            const std::string_view kind = model_.kind_of(model_.objects()[e.node]);
            if (c != no_index) {
                const run_labels::construct& construct = run_.labels.constructs()[c];
                region = define_region(construct.label, construct.location, role_of(model_, e), kind);
            } else {
                region = define_region(run_.labels.of_object(e.node), run_.labels.location_of(e.node),
                                       role_of(model_, e), kind);
            }
            return region;
        }
        auto [at, added] = region_of_name_.try_emplace(e.name, OTF2_UNDEFINED_REGION);
        if (added) at->second = define_region(std::string(model_.text(e.name)), nullptr, role_of(model_, e), "");
        return at->second;
    }

    void describe_piece(std::uint32_t index) {
        const trace_model::piece& p = model_.pieces()[index];
        const trace_model::execution& e = model_.executions()[p.execution];
        check(OTF2_AttributeList_AddUint64(attributes_, execution_attribute, p.execution));
        if (ordinal_[index] > 1) {
            check(OTF2_AttributeList_AddUint32(attributes_, piece_attribute, ordinal_[index]));
            return;
        }
        if (e.node != no_index) check(OTF2_AttributeList_AddUint32(attributes_, node_attribute, e.node));
        if (const std::uint32_t place = place_[p.execution]; place != no_index) {
            const compressed_rows& before = run_.graph.predecessors;
            if (before.row_size(place) > 0) {
                std::string list;
                for (const std::uint32_t* q = before.row_begin(place); q != before.row_end(place); ++q)
                    list += (list.empty() ? "" : " ") + std::to_string(run_.graph.members[*q]);
                check(OTF2_AttributeList_AddStringRef(attributes_, waits_for_attribute, define_string(list)));
            }
        }
        if (auto step = step_.find(p.execution); step != step_.end())
            check(OTF2_AttributeList_AddUint32(attributes_, step_attribute, step->second));
    }

    // A location's events must nest and never go back in time. Pieces on a
    // thread nest as the trace recorded them; a clock that stepped back, or
    // a piece that outlasts the one around it, is bent to fit rather than
    // dropped, so that every piece keeps its ENTER and its LEAVE.
    void write_events(std::uint32_t thread) {
        OTF2_EvtWriter* writer = OTF2_Archive_GetEvtWriter(archive_, thread);
        if (!writer) fail(OTF2_ERROR_INVALID);
        struct open_piece {
            std::uint64_t end;
            std::uint32_t depth;
            OTF2_RegionRef region;
        };
        std::vector<open_piece> open;
        std::uint64_t now = 0;
        auto leave = [&] {
            now = std::max(now, open.back().end);
            check(OTF2_EvtWriter_Leave(writer, nullptr, now, open.back().region));
            open.pop_back();
        };
        const auto [first, last] = model_.pieces_of_thread(thread);
        for (const std::uint32_t* at = first; at != last; ++at) {
            const std::uint32_t index = *at;
            const trace_model::piece& p = model_.pieces()[index];
            const std::uint64_t begin = model_.since_start(p.begin);
            // A piece that begins as the open one ends follows it: an OpenMP
            // task switched out for another ends its piece there, though it
            // stays deeper on the thread's stack. Only a piece of no length,
            // and deeper, is inside it.
            while (!open.empty() && (open.back().end < begin ||
                                     (open.back().end == begin && !(p.end == p.begin && p.depth > open.back().depth))))
                leave();
            const std::uint64_t end =
                open.empty() ? model_.since_start(p.end) : std::min(model_.since_start(p.end), open.back().end);
            now = std::max(now, begin);
            const OTF2_RegionRef region = region_of(model_.executions()[p.execution]);
            describe_piece(index);
            check(OTF2_EvtWriter_Enter(writer, attributes_, now, region));
            open.push_back({std::max(end, now), p.depth, region});
        }
        while (!open.empty()) leave();
        check(OTF2_Archive_CloseEvtWriter(archive_, writer));
    }

    const run_analysis& run_;
    const trace_model& model_;
    const bool no_records_;
    std::string first_message_;
    OTF2_Archive* archive_ = nullptr;
    OTF2_GlobalDefWriter* defs_ = nullptr;
    OTF2_AttributeList* attributes_ = nullptr;
    std::unordered_map<std::string, OTF2_StringRef> strings_;
    OTF2_StringRef next_string_ = 0;
    std::map<std::pair<std::string, OTF2_RegionRole>, OTF2_RegionRef> regions_;
    OTF2_RegionRef next_region_ = 0;
    std::vector<std::uint32_t> ordinal_;  // per piece: which of its execution's, from 1
    std::vector<std::uint32_t> place_;    // per execution: its place in the graph of executions, or no_index
    std::unordered_map<std::uint32_t, std::uint32_t> step_;  // execution to its step on the critical path
    std::vector<OTF2_RegionRef> region_of_object_;
    std::unordered_map<std::uint32_t, OTF2_RegionRef> region_of_name_;
};

}  // namespace

bool write_otf2(const run_analysis& run, const std::string& directory, const std::string& creator,
                std::string& error) {
    try {
        archive_writer(run).write(directory, creator);
        return true;
    } catch (const otf2_failure& failure) {
        error = std::string("OTF2: ") + failure.what();
        return false;
    }
}

}  // namespace mvt_trace
