// Moving in: a CSV export of 10,000 rows (Bitwarden's layout: folders two levels
// deep, several URLs, notes of two lines, UTF-8) imported into a vault that already
// holds the same folders and a thousand entries. The goal is under one second.

#include "csv/csv.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kRows = 10000;
constexpr int kFolders = 40;

std::string folder(int i)
{
    return "Ordner " + std::to_string(i % kFolders) + "/Bücher " + std::to_string(i % 7);
}

std::string bitwarden_export()
{
    std::string csv = "folder,favorite,type,name,notes,fields,reprompt,login_uri,login_username,login_password,"
                      "login_totp\n";
    for (int i = 0; i < kRows; ++i) {
        const std::string n = std::to_string(i);
        csv += folder(i) + ",,login,Konto " + n + " – café,\"Erste Zeile " + n + "\nzweite Zeile\",,0," +
            "\"https://login" + n + ".example.com/signin,https://www.example.org/" + n + "\",user" + n +
            "@example.com,\"p@ss,\"\"" + n + "\"\"word\",JBSWY3DPEHPK3PXP\n";
    }
    return csv;
}

std::string vault_text()
{
    std::string text;
    for (int f = 0; f < kFolders; ++f) {
        text += "Ordner " + std::to_string(f) + "\r\n";
        for (int e = 0; e < 25; ++e)
            text += "\tentry " + std::to_string(e) + "\r\n\t\tuser: someone\r\n\t\tpassword: secret\r\n";
    }
    return text;
}

void BM_import_csv_10000_rows(benchmark::State& state)
{
    const std::string csv = bitwarden_export();
    const std::string vault = vault_text();
    for (auto _ : state) {
        CsvImport result;
        if (!import_csv(vault, csv, result) || result.rows != kRows) state.SkipWithError("import failed");
        benchmark::DoNotOptimize(result.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csv.size()));
}
BENCHMARK(BM_import_csv_10000_rows)->Unit(benchmark::kMillisecond);

}  // namespace
