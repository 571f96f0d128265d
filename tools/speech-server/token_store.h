#pragma once
// The access tokens this server has issued, kept in memory for its lifetime (no expiry: the
// advertised 30 days outlast any run). Thread-safe.

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <unordered_set>

class TokenStore {
public:
    TokenStore();

    // A new token in the cloud service's shape: "24.<32 hex>.2592000.<unix time>.<n>-<n>".
    std::string Issue();
    bool Knows(const std::string& token) const;
    // Random lower-case hex digits, for other ids (refresh tokens, session keys, serial numbers).
    std::string RandomHex(std::size_t digits);

private:
    std::string RandomHexLocked(std::size_t digits);

    mutable std::mutex mutex_;
    std::mt19937_64 random_;
    std::uint64_t issued_ = 0;
    std::unordered_set<std::string> tokens_;
};
