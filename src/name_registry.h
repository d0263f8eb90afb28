#ifndef MVT_NAME_REGISTRY_H
#define MVT_NAME_REGISTRY_H

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace internal {

// One record per distinct name (byte for byte, whole length) for the life of
// the process. The registry owns its keys, not the records: records are
// handed to instrumented code that may use them until the very end.
//
// The registry is never taken apart: threads may still create names while
// exit handlers run and after the run has ended, and a name must keep the one
// object it was first given, or the trace would show two addresses for it.
// The class is trivially destructible, so it stays reachable, and usable,
// until the process is gone. Callers hold the collector's lock.
template <typename Record>
class name_registry {
public:
    // `make` builds the record for a name not seen before. A name seen
    // before is found without allocating, however long it is.
    template <typename Make>
    Record* find_or_add(const char* name, Make make) {
        auto found = records_.find(std::string_view(name));
        if (found != records_.end()) return found->second;
        Record* record = make(name);
        // The key copy sits in a deque, whose elements never move, so the
        // map's view of it stays valid.
        const std::string& key = keys_.emplace_back(name);
        try {
            records_.emplace(key, record);
        } catch (...) {
            keys_.pop_back();
            throw;
        }
        return record;
    }

private:
    std::unordered_map<std::string_view, Record*>& records_ = *new std::unordered_map<std::string_view, Record*>;
    std::deque<std::string>& keys_ = *new std::deque<std::string>;
};

}  // namespace internal

#endif
