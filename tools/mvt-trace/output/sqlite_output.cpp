#include "output/sqlite_output.h"

#include <sqlite3.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

class sqlite_failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Integer columns hold signed 64-bit numbers; the trace's words are
// unsigned. A word past what they hold (a metadata number, an address of the
// kernel's) is kept exactly, as its decimal text.
struct word {
    std::uint64_t value;
};

class database {
public:
    explicit database(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw sqlite_failure(message);
        }
    }
    ~database() { sqlite3_close(db_); }
    database(const database&) = delete;
    database& operator=(const database&) = delete;

    void exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : sqlite3_errmsg(db_);
            sqlite3_free(message);
            throw sqlite_failure(text);
        }
    }
    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// One prepared INSERT, run once per row.
class inserter {
public:
    inserter(const database& db, const char* sql) : db_(db.handle()) {
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) != SQLITE_OK)
            throw sqlite_failure(sqlite3_errmsg(db_));
    }
    ~inserter() { sqlite3_finalize(statement_); }
    inserter(const inserter&) = delete;
    inserter& operator=(const inserter&) = delete;

    // Texts are bound without a copy: every value outlives the call.
    template <typename... Values>
    void row(const Values&... values) {
        int column = 0;
        (bind(++column, values), ...);
        if (sqlite3_step(statement_) != SQLITE_DONE) throw sqlite_failure(sqlite3_errmsg(db_));
        sqlite3_reset(statement_);
    }

private:
    void checked(int status) {
        if (status != SQLITE_OK) throw sqlite_failure(sqlite3_errmsg(db_));
    }
    void bind(int column, std::nullptr_t) { checked(sqlite3_bind_null(statement_, column)); }
    void bind(int column, bool value) { checked(sqlite3_bind_int(statement_, column, value ? 1 : 0)); }
    void bind(int column, std::uint32_t value) { checked(sqlite3_bind_int64(statement_, column, value)); }
    void bind(int column, std::uint64_t value) {
        if (value > static_cast<std::uint64_t>(std::numeric_limits<sqlite3_int64>::max())) {
            bind(column, word{value});
            return;
        }
        checked(sqlite3_bind_int64(statement_, column, static_cast<sqlite3_int64>(value)));
    }
    void bind(int column, word value) {
        if (value.value <= static_cast<std::uint64_t>(std::numeric_limits<sqlite3_int64>::max())) {
            bind(column, value.value);
            return;
        }
        const std::string text = std::to_string(value.value);
        checked(sqlite3_bind_text(statement_, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    }
    void bind(int column, double value) { checked(sqlite3_bind_double(statement_, column, value)); }
    void bind(int column, std::string_view text) {
        checked(sqlite3_bind_text64(statement_, column, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8));
    }
    void bind(int column, const std::string& text) { bind(column, std::string_view(text)); }
    void bind(int column, const char* text) { bind(column, std::string_view(text)); }
    template <typename T>
    void bind(int column, const std::optional<T>& value) {
        if (value)
            bind(column, *value);
        else
            bind(column, nullptr);
    }

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Column comments say what the README's schema section says at more length.
const char* const schema = R"sql(
CREATE TABLE meta (key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE processes (
  id INTEGER PRIMARY KEY,            -- as "process" in analyze --json
  directory TEXT NOT NULL,
  label TEXT NOT NULL);
CREATE TABLE threads (
  id INTEGER PRIMARY KEY,
  process INTEGER NOT NULL REFERENCES processes(id),
  file TEXT NOT NULL,                -- "_mvt.3"
  file_index INTEGER NOT NULL,
  records INTEGER NOT NULL,
  first_ns INTEGER, last_ns INTEGER, -- null when the file has no record
  ended INTEGER NOT NULL);           -- 1 when the file holds its end_of_records
CREATE TABLE constructs (
  id INTEGER PRIMARY KEY,
  label TEXT NOT NULL,
  function TEXT, file TEXT, line INTEGER,  -- null where the source place is unknown
  nodes INTEGER NOT NULL);
CREATE TABLE nodes (                 -- every graph object: nodes, ports and groups
  id INTEGER PRIMARY KEY,
  process INTEGER NOT NULL REFERENCES processes(id),
  identifier TEXT NOT NULL,
  kind TEXT NOT NULL,
  role TEXT NOT NULL,                -- 'node', 'port' or 'group'
  name TEXT NOT NULL,                -- the program's label, else the kind
  label TEXT NOT NULL,               -- as every command of mvt-trace names it
  parent INTEGER REFERENCES nodes(id),
  port_of INTEGER REFERENCES nodes(id),
  construct INTEGER REFERENCES constructs(id),
  code_address TEXT,
  function TEXT, file TEXT, line INTEGER);
CREATE TABLE executions (
  id INTEGER PRIMARY KEY,            -- the "execution" attribute of mvt-trace otf2
  process INTEGER NOT NULL REFERENCES processes(id),
  thread INTEGER NOT NULL REFERENCES threads(id),  -- of its first piece
  node INTEGER REFERENCES nodes(id),
  construct INTEGER REFERENCES constructs(id),
  name TEXT NOT NULL,
  identifier TEXT NOT NULL,
  parent_identifier TEXT NOT NULL,
  role TEXT NOT NULL,                -- 'task', 'task_without_node' or 'runtime'
  begin_ns INTEGER NOT NULL,
  end_ns INTEGER NOT NULL,
  duration_ns INTEGER,               -- its pieces' time; null while open at the end
  pieces INTEGER NOT NULL,
  depth INTEGER NOT NULL,
  open_at_end INTEGER NOT NULL);
CREATE TABLE pieces (
  id INTEGER PRIMARY KEY,
  execution INTEGER NOT NULL REFERENCES executions(id),
  ordinal INTEGER NOT NULL,          -- from 1
  thread INTEGER NOT NULL REFERENCES threads(id),
  begin_ns INTEGER NOT NULL,
  end_ns INTEGER NOT NULL,
  depth INTEGER NOT NULL);
CREATE TABLE edges (
  from_node INTEGER NOT NULL REFERENCES nodes(id),
  to_node INTEGER NOT NULL REFERENCES nodes(id),
  PRIMARY KEY (from_node, to_node)) WITHOUT ROWID;
CREATE TABLE execution_edges (
  from_execution INTEGER NOT NULL REFERENCES executions(id),
  to_execution INTEGER NOT NULL REFERENCES executions(id),
  PRIMARY KEY (to_execution, from_execution)) WITHOUT ROWID;
CREATE TABLE critical_path (
  step INTEGER PRIMARY KEY,          -- from 1, first to last
  execution INTEGER NOT NULL REFERENCES executions(id),
  instance INTEGER NOT NULL);        -- which of its node's executions, from 1
CREATE TABLE regions (
  id INTEGER PRIMARY KEY,
  process INTEGER NOT NULL REFERENCES processes(id),
  identifier TEXT NOT NULL,
  name TEXT NOT NULL,
  begin_thread INTEGER NOT NULL REFERENCES threads(id),
  end_thread INTEGER NOT NULL REFERENCES threads(id),
  begin_ns INTEGER NOT NULL,
  end_ns INTEGER NOT NULL,
  open_at_end INTEGER NOT NULL);
CREATE TABLE metadata (
  process INTEGER NOT NULL REFERENCES processes(id),
  identifier TEXT NOT NULL,
  key TEXT NOT NULL,
  number INTEGER,                    -- one of number and text is null
  text TEXT);
)sql";

// Made once the rows are in: building an index at the end is a sort, where
// keeping it up to date row by row is a search per row.
const char* const indexes = R"sql(
CREATE INDEX threads_process ON threads(process);
CREATE INDEX nodes_process_identifier ON nodes(process, identifier);
CREATE INDEX nodes_construct ON nodes(construct);
CREATE INDEX executions_node ON executions(node);
CREATE INDEX executions_construct ON executions(construct);
CREATE INDEX executions_thread ON executions(thread);
CREATE INDEX pieces_execution ON pieces(execution);
CREATE INDEX pieces_thread ON pieces(thread);
CREATE INDEX edges_to ON edges(to_node);
CREATE INDEX execution_edges_from ON execution_edges(from_execution);
CREATE INDEX critical_path_execution ON critical_path(execution);
CREATE INDEX regions_process_identifier ON regions(process, identifier);
CREATE INDEX metadata_process_identifier ON metadata(process, identifier);
)sql";

const char* role_text(trace_model::object_role role) {
    switch (role) {
        case trace_model::object_role::node: return "node";
        case trace_model::object_role::port: return "port";
        case trace_model::object_role::group: return "group";
    }
    return "node";
}

const char* role_text(trace_model::execution_role role) {
    switch (role) {
        case trace_model::execution_role::task: return "task";
        case trace_model::execution_role::task_without_node: return "task_without_node";
        case trace_model::execution_role::runtime: return "runtime";
    }
    return "runtime";
}

std::optional<std::uint32_t> present(std::uint32_t index) {
    return index == no_index ? std::nullopt : std::optional<std::uint32_t>(index);
}

class database_writer {
public:
    database_writer(const run_analysis& run, database& db) : run_(run), model_(run.model), db_(db) {}

    void write(const std::string& creator) {
        // The file is a temporary one, renamed only once it is whole: a
        // crash's half-written database is never seen, so neither a journal
        // on disk nor waiting for the disk buys anything.
        db_.exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-32768;");
        db_.exec("BEGIN");
        db_.exec(schema);
        write_meta(creator);
        write_processes_and_threads();
        write_constructs_and_nodes();
        write_executions();
        write_graphs();
        write_regions();
        write_metadata();
        db_.exec(indexes);
        db_.exec("COMMIT");
    }

private:
    std::uint64_t relative(std::uint64_t ns) const {
        return ns > model_.first_timestamp() ? ns - model_.first_timestamp() : 0;
    }

    void write_meta(const std::string& creator) {
        inserter meta(db_, "INSERT INTO meta VALUES (?, ?)");
        const dependency_summary& graph = run_.dependencies;
        meta.row("schema_version", static_cast<std::uint32_t>(sqlite_schema_version));
        meta.row("creator", creator);
        meta.row("time_origin_ns", model_.first_timestamp());
        meta.row("wall_ns", model_.wall());
        meta.row("threads", static_cast<std::uint64_t>(model_.active_threads()));
        meta.row("edges_complete", graph.edges_complete);
        meta.row("work_ns", graph.work);
        meta.row("span_ns", graph.span);
        meta.row("parallelism", graph.parallelism);
    }

    void write_processes_and_threads() {
        inserter processes(db_, "INSERT INTO processes VALUES (?, ?, ?)");
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p)
            processes.row(p, model_.processes()[p].directory, model_.processes()[p].label);
        inserter threads(db_, "INSERT INTO threads VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t) {
            const trace_model::thread& thread = model_.threads()[t];
            const auto when = [&](std::uint64_t ns) {
                return thread.any_timestamp ? std::optional<std::uint64_t>(relative(ns)) : std::nullopt;
            };
            threads.row(t, thread.process, thread.file.name, static_cast<std::uint64_t>(thread.file.index),
                        thread.records, when(thread.first_timestamp), when(thread.last_timestamp), thread.ended);
        }
    }

    void write_constructs_and_nodes() {
        inserter constructs(db_, "INSERT INTO constructs VALUES (?, ?, ?, ?, ?, ?)");
        for (std::uint32_t c = 0; c < run_.labels.constructs().size(); ++c) {
            const run_labels::construct& construct = run_.labels.constructs()[c];
            const code_location* place = construct.location && construct.location->known ? construct.location : nullptr;
            constructs.row(c, construct.label, place_text(place, &code_location::function),
                           place_text(place, &code_location::file), place ? present(place->line) : std::nullopt,
                           static_cast<std::uint64_t>(construct.nodes.size()));
        }
        inserter nodes(db_, "INSERT INTO nodes VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (std::uint32_t o = 0; o < model_.objects().size(); ++o) {
            const trace_model::object& object = model_.objects()[o];
            const code_location* found = run_.labels.location_of(o);
            const code_location* place = found && found->known ? found : nullptr;
            nodes.row(o, object.process, full_id_text(object.id), model_.kind_of(object), role_text(object.role),
                      model_.name_of(object), run_.labels.of_object(o), present(object.parent), present(object.port_of),
                      present(run_.labels.construct_of(o)),
                      object.has_code_address ? std::optional<std::string>(hex_address(object.code_address))
                                              : std::nullopt,
                      place_text(place, &code_location::function), place_text(place, &code_location::file),
                      place ? present(place->line) : std::nullopt);
        }
    }

    static std::optional<std::string_view> place_text(const code_location* place, std::string code_location::*member) {
        return place ? std::optional<std::string_view>(place->*member) : std::nullopt;
    }

    void write_executions() {
        inserter executions(db_, "INSERT INTO executions VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        inserter pieces(db_, "INSERT INTO pieces VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (std::uint32_t e = 0; e < model_.executions().size(); ++e) {
            const trace_model::execution& x = model_.executions()[e];
            const std::uint32_t process = model_.process_of(x);
            const std::string_view name = x.node != no_index ? std::string_view(run_.labels.of_object(x.node))
                                                             : model_.text(x.name);
            executions.row(e, process, x.thread, present(x.node),
                           x.node != no_index ? present(run_.labels.construct_of(x.node)) : std::nullopt, name,
                           full_id_text(model_.id_of(x)), full_id_text(model_.processes()[process].ids.id(x.parent)),
                           role_text(x.role), relative(x.begin), relative(x.end),
                           x.open_at_end ? std::nullopt : std::optional<std::uint64_t>(x.busy), x.piece_count, x.depth,
                           x.open_at_end);
            std::uint32_t ordinal = 0;
            for (std::uint32_t p = x.first_piece; ordinal < x.piece_count && p != no_index; p = model_.pieces()[p].next) {
                const trace_model::piece& piece = model_.pieces()[p];
                pieces.row(p, e, ++ordinal, piece.thread, relative(piece.begin), relative(piece.end), piece.depth);
            }
        }
    }

    void write_graphs() {
        inserter edges(db_, "INSERT INTO edges VALUES (?, ?)");
        for (const trace_model::edge& e : model_.edges()) edges.row(e.from, e.to);
        inserter execution_edges(db_, "INSERT INTO execution_edges VALUES (?, ?)");
        const execution_graph& graph = run_.graph;
        for (std::uint32_t place = 0; place < graph.members.size(); ++place)
            for (const std::uint32_t* q = graph.predecessors.row_begin(place); q != graph.predecessors.row_end(place); ++q)
                execution_edges.row(graph.members[*q], graph.members[place]);
        inserter path(db_, "INSERT INTO critical_path VALUES (?, ?, ?)");
        std::uint32_t step = 0;
        for (const critical_step& s : run_.dependencies.critical_path) path.row(++step, s.execution, s.instance);
    }

    void write_regions() {
        inserter regions(db_, "INSERT INTO regions VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (std::uint32_t r = 0; r < model_.regions().size(); ++r) {
            const trace_model::region& region = model_.regions()[r];
            const std::uint32_t process = model_.threads()[region.begin_thread].process;
            regions.row(r, process, full_id_text(model_.processes()[process].ids.id(region.id)),
                        model_.text(region.name), region.begin_thread, region.end_thread, relative(region.begin),
                        relative(region.end), region.open_at_end);
        }
    }

    void write_metadata() {
        inserter metadata(db_, "INSERT INTO metadata VALUES (?, ?, ?, ?, ?)");
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p) {
            const id_table& ids = model_.processes()[p].ids;
            for (std::uint32_t id = 0; id < ids.size(); ++id) {
                const auto [first, last] = model_.metadata_of(p, id);
                if (first == last) continue;
                const std::string identifier = full_id_text(ids.id(id));
                for (const trace_model::metadata_value* m = first; m != last; ++m) {
                    if (m->is_text)
                        metadata.row(p, identifier, model_.text(m->key), nullptr, model_.text(m->text));
                    else
                        metadata.row(p, identifier, model_.text(m->key), word{m->number}, nullptr);
                }
            }
        }
    }

    const run_analysis& run_;
    const trace_model& model_;
    database& db_;
};

}  // namespace

bool write_sqlite(const run_analysis& run, const std::string& path, const std::string& creator, std::string& error) {
    try {
        database db(path);
        database_writer(run, db).write(creator);
        return true;
    } catch (const sqlite_failure& failure) {
        error = std::string("SQLite: ") + failure.what();
        return false;
    }
}

}  // namespace mvt_trace
