// merge-file BASE OURS THEIRS: the three-way merge of three vault files into OURS, as
// git's merge driver for vaults. BASE and THEIRS are only read; OURS is replaced in one
// step and without a backup, since the repository keeps every earlier version.

#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "platform/file_io.h"
#include "tree/merge.h"
#include "vault/save.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace cli {
namespace {

// One of the three files: loaded, then opened by the first password that fits.
struct MergeInput {
    std::string path;
    OpenVault vault;
    bool empty = false;  // BASE only: a file of no bytes, an empty document
    bool opened = false;
};

// BASE is of no bytes when git has no common version (both branches added the
// vault). A file that is not there, or cannot be opened, is left for the load to
// report: a mistyped BASE must not count as an empty one.
bool empty_file(const std::string& path)
{
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) return false;
    std::uint64_t size = 1;
    const bool sized = db_file::size_of(file, size);
    std::fclose(file);
    return sized && size == 0;
}

bool load(MergeInput& input, Failure& failure)
{
    if (int status = input.vault.db.load(input.path)) {
        const std::string text = input.vault.db.last_error();
        failure = fail(status, input.path + ": " + (text.empty() ? "status " + std::to_string(status) : text));
        return false;
    }
    return true;
}

// Tries `password` on every input not yet opened. False with the failure when a file
// fails for another reason than the password.
bool try_password(MergeInput* const inputs[], std::size_t count, const SecretString& password, Failure& failure)
{
    for (std::size_t i = 0; i < count; ++i) {
        MergeInput& input = *inputs[i];
        if (input.opened) continue;
        set_password(input.vault.db, password);
        const int status = input.vault.db.decrypt();
        if (status == DB_WRONG_PASSWORD) continue;
        if (status != DB_OK) {
            failure = fail(status, input.path + ": " + input.vault.db.last_error());
            return false;
        }
        input.vault.password = SecretString(password.data(), password.size());
        input.vault.root = parse_plaintext(input.vault.db);
        input.opened = true;
    }
    return true;
}

// The first password read opens what it can; each further one (the terminal asks for
// the first file still closed) is tried on every file not yet opened, until all are
// open or no more passwords come (an empty answer, the end of the descriptor's input).
bool open_all(MergeInput* const inputs[], std::size_t count, PasswordSource& passwords, Failure& failure)
{
    SecretString password;
    if (!passwords.read_current(password, failure)) return false;
    for (;;) {
        if (!try_password(inputs, count, password, failure)) return false;
        MergeInput* closed = nullptr;
        for (std::size_t i = 0; i < count && !closed; ++i)
            if (!inputs[i]->opened) closed = inputs[i];
        if (!closed) return true;
        if (!passwords.read_other(password, "Password of " + closed->path + " (empty: give up): ", true, failure))
            return false;
        if (password.empty()) {
            failure = fail(DB_WRONG_PASSWORD, closed->path + ": " + closed->vault.db.last_error());
            return false;
        }
    }
}

// The same key: format, password and (format 2.0, whose salt lasts as long as the
// password) salt and iteration count. Format 1.0 draws a new salt at every save.
bool same_key(const OpenVault& a, const OpenVault& b)
{
    if (a.db.legacy_format() != b.db.legacy_format()) return false;
    if (!a.db.password_equals(b.password.data(), static_cast<std::uint32_t>(b.password.size()))) return false;
    if (a.db.legacy_format()) return true;
    return a.db.iterations() == b.db.iterations() && std::memcmp(a.db.salt(), b.db.salt(), kSaltSize) == 0;
}

// The newest key: THEIRS's when THEIRS changed it since BASE and OURS did not, or when
// THEIRS is of format 2.0 and OURS of 1.0 (the vault upgraded on the other branch: the
// 1.0 password counts as given away); otherwise OURS's. The format is never lowered:
// THEIRS's key of format 1.0 never replaces OURS's of 2.0 (`lowered` tells when that
// rule decided).
bool theirs_key(const MergeInput& base, const MergeInput& ours, const MergeInput& theirs, bool& lowered)
{
    lowered = false;
    if (ours.vault.db.legacy_format() && !theirs.vault.db.legacy_format()) return true;
    if (base.empty) return false;
    if (same_key(theirs.vault, base.vault) || !same_key(ours.vault, base.vault)) return false;
    lowered = theirs.vault.db.legacy_format() && !ours.vault.db.legacy_format();
    return !lowered;
}

}  // namespace

bool verb_merge_file(const Options& options, PasswordSource& passwords, Failure& failure)
{
    MergeInput base, ours, theirs;
    base.path = options.operands[0];
    ours.path = options.operands[1];
    theirs.path = options.operands[2];
    base.empty = empty_file(base.path);

    std::string error;
    if (fingerprint_file(ours.path, ours.vault.found, error) != DB_OK) {
        failure = fail(DB_IO_ERROR, ours.path + ": " + error);
        return false;
    }
    // OURS first: the password read first is the one asked for it.
    MergeInput* inputs[3] = {};
    std::size_t count = 0;
    for (MergeInput* input : {&ours, &base, &theirs}) {
        if (input->empty) continue;
        if (!load(*input, failure)) return false;
        inputs[count++] = input;
    }
    if (!open_all(inputs, count, passwords, failure)) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (const std::string refusal = zero_byte_refusal_of(inputs[i]->vault, inputs[i]->path); !refusal.empty()) {
            failure = fail(kExitNotFound, refusal);
            return false;
        }
    }

    const TreeMerge merge = merge_three_way(base.vault.root, ours.vault.root, theirs.vault.root);
    bool lowered = false;
    const bool take_theirs = theirs_key(base, ours, theirs, lowered);
    if (lowered)
        cli_io::write_err_line(std::string(kProgram) + ": " + ours.path +
                               " keeps its password and format 2.0: " + theirs.path +
                               " changed the password in format 1.0, which a merge never writes over 2.0");
    if (take_theirs || !(merge.merged == ours.vault.root)) {
        // The key's owner writes: its container holds the password, the format and
        // (format 2.0) the salt, iteration count and keys of the session.
        Database& writer = take_theirs ? theirs.vault.db : ours.vault.db;
        if (!unchanged_since(ours.path, ours.vault.found, failure)) return false;
        warn_if_legacy(ours.path, writer);
        if (int status = vault::store_document(writer, merge.merged, error)) {
            failure = fail(status, ours.path + ": " + error);
            return false;
        }
        if (int status = writer.save(ours.path)) {
            failure = fail(status, ours.path + ": " + writer.last_error());
            return false;
        }
    }
    if (merge.kept_twice.empty()) return true;
    for (const std::string& path : merge.kept_twice)
        if (!write_out("kept twice: " + path + cli_io::kLineEnd, failure)) return false;
    failure = fail(kExitKeptTwice, ours.path + ": values changed on both sides were kept twice; the vault holds both");
    return false;
}

}  // namespace cli
