/*****************************************************************
| Progress.cpp - progress bar and notices.
****************************************************************/
#include "Progress.h"

#include <cstdio>

#include "Platform.h"

namespace tvkcrypt {

const char kWrapNotice[] =
    "encrypting more than 4 GiB: the key stream of this format repeats every 4 GiB, "
    "so data 4 GiB apart is encrypted with the same key stream";

static const NPT_UInt64 kKeyStreamPeriod = NPT_UInt64(1) << 32;
static const double     kFirstDrawDelay = 0.5;
static const double     kRedrawInterval = 0.2;

Progress::Progress(const char* verb, bool bar, bool notices, bool total_known, NPT_UInt64 total,
                   bool wrap_notice)
    : m_Verb(verb), m_Bar(bar), m_Notices(notices), m_TotalKnown(total_known), m_Total(total),
      m_WrapNotice(wrap_notice), m_Start(MonotonicSeconds())
{
}

std::string
Progress::FormatBytes(NPT_UInt64 bytes)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes);
    unsigned unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof(units) / sizeof(units[0])) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof(text), "%llu B", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof(text), "%.1f %s", value, units[unit]);
    }
    return text;
}

void
Progress::Notice(const std::string& text)
{
    if (!m_Notices) return;
    Erase();
    WriteToStandardError("tvkcrypt: note: " + text + "\n");
}

void
Progress::Advance(NPT_UInt64 bytes)
{
    NPT_UInt64 before = m_Done;
    m_Done += bytes;
    if (m_WrapNotice && before <= kKeyStreamPeriod && m_Done > kKeyStreamPeriod) {
        m_WrapNotice = false;
        Notice(kWrapNotice);
    }
    if (!m_Bar) return;
    double now = MonotonicSeconds();
    if (now - m_Start < kFirstDrawDelay || now - m_LastDraw < kRedrawInterval) return;
    Draw(now);
}

void
Progress::Draw(double now)
{
    double elapsed = now - m_Start;
    double rate = elapsed > 0 ? static_cast<double>(m_Done) / elapsed : 0;
    std::string line = "\r" + m_Verb + " ";
    if (m_TotalKnown && m_Total > 0) {
        const unsigned width = 24;
        NPT_UInt64 done = m_Done < m_Total ? m_Done : m_Total;
        unsigned filled = static_cast<unsigned>(static_cast<double>(done) * width / static_cast<double>(m_Total));
        unsigned percent = static_cast<unsigned>(static_cast<double>(done) * 100 / static_cast<double>(m_Total));
        char head[16];
        std::snprintf(head, sizeof(head), "%3u%% [", percent);
        line += head + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
                FormatBytes(done) + " of " + FormatBytes(m_Total);
    } else {
        line += FormatBytes(m_Done);
    }
    line += "  " + FormatBytes(static_cast<NPT_UInt64>(rate)) + "/s\033[K";
    WriteToStandardError(line);
    m_LastDraw = now;
    m_Shown = true;
}

void
Progress::Erase()
{
    if (!m_Shown) return;
    WriteToStandardError("\r\033[K");
    m_Shown = false;
}

void
Progress::Finish()
{
    Erase();
    m_Bar = false;
}

}  // namespace tvkcrypt
