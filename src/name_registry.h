#ifndef MVT_NAME_REGISTRY_H
#define MVT_NAME_REGISTRY_H

#include <string>
#include <unordered_map>

namespace internal {

// One record per distinct name (byte for byte, whole length) for the life of
// the process. The registry owns its keys, not the records: records are
// handed to instrumented code that may use them until the very end.
//
// The map is never taken apart: threads may still create names while exit
// handlers run, and a name must keep the one object it was first given, or
// the trace would show two addresses for it. The class is trivially
// destructible, so the map stays reachable, and usable, until the process
// is gone. Callers hold the collector's lock.
template <typename Record>
class name_registry {
public:
    // `make` builds the record for a name not seen before.
    template <typename Make>
    Record* find_or_add(const char* name, Make make) {
        auto found = records_.find(name);
        if (found != records_.end()) return found->second;
        Record* record = make(name);
        records_.emplace(name, record);
        return record;
    }

private:
    std::unordered_map<std::string, Record*>& records_ = *new std::unordered_map<std::string, Record*>;
};

}  // namespace internal

#endif
