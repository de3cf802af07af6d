#pragma once
// The companion's verbs, one file or family of files each under cli/verbs/. A verb
// gets the parsed command line (its operands already counted against its row in the
// table in cli.cpp) and the password source; it returns false with the failure.

#include "cli/cli.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/passwords.h"

namespace cli {

using VerbFunction = bool (*)(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/show.cpp: reading the document.
bool verb_show(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_complete(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_export(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/import.cpp: the document as text and as CSV.
bool verb_import(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_import_csv(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_export_csv(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/password.cpp: the master password and the vault file itself.
bool verb_passwd(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_upgrade(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_init(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/merge.cpp
bool verb_merge(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/merge_file.cpp
bool verb_merge_file(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/code.cpp
bool verb_code(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/backups.cpp: the backups beside the vault and the earlier values they hold.
bool verb_backups(const Options& options, PasswordSource& passwords, Failure& failure);
bool verb_history(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/generate.cpp
bool verb_generate(const Options& options, PasswordSource& passwords, Failure& failure);

// verbs/audit.cpp
bool verb_audit(const Options& options, PasswordSource& passwords, Failure& failure);

}  // namespace cli
