/*****************************************************************
| Progress.cpp - progress bar, notices and warnings.
****************************************************************/
#include "Progress.h"

#include <cstdio>

#include "FileHandle.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "Terminal.h"

namespace tvkcrypt {

const char kWrapWarning[] =
    "encrypting more than 4 GiB: the key stream of this format repeats every 4 GiB, "
    "so data 4 GiB apart is encrypted with the same key stream";

static const NPT_UInt64 kKeyStreamPeriod = NPT_UInt64(1) << 32;
static const double     kFirstDrawDelay = 0.5;
static const double     kRedrawInterval = 0.2;
// used when standard error does not tell its width
static const unsigned   kDefaultColumns = 80;
// narrower than this, a bar says too little to be worth its room
static const std::size_t kMinBarWidth = 10;

Progress::Progress(const char* verb, const Shown& shown, bool total_known, NPT_UInt64 total,
                   bool wrap_warning)
    : m_Verb(verb), m_Shown(shown), m_TotalKnown(total_known), m_Total(total),
      m_WrapWarning(wrap_warning), m_Start(MonotonicSeconds())
{
    if (m_Shown.bar) WatchTerminalSize();
}

std::string
Progress::FormatBytes(NPT_UInt64 bytes)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    const unsigned last = sizeof(units) / sizeof(units[0]) - 1;
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    unsigned unit = 0;
    while (value >= 1024.0 && unit < last) {
        value /= 1024.0;
        ++unit;
    }
    // 1023.96 MiB would print as "1024.0 MiB": that is "1.0 GiB"
    if (value >= 1023.95 && unit < last) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %s", value, units[unit]);
    return text;
}

std::string
Progress::FormatDuration(double seconds)
{
    const unsigned long total = seconds > 0 && seconds < 1e9 ? static_cast<unsigned long>(seconds + 0.5) : 0;
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof(text), "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof(text), "%lu:%02lu", total / 60, total % 60);
    }
    return text;
}

std::string
Progress::Line(const std::string& verb, bool total_known, NPT_UInt64 total, NPT_UInt64 done,
               double rate, unsigned columns, double seconds_left)
{
    const std::size_t width = columns > 1 ? columns - 1 : 0;
    std::string speed = "  " + FormatBytes(static_cast<NPT_UInt64>(rate)) + "/s";
    if (seconds_left >= 0) speed += "  " + FormatDuration(seconds_left) + " left";
    std::string line;
    if (total_known && total > 0) {
        if (done > total) done = total;
        const double fraction = static_cast<double>(done) / static_cast<double>(total);
        char percent[16];
        std::snprintf(percent, sizeof(percent), "%3u%%", static_cast<unsigned>(fraction * 100));
        const std::string head = verb + " " + percent + " ";
        const std::string amounts = " " + FormatBytes(done) + " of " + FormatBytes(total);
        // the widest layout that leaves the bar its minimum width
        const std::string tails[] = {amounts + speed, amounts, " " + FormatBytes(done), ""};
        for (const std::string& tail : tails) {
            const std::size_t fixed = head.size() + 2 + tail.size();
            if (fixed + kMinBarWidth > width) continue;
            const std::size_t bar = width - fixed;
            const std::size_t filled = static_cast<std::size_t>(fraction * static_cast<double>(bar));
            return head + "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "]" + tail;
        }
        line = verb + " " + percent;
    } else {
        line = verb + " " + FormatBytes(done);
        if (line.size() + speed.size() <= width) line += speed;
    }
    if (line.size() > width) line.resize(width);
    return line;
}

void
Progress::Say(const char* kind, const std::string& text)
{
    Erase();
    WriteToStandardError(std::string("tvkcrypt: ") + kind + ": " + text + "\n");
}

void
Progress::Notice(const std::string& text)
{
    if (m_Shown.notices) Say("note", text);
}

void
Progress::Warning(const std::string& text)
{
    if (m_Shown.warnings) Say("warning", text);
}

void
Progress::Advance(NPT_UInt64 bytes)
{
    NPT_UInt64 before = m_Done;
    m_Done += bytes;
    if (m_WrapWarning && before <= kKeyStreamPeriod && m_Done > kKeyStreamPeriod) {
        m_WrapWarning = false;
        Warning(kWrapWarning);
    }
    if (!m_Shown.bar) return;
    double now = MonotonicSeconds();
    if (now - m_Start < kFirstDrawDelay || now - m_LastDraw < kRedrawInterval) return;
    Draw(now);
}

void
Progress::Draw(double now)
{
    // the width is read once, then again after each resize
    if (m_Columns == 0 || TerminalResized()) {
        FileHandle standard_error(2, false);
        m_Columns = TerminalColumns(standard_error);
        if (m_Columns == 0) m_Columns = kDefaultColumns;
    }
    double elapsed = now - m_Start;
    double rate = elapsed > 0 ? static_cast<double>(m_Done) / elapsed : 0;
    const double left = m_TotalKnown && rate > 0 && m_Total >= m_Done
                            ? static_cast<double>(m_Total - m_Done) / rate
                            : -1;
    SetStatusLineShown(true);
    WriteToStandardError("\r" + Line(m_Verb, m_TotalKnown, m_Total, m_Done, rate, m_Columns, left) +
                         "\033[K");
    m_LastDraw = now;
    m_Drawn = true;
}

void
Progress::Erase()
{
    if (!m_Drawn) return;
    WriteToStandardError("\r\033[K");
    SetStatusLineShown(false);
    m_Drawn = false;
}

void
Progress::Interject(const std::string& text)
{
    Erase();
    WriteToStandardError(text);
}

void
Progress::Finish()
{
    Erase();
    m_Shown.bar = false;
}

}  // namespace tvkcrypt
