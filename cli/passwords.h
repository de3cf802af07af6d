#pragma once
// Where the companion's passwords come from: the terminal (echo off), or one line
// each from the descriptor that --password-fd names.

#include "cli/output.h"
#include "crypto/wipe.h"

#include <string>

namespace cli {

class PasswordSource {
public:
    // `fd` < 0: the terminal.
    explicit PasswordSource(int fd) : fd_(fd) {}

    // The password that opens a vault.
    bool read_current(SecretString& out, Failure& failure) { return read(out, "Password: ", failure); }

    // The password of another vault file; empty when the answer was empty, or (from
    // a descriptor, when `optional`) when the input has ended.
    bool read_other(SecretString& out, const std::string& prompt, bool optional, Failure& failure);

    // A new master password: asked twice on the terminal, read once from a descriptor.
    // An empty password is refused, as the program refuses it.
    bool read_new(SecretString& out, Failure& failure);

private:
    bool read(SecretString& out, const char* prompt, Failure& failure);

    int fd_;
};

}  // namespace cli
