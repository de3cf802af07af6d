#pragma once
// File > Import from CSV... and File > Export to CSV...: the editor's half of the
// CSV import and export (csv/csv.h). Internal to the editor window; user-interface
// thread only.

#include <windows.h>

// Asks for a CSV file, adds its rows to the document as an unsaved change (shown at
// once, with the number of rows imported) and remembers the file, so that the next
// save offers to erase it. A file of no known layout or a broken one changes nothing.
void import_csv_file(HWND window);
// After a warning that the file is not encrypted, asks where, and writes the
// document's entries as CSV there.
void export_csv_file(HWND window);
// Called after each successful save: once per import, asks "Delete the CSV file?"
// (default No); Yes overwrites the file with zeros and deletes it. Never throws.
void offer_to_erase_imported_csv() noexcept;
