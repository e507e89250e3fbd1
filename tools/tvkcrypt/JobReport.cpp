/*****************************************************************
| JobReport.cpp - reports of files, their tally and their JSON.
****************************************************************/
#include "JobReport.h"

#include <algorithm>
#include <cstdio>

#include "FileHandle.h"
#include "QuotedName.h"

namespace tvkcrypt {

static thread_local FileReport* t_Report = nullptr;

void
ReportTo(FileReport* report)
{
    t_Report = report;
}

FileReport*
CurrentReport()
{
    return t_Report;
}

// "bytes 512-1023 (block 1)", "bytes 0-2047 (blocks 0-3)"
static std::string
RangeText(NPT_UInt64 first, NPT_UInt64 end, NPT_UInt64 first_block, NPT_UInt64 last_block)
{
    std::string text = "bytes " + std::to_string(first) + "-" + std::to_string(end - 1);
    if (first_block == last_block) return text + " (block " + std::to_string(first_block) + ")";
    return text + " (blocks " + std::to_string(first_block) + "-" + std::to_string(last_block) + ")";
}

std::string
DamagedRanges(std::vector<NPT_UInt64> damaged, NPT_UInt64 block_size, NPT_UInt64 data_size,
              std::vector<std::pair<NPT_UInt64, NPT_UInt64>>& ranges)
{
    std::sort(damaged.begin(), damaged.end());
    damaged.erase(std::unique(damaged.begin(), damaged.end()), damaged.end());
    ranges.clear();
    std::string text;
    for (std::size_t i = 0; i < damaged.size();) {
        std::size_t j = i;
        while (j + 1 < damaged.size() && damaged[j + 1] == damaged[j] + 1) ++j;
        const NPT_UInt64 first = damaged[i] * block_size;
        NPT_UInt64 end = (damaged[j] + 1) * block_size;
        if (end > data_size) end = data_size;
        if (end <= first) end = first + 1;  // a block past the end: the data was cut
        ranges.emplace_back(first, end);
        text += (text.empty() ? "" : ", ") + RangeText(first, end, damaged[i], damaged[j]);
        i = j + 1;
    }
    return text;
}

/*----------------------------------------------------------------------
|   JobTally and the --json lines
+---------------------------------------------------------------------*/
void
JobTally::Add(const FileReport& report)
{
    switch (report.result) {
        case FileReport::OK: ++ok; break;
        case FileReport::RESUMED: ++resumed; break;
        case FileReport::DAMAGED: ++damaged; break;
        case FileReport::SALVAGED: ++salvaged; break;
        case FileReport::WRONG_PASSWORD: ++wrong_password; break;
        case FileReport::FAILED: ++failed; break;
        case FileReport::SKIPPED: ++skipped; break;
    }
}

int
JobTally::ExitStatus() const
{
    int bits = 0;
    if (damaged + salvaged > 0) bits |= kPartialDamaged;
    if (wrong_password > 0) bits |= kPartialWrongPassword;
    if (failed > 0) bits |= kPartialFailed;
    if (skipped > 0) bits |= kPartialSkipped;
    return bits == 0 ? kExitSuccess : kExitPartial + bits;
}

std::string
JobTally::Text() const
{
    const std::pair<unsigned, const char*> parts[] = {
        {ok, "ok"}, {resumed, "already done"}, {damaged, "damaged"}, {salvaged, "salvaged"},
        {wrong_password, "wrong password"}, {failed, "failed"}, {skipped, "skipped"}};
    std::string text;
    for (const auto& part : parts) {
        if (part.first == 0 && part.second != parts[0].second) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(part.first) + " " + part.second;
    }
    return text;
}

// A JSON string: control characters, quotes and backslashes escaped;
// bytes that are not UTF-8 as \u00XX of the byte (names are bytes).
static std::string
JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c >= 0x80 ? Utf8SequenceLength(text, i) : 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f || length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out + "\"";
}

std::string
JsonLine(const FileReport& report)
{
    static const char* const kResults[] = {"ok", "damaged", "wrong-password", "failed", "skipped", "salvaged",
                                           "already-done"};
    std::string line = "{\"path\":" + JsonString(report.path) + ",\"result\":\"" + kResults[report.result] +
                       "\",\"bytes\":" + std::to_string(report.bytes) + ",\"damaged\":[";
    for (std::size_t i = 0; i < report.damaged.size(); ++i) {
        line += (i > 0 ? ",[" : "[") + std::to_string(report.damaged[i].first) + "," +
                std::to_string(report.damaged[i].second) + "]";
    }
    line += "]";
    if (!report.message.empty()) line += ",\"message\":" + JsonString(report.message);
    return line + "}\n";
}

void
WriteJsonLine(const FileReport& report)
{
    const std::string line = JsonLine(report);
    FileHandle out = FileHandle::StandardOutput();
    WriteAll(out, line.data(), line.size());
}

}  // namespace tvkcrypt
