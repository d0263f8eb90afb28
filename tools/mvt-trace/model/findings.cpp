#include "model/findings.h"

#include "common/text_format.h"
#include "model/trace_model.h"

namespace mvt_trace {

namespace {

struct finding_row {
    const char* name;
    severity level;
    const char* text;
};

constexpr finding_row rows[] = {
#define MVT_FINDING_ROW(name, level, text) {#name, severity::level, text},
    MVT_FINDINGS(MVT_FINDING_ROW)
#undef MVT_FINDING_ROW
};

void replace(std::string& text, const std::string& hole, const std::string& value) {
    const std::size_t at = text.find(hole);
    if (at != std::string::npos) text.replace(at, hole.size(), value);
}

}  // namespace

severity severity_of(finding_kind kind) { return rows[static_cast<int>(kind)].level; }

const char* finding_name(finding_kind kind) { return rows[static_cast<int>(kind)].name; }

std::string finding_text(const finding& f, const trace_model& model) {
    std::string text = rows[static_cast<int>(f.kind)].text;
    if (f.thread != no_index && f.thread < model.threads().size())
        replace(text, "{file}", model.threads()[f.thread].file.path);
    replace(text, "{count}", counted(f.count, f.one, f.many));
    replace(text, "{detail}", f.detail);
    // A finding about a process as a whole says which, when there are several.
    if (f.thread == no_index && f.process != no_index && model.processes().size() > 1 &&
        f.process < model.processes().size())
        text = model.processes()[f.process].directory + ": " + text;
    return text;
}

}  // namespace mvt_trace
