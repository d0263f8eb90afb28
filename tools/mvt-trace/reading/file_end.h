#ifndef MVT_TRACE_FILE_END_H
#define MVT_TRACE_FILE_END_H

#include <cstdint>
#include <string>

namespace mvt_trace {

// The timestamp of the end_of_records record that closes a whole trace file,
// read from its last bytes alone; false when the file does not end with one.
// A reader that must know where the run ends before it has read it guesses
// from this, and checks the guess once it has.
bool end_of_records_timestamp(const std::string& path, std::uint64_t& timestamp);

}  // namespace mvt_trace

#endif
