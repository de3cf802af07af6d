// Opens and writes vaults from the command line with the program's own container,
// for the end-to-end suite and its benchmark, which look at the files the Windows
// program leaves behind from the Linux side.
//
//   vault_tool open <file> <password>     writes the plaintext to standard output
//   vault_tool create <file> <password>   encrypts standard input into <file> (format 2.0)
//   vault_tool create10 <file> <password> the same in the old format 1.0
//
// The exit code is the container's status (0 when all went well); its error text
// goes to standard error.

#include "db/database.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

namespace {

int report(const char* step, int status, const Database& db)
{
    if (status != DB_OK) std::fprintf(stderr, "%s: %s (status %d)\n", step, db.last_error().c_str(), status);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: vault_tool open|create|create10 <file> <password>\n", stderr);
        return 64;
    }
    const std::string command = argv[1];
    const std::string path = argv[2];
    const std::string password = argv[3];
    Database db;
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));

    if (command == "open") {
        if (int status = report("load", db.load(path), db)) return status;
        if (int status = report("decrypt", db.decrypt(), db)) return status;
        const std::string text = db.plaintext();
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 74;
    }
    if (command == "create10") {
        // As if a 1.0 vault had been loaded: the save writes 1.0.
        db.write_legacy_format();
    }
    if (command == "create" || command == "create10") {
        std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
        return report("save", db.save(path), db);
    }
    std::fputs("usage: vault_tool open|create|create10 <file> <password>\n", stderr);
    return 64;
}
