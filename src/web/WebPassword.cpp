#include "WebPassword.h"

#include <sodium.h>

#include <cstdio>

#include "AtomicFile.h"

namespace tw {
namespace {

bool InitSodium() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

}  // namespace

bool SetWebPassword(const std::string& password, std::string& why, const std::string& path) {
    if (password.empty()) {
        why = "the password is empty";
        return false;
    }
    if (!InitSodium()) {
        why = "libsodium could not start";
        return false;
    }
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        why = "out of memory while hashing";
        return false;
    }
    // A new file, or the old one's mode if it was made stricter still.
    return WriteFileAtomically(path, std::string(hash) + "\n", &why, 0600);
}

bool HasWebPassword(const std::string& path) {
    std::string text;
    return ReadWholeFile(path, text, 4096) && text.rfind("$argon2", 0) == 0;
}

bool CheckWebPassword(const std::string& password, const std::string& path) {
    std::string text;
    if (!InitSodium() || !ReadWholeFile(path, text, 4096) || text.size() >= crypto_pwhash_STRBYTES + 1)
        return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return !text.empty() &&
           crypto_pwhash_str_verify(text.c_str(), password.data(), password.size()) == 0;
}

std::string RandomToken() {
    InitSodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

}  // namespace tw

namespace tw {

void WipeSecret(std::string& secret) {
    sodium_memzero(secret.data(), secret.size());
    secret.clear();
}

}  // namespace tw
