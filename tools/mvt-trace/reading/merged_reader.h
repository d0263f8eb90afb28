#ifndef MVT_TRACE_MERGED_READER_H
#define MVT_TRACE_MERGED_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// The records of several files as one stream in timestamp order, as the
// threads made them: every file is open at once with a reader of its own,
// and the file whose next record is earliest goes next. Within one file the
// records keep their order even if its clock stepped back; equal timestamps
// go in file order, so the stream does not depend on anything but the files.
//
// Memory is one small buffer per file, whatever the trace's size.
class merged_reader {
public:
    // Records of kinds outside `fields_of` come without their fields (see
    // record_parser::read_fields_of).
    explicit merged_reader(const std::vector<trace_file>& files, record_kind_set fields_of = every_record_kind,
                           std::size_t buffer_size = std::size_t{1} << 18);
    // Records come with the fields selected (see record_parser::select_fields).
    merged_reader(const std::vector<trace_file>& files, const field_selection& fields,
                  std::size_t buffer_size = std::size_t{1} << 18);
    ~merged_reader();
    merged_reader(const merged_reader&) = delete;
    merged_reader& operator=(const merged_reader&) = delete;

    // The next record and the position of its file in `files`; the record
    // stays valid until the following call. False once every file is done.
    bool next(const trace_record*& record, std::size_t& file);

    // The timestamp of the first record each file holds (before any next());
    // false for a file that has none.
    bool first_timestamp(std::size_t file, std::uint64_t& timestamp) const;

    // How reading each file went, in the order of `files`; final once next()
    // has returned false.
    std::vector<file_report> reports() const;

private:
    struct head {
        std::uint64_t timestamp;
        std::size_t file;
        const trace_record* record;
    };
    void start(const std::vector<trace_file>& files, const field_selection& fields, std::size_t buffer_size);
    void advance(std::size_t file);

    std::vector<std::unique_ptr<trace_file_reader>> readers_;
    std::vector<head> heap_;  // min-heap on (timestamp, file)
    std::vector<std::uint64_t> first_timestamps_;
    std::vector<bool> has_first_;
    std::size_t handed_out_ = 0;
    bool any_handed_out_ = false;
};

}  // namespace mvt_trace

#endif
