#include "output/report/recorded_run.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace mvt_trace {

const char* const recorded_run_file = "mvt-record.json";

namespace {

// Reads the members of the record file that the report shows (the command,
// its exit status and outcome) and passes by any others. A file that is not
// such an object is no record, and the report goes on without it.
class record_reader {
public:
    explicit record_reader(std::string text) : text_(std::move(text)) {}

    bool read(recorded_run& run) {
        if (!expect('{')) return false;
        if (peek() == '}') return true;
        do {
            std::string key;
            if (!string(key) || !expect(':')) return false;
            if (!member(key, run)) return false;
        } while (take(','));
        return expect('}');
    }

private:
    bool member(const std::string& key, recorded_run& run) {
        if (key == "command") return strings(run.command);
        if (key == "exit_status") {
            if (take_word("null")) return true;
            long long status = 0;
            if (!integer(status)) return false;
            run.exit_status = static_cast<int>(status);
            return true;
        }
        if (key == "outcome") return string(run.outcome);
        return skip_value();
    }

    // Members a later version may add are passed by, whatever they hold.
    bool skip_value(int depth = 0) {
        if (depth > 32) return false;
        std::string text;
        long long number = 0;
        const char c = peek();
        if (c == '"') return string(text);
        if (c == '[' || c == '{') {
            const char close = c == '[' ? ']' : '}';
            ++pos_;
            if (take(close)) return true;
            do {
                if (close == '}' && (!string(text) || !expect(':'))) return false;
                if (!skip_value(depth + 1)) return false;
            } while (take(','));
            return expect(close);
        }
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            if (!integer(number)) return false;
            // Fractions and exponents of a number nobody reads.
            while (pos_ < text_.size() && std::string(".eE+-0123456789").find(text_[pos_]) != std::string::npos) ++pos_;
            return true;
        }
        return take_word("null") || take_word("true") || take_word("false");
    }

    bool strings(std::vector<std::string>& out) {
        if (!expect('[')) return false;
        if (take(']')) return true;
        do {
            std::string word;
            if (!string(word)) return false;
            out.push_back(std::move(word));
        } while (take(','));
        return expect(']');
    }

    bool integer(long long& value) {
        skip_blanks();
        std::size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        if (pos_ - start == 0 || pos_ - start > 18) return false;
        value = std::stoll(text_.substr(start, pos_ - start));
        return true;
    }

    bool string(std::string& out) {
        if (!expect('"')) return false;
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return false;
            char e = text_[pos_++];
            switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (pos_ + 4 > text_.size()) return false;
                    unsigned code = std::stoul(text_.substr(pos_, 4), nullptr, 16);
                    pos_ += 4;
                    // The writer escapes single bytes only (\u00XX).
                    if (code > 0xff) return false;
                    out += static_cast<char>(code);
                    break;
                }
                default: out += e;
            }
        }
        return false;
    }

    void skip_blanks() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    char peek() {
        skip_blanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    bool take(char c) {
        if (peek() != c) return false;
        ++pos_;
        return true;
    }
    bool expect(char c) { return take(c); }
    bool take_word(const char* word) {
        skip_blanks();
        std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }

    std::string text_;
    std::size_t pos_ = 0;
};

bool needs_quotes(const std::string& word) {
    if (word.empty()) return true;
    for (char c : word)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("/._-+=:,@%").find(c) == std::string::npos)
            return true;
    return false;
}

}  // namespace

std::optional<recorded_run> read_recorded_run(const std::string& directory) {
    std::ifstream in(directory + "/" + recorded_run_file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    recorded_run run;
    try {
        if (!record_reader(text.str()).read(run) || run.command.empty()) return std::nullopt;
    } catch (const std::exception&) {  // a number stoll/stoul cannot take
        return std::nullopt;
    }
    return run;
}

std::string command_line(const std::vector<std::string>& command) {
    std::string line;
    for (const std::string& word : command) {
        if (!line.empty()) line += ' ';
        if (!needs_quotes(word)) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

}  // namespace mvt_trace
