#include "token_store.h"

#include <chrono>

TokenStore::TokenStore() : random_(std::random_device{}()) {}

std::string TokenStore::RandomHexLocked(std::size_t digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(digits);
    while (out.size() < digits)
        out.push_back(kDigits[random_() & 15u]);
    return out;
}

std::string TokenStore::RandomHex(std::size_t digits) {
    std::lock_guard lock(mutex_);
    return RandomHexLocked(digits);
}

std::string TokenStore::Issue() {
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::lock_guard lock(mutex_);
    std::string token = "24." + RandomHexLocked(32) + ".2592000." + std::to_string(now) + ".282335-" +
                        std::to_string(10000000 + ++issued_);
    tokens_.insert(token);
    return token;
}

bool TokenStore::Knows(const std::string& token) const {
    std::lock_guard lock(mutex_);
    return tokens_.count(token) != 0;
}
