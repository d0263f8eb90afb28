#include "output/sqlite_output.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdint>
#include <future>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

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
        // Counting every allocation takes a lock each time; nothing here
        // reads the counts. Only possible before SQLite's first use.
        static const int counting_off = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        static_cast<void>(counting_off);
        // One connection, on one thread: SQLite's own locks would guard
        // nothing.
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
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

// Rows are gathered and inserted many at a time, by one prepared INSERT of
// many rows: running a statement once per row costs more than the row.
// Values are kept as they come, texts copied, so that nothing a row was
// made of needs to outlive the call that gave it.
class inserter {
public:
    inserter(const database& db, const char* table, int columns) : db_(db.handle()), columns_(columns) {
        many_ = prepare(table, batch);
        one_ = prepare(table, 1);
        cells_.reserve(static_cast<std::size_t>(batch * columns));
    }
    ~inserter() {
        sqlite3_finalize(many_);
        sqlite3_finalize(one_);
    }
    inserter(const inserter&) = delete;
    inserter& operator=(const inserter&) = delete;

    template <typename... Values>
    void row(const Values&... values) {
        static_assert(sizeof...(Values) > 0);
        if (static_cast<int>(sizeof...(Values)) != columns_) throw sqlite_failure("a row of the wrong width");
        (keep(values), ...);
        if (cells_.size() == static_cast<std::size_t>(batch * columns_)) insert(many_, 0, batch);
    }

    // A row of a table whose INTEGER PRIMARY KEY numbers the rows from 0 in
    // the order they go in. SQLite looks up every id it is given, to refuse
    // a second; past the first row the id is left to SQLite, which takes the
    // one after the largest without a lookup: a quarter of a narrow row's
    // cost.
    template <typename... Values>
    void numbered_row(std::uint32_t id, const Values&... values) {
        if (id != numbered_) throw sqlite_failure("rows numbered out of order");
        ++numbered_;
        if (id == 0)
            row(id, values...);
        else
            row(nullptr, values...);
    }

    // Inserts what is still gathered. Required: a destructor cannot report
    // that it failed.
    void finish() {
        const int rows = static_cast<int>(cells_.size()) / columns_;
        for (int r = 0; r < rows; ++r) insert(one_, r, 1, false);
        clear();
    }

private:
    static constexpr int batch = 64;

    struct cell {
        enum class kind : std::uint8_t { null, integer, real, text } type = kind::null;
        sqlite3_int64 integer = 0;
        double real = 0;
        std::size_t offset = 0, size = 0;  // of a text, in texts_
    };

    sqlite3_stmt* prepare(const char* table, int rows) {
        std::string sql = std::string("INSERT INTO ") + table + " VALUES ";
        std::string one = "(";
        for (int c = 0; c < columns_; ++c) one += c == 0 ? "?" : ",?";
        one += ")";
        for (int r = 0; r < rows; ++r) sql += (r == 0 ? "" : ",") + one;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            throw sqlite_failure(sqlite3_errmsg(db_));
        return statement;
    }

    void checked(int status) {
        if (status != SQLITE_OK) throw sqlite_failure(sqlite3_errmsg(db_));
    }

    // Binds `rows` gathered rows from `first` on and runs the statement.
    void insert(sqlite3_stmt* statement, int first, int rows, bool then_clear = true) {
        int parameter = 0;
        const auto begin = static_cast<std::size_t>(first * columns_), end = static_cast<std::size_t>((first + rows) * columns_);
        for (std::size_t k = begin; k < end; ++k) {
            const cell& c = cells_[k];
            ++parameter;
            switch (c.type) {
                case cell::kind::null: checked(sqlite3_bind_null(statement, parameter)); break;
                case cell::kind::integer: checked(sqlite3_bind_int64(statement, parameter, c.integer)); break;
                case cell::kind::real: checked(sqlite3_bind_double(statement, parameter, c.real)); break;
                case cell::kind::text:
                    checked(sqlite3_bind_text64(statement, parameter, texts_.data() + c.offset, c.size, SQLITE_STATIC,
                                                SQLITE_UTF8));
                    break;
            }
        }
        const int status = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (status != SQLITE_DONE) throw sqlite_failure(sqlite3_errmsg(db_));
        if (then_clear) clear();
    }

    void clear() {
        cells_.clear();
        texts_.clear();
    }

    void keep(std::nullptr_t) { cells_.emplace_back(); }
    void keep(bool value) { keep(static_cast<std::uint32_t>(value ? 1 : 0)); }
    void keep(std::uint32_t value) {
        cell c;
        c.type = cell::kind::integer;
        c.integer = value;
        cells_.push_back(c);
    }
    void keep(std::uint64_t value) { keep(word{value}); }
    void keep(word value) {
        if (value.value > static_cast<std::uint64_t>(std::numeric_limits<sqlite3_int64>::max())) {
            char digits[24];
            const char* end = std::to_chars(digits, digits + sizeof digits, value.value).ptr;
            keep(std::string_view(digits, static_cast<std::size_t>(end - digits)));
            return;
        }
        cell c;
        c.type = cell::kind::integer;
        c.integer = static_cast<sqlite3_int64>(value.value);
        cells_.push_back(c);
    }
    void keep(double value) {
        cell c;
        c.type = cell::kind::real;
        c.real = value;
        cells_.push_back(c);
    }
    void keep(std::string_view text) {
        cell c;
        c.type = cell::kind::text;
        c.offset = texts_.size();
        c.size = text.size();
        texts_.append(text);
        cells_.push_back(c);
    }
    void keep(const std::string& text) { keep(std::string_view(text)); }
    void keep(const char* text) { keep(std::string_view(text)); }
    template <typename T>
    void keep(const std::optional<T>& value) {
        if (value)
            keep(*value);
        else
            keep(nullptr);
    }

    sqlite3* db_;
    int columns_;
    std::uint32_t numbered_ = 0;
    sqlite3_stmt* many_ = nullptr;
    sqlite3_stmt* one_ = nullptr;
    std::vector<cell> cells_;
    std::string texts_;
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
-- Millions of rows: only what the executions view cannot find elsewhere,
-- and no constraint for SQLite to check on every row.
CREATE TABLE execution_rows (
  id INTEGER PRIMARY KEY,            -- the "execution" attribute of mvt-trace otf2
  thread INTEGER REFERENCES threads(id),  -- of its first piece
  node INTEGER REFERENCES nodes(id),
  name TEXT,                         -- null for an execution of a node: its name is the node's label
  identifier TEXT,
  role TEXT,                         -- 'task', 'task_without_node' or 'runtime'
  begin_ns INTEGER,
  end_ns INTEGER,
  duration_ns INTEGER,               -- its pieces' time; null while open at the end of its file
  pieces INTEGER,
  depth INTEGER);
CREATE VIEW executions AS
  SELECT r.id, t.process, r.thread, r.node, n.construct, coalesce(r.name, n.label) AS name, r.identifier, r.role,
         r.begin_ns, r.end_ns, r.duration_ns, r.pieces, r.depth
  FROM execution_rows r JOIN threads t ON t.id = r.thread LEFT JOIN nodes n ON n.id = r.node;
CREATE TABLE resumed_pieces (      -- the pieces of executions that ran in several
  execution INTEGER NOT NULL REFERENCES execution_rows(id),
  ordinal INTEGER NOT NULL,          -- from 1
  thread INTEGER NOT NULL REFERENCES threads(id),
  begin_ns INTEGER NOT NULL,
  end_ns INTEGER NOT NULL,
  depth INTEGER NOT NULL,
  PRIMARY KEY (execution, ordinal)) WITHOUT ROWID;
-- Every piece: most executions run in one, which is the execution itself.
CREATE VIEW pieces AS
  SELECT id AS execution, 1 AS ordinal, thread, begin_ns, end_ns, depth FROM execution_rows WHERE pieces = 1
  UNION ALL
  SELECT execution, ordinal, thread, begin_ns, end_ns, depth FROM resumed_pieces;
CREATE TABLE edges (
  from_node INTEGER NOT NULL REFERENCES nodes(id),
  to_node INTEGER NOT NULL REFERENCES nodes(id),
  PRIMARY KEY (from_node, to_node)) WITHOUT ROWID;
CREATE TABLE critical_path (
  step INTEGER PRIMARY KEY,          -- from 1, first to last
  execution INTEGER NOT NULL REFERENCES execution_rows(id),
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
  node INTEGER REFERENCES nodes(id), -- the graph object the identifier names, if any
  key TEXT NOT NULL,
  number INTEGER,                    -- one of number and text is null
  text TEXT);
)sql";

// Asked for: a row per edge of the graph of executions is as many rows as
// executions on a flow graph, a sixth of the export's time.
const char* const execution_edges_table = R"sql(
CREATE TABLE execution_edges (
  from_execution INTEGER NOT NULL REFERENCES execution_rows(id),
  to_execution INTEGER NOT NULL REFERENCES execution_rows(id),
  PRIMARY KEY (to_execution, from_execution)) WITHOUT ROWID;
)sql";

// Made once the rows are in: sorting the keys once costs a fraction of
// finding each one's place as its row goes in, since few come in order.
// Joins between graph objects and their metadata go by nodes.id, as an
// index of identifiers (text, in no order) would cost a fifth of an OpenMP
// run's export. The graph of executions is keyed by the execution that
// waited, and executions by id alone: an index of who waited for an
// execution, or of a node's executions, would cost a tenth and a third of
// the export on a flow graph, for questions SQLite answers with an index of
// its own when a join asks.
const char* const indexes = R"sql(
CREATE INDEX threads_process ON threads(process);
CREATE INDEX nodes_construct ON nodes(construct);
CREATE INDEX edges_to ON edges(to_node);
CREATE INDEX critical_path_execution ON critical_path(execution);
CREATE INDEX regions_process_identifier ON regions(process, identifier);
CREATE INDEX metadata_node ON metadata(node);
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

// "d1.d2.d3", as full_id_text writes it, without allocating: one goes into
// every row of executions.
class id_text {
public:
    explicit id_text(const trace_id& id) {
        char* at = text_;
        for (const std::uint64_t word : {id.d1, id.d2, id.d3}) {
            if (at != text_) *at++ = '.';
            at = std::to_chars(at, text_ + sizeof text_, word).ptr;
        }
        size_ = static_cast<std::size_t>(at - text_);
    }
    operator std::string_view() const { return {text_, size_}; }

private:
    char text_[3 * 20 + 2];
    std::size_t size_;
};

std::optional<std::uint32_t> present(std::uint32_t index) {
    return index == no_index ? std::nullopt : std::optional<std::uint32_t>(index);
}

class database_writer {
public:
    database_writer(const run_analysis& run, database& db, bool execution_edges)
        : run_(run), model_(run.model), db_(db), execution_edges_(execution_edges) {}

    void write(const std::string& creator, const std::function<void()>& complete_run) {
        // The file is a temporary one, renamed only once it is whole: a
        // crash's half-written database is never seen, so neither a journal
        // on disk nor waiting for the disk buys anything.
        db_.exec("PRAGMA journal_mode=OFF; PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=OFF;"
                 "PRAGMA cache_size=-65536; PRAGMA temp_store=MEMORY;");
        db_.exec("BEGIN");
        db_.exec(schema);
        if (execution_edges_) db_.exec(execution_edges_table);
        // Should SQLite fail first, the future waits for it as it goes.
        std::future<void> completed;
        if (complete_run) completed = std::async(std::launch::async, complete_run);
        write_processes_and_threads();
        write_constructs_and_nodes();
        write_executions();
        write_regions();
        write_metadata();
        if (completed.valid()) completed.get();
        write_meta(creator);
        write_graphs();
        db_.exec(indexes);
        db_.exec("COMMIT");
    }

private:
    void write_meta(const std::string& creator) {
        inserter meta(db_, "meta", 2);
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
        meta.finish();
    }

    void write_processes_and_threads() {
        inserter processes(db_, "processes", 3);
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p)
            processes.numbered_row(p, model_.processes()[p].directory, model_.processes()[p].label);
        processes.finish();
        inserter threads(db_, "threads", 8);
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t) {
            const trace_model::thread& thread = model_.threads()[t];
            const auto when = [&](std::uint64_t ns) {
                return thread.any_timestamp ? std::optional<std::uint64_t>(model_.since_start(ns)) : std::nullopt;
            };
            threads.numbered_row(t, thread.process, thread.file.name, static_cast<std::uint64_t>(thread.file.index),
                        thread.records, when(thread.first_timestamp), when(thread.last_timestamp), thread.ended);
        }
        threads.finish();
    }

    void write_constructs_and_nodes() {
        inserter constructs(db_, "constructs", 6);
        for (std::uint32_t c = 0; c < run_.labels.constructs().size(); ++c) {
            const run_labels::construct& construct = run_.labels.constructs()[c];
            const code_location* place = construct.location && construct.location->known ? construct.location : nullptr;
            constructs.numbered_row(c, construct.label, place_text(place, &code_location::function),
                           place_text(place, &code_location::file), place ? present(place->line) : std::nullopt,
                           static_cast<std::uint64_t>(construct.nodes.size()));
        }
        constructs.finish();
        inserter nodes(db_, "nodes", 14);
        for (std::uint32_t o = 0; o < model_.objects().size(); ++o) {
            const trace_model::object& object = model_.objects()[o];
            const code_location* found = run_.labels.location_of(o);
            const code_location* place = found && found->known ? found : nullptr;
            nodes.numbered_row(o, object.process, std::string_view(id_text(object.id)), model_.kind_of(object), role_text(object.role),
                      model_.name_of(object), run_.labels.of_object(o), present(object.parent), present(object.port_of),
                      present(run_.labels.construct_of(o)),
                      object.has_code_address ? std::optional<std::string>(hex_address(object.code_address))
                                              : std::nullopt,
                      place_text(place, &code_location::function), place_text(place, &code_location::file),
                      place ? present(place->line) : std::nullopt);
        }
        nodes.finish();
    }

    static std::optional<std::string_view> place_text(const code_location* place, std::string code_location::*member) {
        return place ? std::optional<std::string_view>(place->*member) : std::nullopt;
    }

    void write_executions() {
        inserter executions(db_, "execution_rows", 11);
        inserter pieces(db_, "resumed_pieces", 6);
        for (std::uint32_t e = 0; e < model_.executions().size(); ++e) {
            const trace_model::execution& x = model_.executions()[e];
            // A node's execution is named by the node (the view's join).
            const auto add = [&](const auto& node, const auto& name) {
                executions.numbered_row(e, x.thread, node, name, std::string_view(id_text(model_.id_of(x))),
                                        role_text(x.role), model_.since_start(x.begin), model_.since_start(x.end),
                                        x.open_at_end ? std::nullopt : std::optional<std::uint64_t>(x.busy),
                                        x.piece_count, x.depth);
            };
            if (x.node != no_index)
                add(x.node, nullptr);
            else
                add(nullptr, model_.text(x.name));
            if (x.piece_count < 2) continue;
            std::uint32_t ordinal = 0;
            for (std::uint32_t p = x.first_piece; ordinal < x.piece_count && p != no_index; p = model_.pieces()[p].next) {
                const trace_model::piece& piece = model_.pieces()[p];
                pieces.row(e, ++ordinal, piece.thread, model_.since_start(piece.begin), model_.since_start(piece.end),
                           piece.depth);
            }
        }
        executions.finish();
        pieces.finish();
    }

    void write_graphs() {
        inserter edges(db_, "edges", 2);
        for (const trace_model::edge& e : model_.edges()) edges.row(e.from, e.to);
        edges.finish();
        if (execution_edges_) {
            inserter execution_edges(db_, "execution_edges", 2);
            const execution_graph& graph = run_.graph;
            for (std::uint32_t place = 0; place < graph.members.size(); ++place)
                for (const std::uint32_t* q = graph.predecessors.row_begin(place);
                     q != graph.predecessors.row_end(place); ++q)
                    execution_edges.row(graph.members[*q], graph.members[place]);
            execution_edges.finish();
        }
        inserter path(db_, "critical_path", 3);
        std::uint32_t step = 0;
        for (const critical_step& s : run_.dependencies.critical_path) path.row(++step, s.execution, s.instance);
        path.finish();
    }

    void write_regions() {
        inserter regions(db_, "regions", 9);
        for (std::uint32_t r = 0; r < model_.regions().size(); ++r) {
            const trace_model::region& region = model_.regions()[r];
            const std::uint32_t process = model_.threads()[region.begin_thread].process;
            regions.numbered_row(r, process, std::string_view(id_text(model_.processes()[process].ids.id(region.id))),
                        model_.text(region.name), region.begin_thread, region.end_thread, model_.since_start(region.begin),
                        model_.since_start(region.end), region.open_at_end);
        }
        regions.finish();
    }

    void write_metadata() {
        // Each process's graph objects by the number of their identifier.
        std::vector<std::vector<std::uint32_t>> object_by_id(model_.processes().size());
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p)
            object_by_id[p].assign(model_.processes()[p].ids.size(), no_index);
        for (std::uint32_t o = 0; o < model_.objects().size(); ++o) {
            const trace_model::object& object = model_.objects()[o];
            const std::uint32_t id = model_.processes()[object.process].ids.find(object.id);
            if (id != id_table::none) object_by_id[object.process][id] = o;
        }
        inserter metadata(db_, "metadata", 6);
        for (std::uint32_t p = 0; p < model_.processes().size(); ++p) {
            const id_table& ids = model_.processes()[p].ids;
            for (std::uint32_t id = 0; id < ids.size(); ++id) {
                const auto [first, last] = model_.metadata_of(p, id);
                if (first == last) continue;
                const id_text identifier(ids.id(id));
                const std::optional<std::uint32_t> node = present(object_by_id[p][id]);
                for (const trace_model::metadata_value* m = first; m != last; ++m) {
                    if (m->is_text)
                        metadata.row(p, std::string_view(identifier), node, model_.text(m->key), nullptr,
                                     model_.text(m->text));
                    else
                        metadata.row(p, std::string_view(identifier), node, model_.text(m->key), word{m->number},
                                     nullptr);
                }
            }
        }
        metadata.finish();
    }

    const run_analysis& run_;
    const trace_model& model_;
    database& db_;
    bool execution_edges_;
};

}  // namespace

bool write_sqlite(const run_analysis& run, const std::string& path, const std::string& creator, std::string& error,
                  const std::function<void()>& complete_run, bool execution_edges) {
    try {
        database db(path);
        database_writer(run, db, execution_edges).write(creator, complete_run);
        return true;
    } catch (const sqlite_failure& failure) {
        error = std::string("SQLite: ") + failure.what();
        return false;
    }
}

}  // namespace mvt_trace
