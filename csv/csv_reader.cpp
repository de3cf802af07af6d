// The CSV reader (RFC 4180) and the file reader.

#include "csv/csv.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/file_io.h"

std::string_view CsvTable::field(std::size_t record, std::size_t column) const noexcept
{
    const Record& r = records_[record];
    if (column >= r.count) return {};
    const std::size_t index = r.first + column;
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(cells_.data() + begin, ends_[index] - begin);
}

bool CsvTable::read(std::string_view text, std::size_t& error_line)
{
    cells_.clear();
    ends_.clear();
    records_.clear();
    // The unquoted fields are never longer than the text: the cells never move,
    // so no copy of them is left behind in freed memory.
    cells_.resize(text.size());
    std::size_t used = 0;
    std::size_t pos = 0;
    const std::size_t end = text.size();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    std::size_t line = 1;

    while (pos < end) {
        Record record{ends_.size(), 0, line};
        for (;;) {
            // One field, from `pos` to its comma or line end.
            if (pos < end && text[pos] == '"') {
                const std::size_t open_line = line;
                ++pos;
                for (;;) {
                    if (pos >= end) {
                        cells_.clear();
                        ends_.clear();
                        records_.clear();
                        error_line = open_line;
                        return false;
                    }
                    const char c = text[pos++];
                    if (c == '"') {
                        if (pos < end && text[pos] == '"') {
                            ++pos;
                        } else {
                            break;
                        }
                    } else if (c == '\n') {
                        ++line;
                    }
                    cells_.data()[used++] = c;
                }
            }
            while (pos < end && text[pos] != ',' && text[pos] != '\n' && text[pos] != '\r')
                cells_.data()[used++] = text[pos++];
            ends_.push_back(used);
            ++record.count;
            if (pos < end && text[pos] == ',') {
                ++pos;
                continue;
            }
            break;
        }
        records_.push_back(record);
        if (pos < end && text[pos] == '\r') ++pos;
        if (pos < end && text[pos] == '\n') {
            ++pos;
            ++line;
        }
    }
    cells_.truncate(used);
    return true;
}

bool read_csv_file(const std::string& path, SecretString& out, std::string& error)
{
    out.clear();
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::uint64_t size = 0;
    bool ok = db_file::size_of(file, size);
    if (ok && size > out.str().max_size()) {
        ok = false;
        errno = EFBIG;
    }
    if (ok) {
        try {
            out.resize(static_cast<std::size_t>(size));
        } catch (...) {
            std::fclose(file);
            throw;
        }
        const std::size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), file);
        // A file that shrank meanwhile is read as it is now; one that grew, as it was.
        if (got < out.size() && std::ferror(file)) ok = false;
        out.truncate(got);
    }
    const int saved = errno;
    std::fclose(file);
    if (!ok) {
        out.clear();
        error = std::strerror(saved ? saved : EIO);
    }
    return ok;
}
