#include "WebPassword.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "AtomicFile.h"

namespace tw {
namespace {

bool InitSodium() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

}  // namespace

std::string NewPasswordProblem(const std::string& password) {
    size_t characters = 0;  // UTF-8: every byte that does not continue a character
    for (unsigned char c : password) characters += (c & 0xC0) != 0x80;
    if (password.empty()) return "the password is empty";
    if (characters < 8) return "a password has at least 8 characters";
    return "";
}

bool SetWebPassword(const std::string& password, std::string& why, const std::string& path) {
    if (why = NewPasswordProblem(password); !why.empty()) return false;
    if (!InitSodium()) {
        why = "libsodium could not start";
        return false;
    }
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), kHashPasses,
                          kHashKibibytes * 1024) != 0) {
        why = "out of memory while hashing";
        return false;
    }
    // Readable by its owner only, whatever the old file's mode was: a file others
    // could write is not used.
    if (!WriteFileAtomically(path, std::string(hash) + "\n", &why, 0600)) return false;
    ::chmod(path.c_str(), 0600);
    return true;
}

bool HasWebPassword(const std::string& path) {
    std::string text;
    return ReadWholeFile(path, text, 4096) && text.rfind("$argon2", 0) == 0;
}

std::string WebPasswordFileProblem(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "";  // none: said as "no password"
    if (!S_ISREG(st.st_mode)) return path + " is not a plain file";
    if (st.st_uid != ::geteuid()) return path + " belongs to another user; make it this user's own";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return path + " can be written by others; mend it with: chmod 600 " + path;
    return "";
}

size_t WebPasswordHashKibibytes(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text, 4096)) return 0;
    // "$argon2id$v=19$m=19456,t=2,p=1$..."
    const size_t at = text.find("$m=");
    return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + 3, nullptr, 10);
}

bool CheckWebPassword(const std::string& password, const std::string& path) {
    std::string text;
    if (!WebPasswordFileProblem(path).empty()) return false;
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
