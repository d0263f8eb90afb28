#ifndef MVT_NAME_REGISTRY_H
#define MVT_NAME_REGISTRY_H

#include <mutex>
#include <string>
#include <unordered_map>

namespace internal {

// One record per distinct name (byte for byte, whole length) for the life of
// the process. The registry owns its keys, not the records: records are
// handed to instrumented code that may use them until the very end.
//
// The registry runs under a lock that it does not own (the collector's), and
// `open` is a flag in static storage that tells callers, under that lock,
// whether the registry still exists: creation calls can arrive while exit
// handlers run, after the registry is gone.
template <typename Record>
class name_registry {
public:
    name_registry(std::mutex& lock, bool& open) : lock_(lock) {
        std::lock_guard<std::mutex> hold(lock_);
        open = true;
        open_ = &open;
    }
    ~name_registry() {
        std::lock_guard<std::mutex> hold(lock_);
        *open_ = false;
    }
    name_registry(const name_registry&) = delete;
    name_registry& operator=(const name_registry&) = delete;

    // The caller holds the lock and has seen `open` set. `make` builds a new
    // record for a name not seen before; its result is stored even if null is
    // never returned by it.
    template <typename Make>
    Record* find_or_add(const char* name, Make make) {
        auto found = records_.find(name);
        if (found != records_.end()) return found->second;
        Record* record = make(name);
        records_.emplace(name, record);
        return record;
    }

private:
    std::mutex& lock_;
    bool* open_;
    std::unordered_map<std::string, Record*> records_;
};

}  // namespace internal

#endif
