#ifndef MVT_TRACE_STRING_POOL_H
#define MVT_TRACE_STRING_POOL_H

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mvt_trace {

// The model's texts, each kept once and named by a number: kinds, labels and
// names repeat across millions of executions.
class string_pool {
public:
    std::uint32_t intern(std::string_view text) {
        auto found = numbers_.find(text);
        if (found != numbers_.end()) return found->second;
        const auto number = static_cast<std::uint32_t>(texts_.size());
        // A deque never moves its strings, so the map's views stay valid.
        const std::string& kept = texts_.emplace_back(text);
        numbers_.emplace(kept, number);
        return number;
    }
    std::string_view at(std::uint32_t number) const { return texts_[number]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(texts_.size()); }

    string_pool() = default;
    string_pool(const string_pool&) = delete;
    string_pool& operator=(const string_pool&) = delete;
    string_pool(string_pool&& other) noexcept { *this = std::move(other); }
    string_pool& operator=(string_pool&& other) noexcept {
        // The views in the map point into the deque's strings, which a move
        // of the deque keeps where they are.
        texts_ = std::move(other.texts_);
        numbers_ = std::move(other.numbers_);
        return *this;
    }

private:
    std::deque<std::string> texts_;
    std::unordered_map<std::string_view, std::uint32_t> numbers_;
};

}  // namespace mvt_trace

#endif
