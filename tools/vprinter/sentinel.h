// Finds the end of a job in the interpreter's output: the driver prints the
// line "TOKEN PAGES ERROR" after each job.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

namespace korrin::vprinter {

// Looks for the sentinel in the interpreter's output. Everything before it
// is the job's; a possible beginning of it at the end is held back.
class SentinelScanner {
public:
    explicit SentinelScanner(std::string token) : token_(std::move(token)) {}
    // Adds output; returns the bytes that belong to the job for certain.
    std::string feed(const char* data, std::size_t n)
    {
        pending_.append(data, n);
        if (found_)
            return {};
        std::size_t at = pending_.find(token_);
        if (at != std::string::npos) {
            found_ = true;
            std::string job = pending_.substr(0, at);
            pending_.erase(0, at);
            return job;
        }
        std::size_t keep = 0;
        for (std::size_t k = std::min(token_.size() - 1, pending_.size()); k > 0; --k)
            if (pending_.compare(pending_.size() - k, k, token_, 0, k) == 0) {
                keep = k;
                break;
            }
        std::string job = pending_.substr(0, pending_.size() - keep);
        pending_.erase(0, pending_.size() - keep);
        return job;
    }
    // The whole sentinel line once it is complete: "TOKEN PAGES ERROR".
    bool complete(long& pages, std::string& error)
    {
        std::size_t end = found_ ? pending_.find('\n') : std::string::npos;
        if (end == std::string::npos)
            return false;
        char word[64] = {};
        pages = 0;
        std::sscanf(pending_.c_str() + token_.size(), " %ld %63s", &pages, word);
        error = word;
        pending_.erase(0, end + 1);
        found_ = false;
        return true;
    }
    void reset()
    {
        pending_.clear();
        found_ = false;
    }

private:
    std::string token_;
    std::string pending_;
    bool found_ = false;
};

} // namespace korrin::vprinter
