#pragma once

// The web console's password, kept in "web.passwd" in the working folder as a
// salted slow hash (libsodium's crypto_pwhash, Argon2id), readable by its owner
// only. Any thread.

#include <cstddef>
#include <string>

namespace tw {

constexpr const char* kWebPasswordFile = "web.passwd";
// Argon2id at 19 MiB and two passes, the cost OWASP recommends as its least
// (libsodium's "interactive" takes 64 MiB): two logins checked at once cost the
// player under 40 MB. Online guesses are held to five a minute anyway; a stolen
// file is about three times cheaper to attack than at 64 MiB.
constexpr size_t kHashKibibytes = 19 * 1024;
constexpr unsigned long long kHashPasses = 2;

// What a new password must be: at least 8 characters. "" when it is, else why not.
std::string NewPasswordProblem(const std::string& password);

// Stores the hash of `password` (NewPasswordProblem must find nothing); false
// with the reason.
bool SetWebPassword(const std::string& password, std::string& why,
                    const std::string& path = kWebPasswordFile);

// Whether a password was set.
bool HasWebPassword(const std::string& path = kWebPasswordFile);

// Why the password file must not be trusted ("" when it may): another user owns
// it, the group or others may write it, or it is not a plain file. Someone who
// could write it could log in with a hash of their own.
std::string WebPasswordFileProblem(const std::string& path = kWebPasswordFile);

// The memory checking the stored hash takes, in KiB (its own figure: a password
// set by an older version may take more); 0 when there is none.
size_t WebPasswordHashKibibytes(const std::string& path = kWebPasswordFile);

// Whether `password` is the one set (false when none was).
bool CheckWebPassword(const std::string& password, const std::string& path = kWebPasswordFile);

// Overwrites a secret before its memory is given back.
void WipeSecret(std::string& secret);

// 32 random bytes as hex: session and CSRF tokens.
std::string RandomToken();

}  // namespace tw
