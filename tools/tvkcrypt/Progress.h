/*****************************************************************
| Progress.h - the progress bar and the notices of tvkcrypt.
|
| Progress draws a one-line bar on standard error while a long job
| runs, and prints notices so that they do not collide with the bar.
| The caller decides whether a bar is wanted (standard error is a
| terminal, the job is large or of unknown size, not --quiet); the bar
| then appears only once the job has run for half a second, so quick
| jobs never flicker. Advance is called by one thread at a time (the
| thread that is writing output).
****************************************************************/
#ifndef TVKCRYPT_PROGRESS_H
#define TVKCRYPT_PROGRESS_H

#include <string>

#include "NptTypes.h"

namespace tvkcrypt {

class Progress
{
public:
    // verb: what is going on ("encrypting"); total: the bytes expected,
    // when total_known. A notice about the 4 GiB key-stream period is
    // printed when wrap_notice is set and the running count passes it.
    Progress(const char* verb, bool bar, bool notices, bool total_known, NPT_UInt64 total,
             bool wrap_notice);
    ~Progress() { Finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Prints "tvkcrypt: note: text" unless notices are off.
    void Notice(const std::string& text);
    // Counts bytes done and redraws the bar now and then.
    void Advance(NPT_UInt64 bytes);
    // Erases the bar, if shown. Call before printing an error.
    void Finish();

    static std::string FormatBytes(NPT_UInt64 bytes);

private:
    void Draw(double now);
    void Erase();

    std::string m_Verb;
    bool        m_Bar;
    bool        m_Notices;
    bool        m_TotalKnown;
    NPT_UInt64  m_Total;
    bool        m_WrapNotice;
    NPT_UInt64  m_Done = 0;
    double      m_Start;
    double      m_LastDraw = 0;
    bool        m_Shown = false;
};

// Text of the notice about inputs larger than the key-stream period.
extern const char kWrapNotice[];

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PROGRESS_H
