// The editor's CSV commands: the file dialogs, the document replaced by the import's
// result, the export written, and the imported file erased after the next save.

#include "ui/editor/csv_commands.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "csv/csv.h"
#include "platform/file_io.h"
#include "resource.h"
#include "ui/editor/editor_state.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/file_dialog.h"
#include "ui/common/text.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"

namespace {

constexpr char kImportCaption[] = "Import from CSV";
constexpr char kExportCaption[] = "Export to CSV";
constexpr char kEraseCaption[] = "Imported CSV file";
constexpr char kEraseQuestion[] = "Delete the CSV file? It holds your passwords unencrypted.";
constexpr char kExportWarning[] = "The CSV file will not be encrypted: anyone who can read it sees every password "
                                  "in it.\r\n\r\nExport anyway?";
constexpr wchar_t kCsvFilter[] = L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";

// The CSV files imported since the last save, until the save after them offered to
// erase them.
std::vector<std::wstring> g_imported_csv;

void warn(const char* caption, const std::string& text)
{
    MessageBeep(MB_ICONWARNING);
    editor_show_message(caption, text);
}

}  // namespace

void import_csv_file(HWND window)
{
    // The modal file dialog runs its own message loop: the inactivity lock must not
    // close the editor underneath it.
    const InactivityPause paused;
    const std::wstring path = choose_file(window, FileDialog::kOpen, kCsvFilter, nullptr, L"csv");
    if (path.empty()) return;
    SecretString csv;
    std::string error;
    if (!read_csv_file(to_narrow(path), csv, error)) {
        warn(kImportCaption, "The file could not be read: " + error);
        return;
    }
    // The edits first, then the whole document: the import keeps its text and adds
    // the entries after it or inside its groups.
    if (!get_window_text(g_editor.filter_box).empty()) set_window_text(g_editor.filter_box, "");
    store_editor_text();
    CsvImport imported;
    {
        const SecretString document(g_tree_root.serialize("\r\n", 0));
        if (!import_csv(document.str(), csv.str(), imported)) {
            warn(kImportCaption, "Nothing was imported: " + imported.error);
            return;
        }
    }
    csv.clear();
    if (!document_may_be_shown(imported.text.data(), imported.text.size(), to_narrow(path))) return;
    Tree merged = parse_tree(imported.text.str());
    imported.text.clear();
    // The document changes only once the editor box holds it.
    if (!show_node(&merged)) {
        wipe_tree(merged);
        show_node(g_editor.node_shown);
        warn(kImportCaption, "The imported entries could not be shown; nothing was imported.");
        return;
    }
    g_tree_root.wipe();
    g_tree_root = std::move(merged);
    g_editor.node_shown = &g_tree_root;
    mark_changed();
    if (std::find(g_imported_csv.begin(), g_imported_csv.end(), path) == g_imported_csv.end())
        g_imported_csv.push_back(path);
    // The new entries are mostly at the end: show it.
    const LRESULT length = SendMessageW(g_editor.editor_box, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(g_editor.editor_box, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(g_editor.editor_box, EM_SCROLLCARET, 0, 0);
    MessageBeep(MB_ICONINFORMATION);
    editor_show_message(kImportCaption,
                        std::to_string(imported.rows) + (imported.rows == 1 ? " row" : " rows") + " of a " +
                            csv_layout_name(imported.layout) + " export imported. They are not saved yet.");
}

void export_csv_file(HWND window)
{
    MessageBeep(MB_ICONWARNING);
    if (!ask(window, kExportCaption, kExportWarning)) return;
    // The modal file dialog runs its own message loop: the inactivity lock must not
    // close the editor underneath it.
    const InactivityPause paused;
    const std::wstring path = choose_file(window, FileDialog::kSave, kCsvFilter, nullptr, L"csv");
    if (path.empty()) return;
    store_editor_text();
    CsvExport exported;
    export_csv(g_tree_root, exported);
    const db_file::WriteOutcome outcome = db_file::replace_file(
        to_narrow(path), nullptr, 0, reinterpret_cast<const std::uint8_t*>(exported.text.data()), exported.text.size());
    exported.text.clear();
    if (outcome.kind != db_file::WriteOutcome::kOk) {
        warn(kExportCaption,
             std::string("The file could not be written: ") +
                 (outcome.error_number ? std::strerror(outcome.error_number) : "write failed"));
        return;
    }
    std::string text = std::to_string(exported.rows) + (exported.rows == 1 ? " entry" : " entries") +
        " written. The file is not encrypted: delete it once it is no longer needed.";
    if (exported.left_out)
        text += "\r\n\r\n" + std::to_string(exported.left_out) +
            (exported.left_out == 1 ? " entry was" : " entries were") + " left out: no password child.";
    MessageBeep(MB_ICONINFORMATION);
    editor_show_message(kExportCaption, text);
}

void offer_to_erase_imported_csv() noexcept
{
    if (g_imported_csv.empty()) return;
    try {
        const std::vector<std::wstring> paths = std::move(g_imported_csv);
        g_imported_csv.clear();
        std::string question = kEraseQuestion;
        if (paths.size() > 1) {
            question = "Delete the CSV files? They hold your passwords unencrypted.\r\n";
            for (const std::wstring& path : paths) question += "\r\n    " + to_narrow(path);
        }
        MessageBeep(MB_ICONWARNING);
        if (!ask(g_editor.main_window, kEraseCaption, question)) return;
        for (const std::wstring& path : paths)
            if (const int error = db_file::erase_file(to_narrow(path)))
                warn(kEraseCaption, to_narrow(path) + " could not be deleted: " + std::strerror(error));
    } catch (...) {
        // The question could not be asked; the files stay, as with No.
    }
}
