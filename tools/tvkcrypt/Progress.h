/*****************************************************************
| Progress.h - the progress bar, the notices and the warnings of
| tvkcrypt.
|
| Progress draws a one-line bar on standard error while a long job
| runs, and prints notices and warnings so that they do not collide
| with the bar. The caller decides whether a bar is wanted (standard
| error is a terminal, the job is large or of unknown size, not
| --quiet); the bar then appears only once the job has run for half a
| second, so quick jobs never flicker. The bar fits the terminal's
| width, read again after the terminal is resized. Notices (things
| worth knowing) go with -q; warnings (about the safety of the data)
| only with -qq. Advance is called by one thread at a time (the thread
| that is writing output). Nothing here fails: output errors on
| standard error are ignored.
****************************************************************/
#ifndef TVKCRYPT_PROGRESS_H
#define TVKCRYPT_PROGRESS_H

#include <string>

#include "NptTypes.h"
#include "TvkTransform.h"

namespace tvkcrypt {

class Progress : public TransformProgress
{
public:
    struct Shown {
        bool bar = false;       // the bar, on a terminal
        bool notices = true;
        bool warnings = true;
    };
    // verb: what is going on ("encrypting"); total: the bytes expected,
    // when total_known. A warning about the 4 GiB key-stream period is
    // printed when wrap_warning is set and the running count passes it.
    Progress(const char* verb, const Shown& shown, bool total_known, NPT_UInt64 total,
             bool wrap_warning);
    ~Progress() { Finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Prints "tvkcrypt: note: text" unless notices are off.
    void Notice(const std::string& text);
    // Prints "tvkcrypt: warning: text" unless warnings are off.
    void Warning(const std::string& text);
    // Counts bytes done and redraws the bar now and then.
    void Advance(NPT_UInt64 bytes) override;
    // Erases the bar, if shown. Call before printing an error.
    void Finish();

    // Sizes as people read them: "512 B", "1.5 KiB", "1.0 GiB" (never
    // "1024.0 MiB": a value that rounds to 1024 moves up a unit).
    static std::string FormatBytes(NPT_UInt64 bytes);
    // The bar's line for a terminal of columns columns, at most
    // columns - 1 characters (the last column would wrap on some
    // terminals). Parts are left out, least useful first, when it is
    // narrow: the rate, the total, the bar itself.
    // seconds_left: shown as time left when not negative (and room allows).
    static std::string Line(const std::string& verb, bool total_known, NPT_UInt64 total,
                            NPT_UInt64 done, double rate, unsigned columns, double seconds_left = -1);
    // "1:05:09", "4:02", "0:07"
    static std::string FormatDuration(double seconds);
    // What the bar says it is doing ("encrypting 12/300 files").
    void SetVerb(const std::string& verb) { m_Verb = verb; }
    // Prints text (a whole line) so that it does not collide with the
    // bar, which the next Advance redraws.
    void Interject(const std::string& text);

private:
    void Draw(double now);
    void Erase();
    void Say(const char* kind, const std::string& text);

    std::string m_Verb;
    Shown       m_Shown;
    bool        m_TotalKnown;
    NPT_UInt64  m_Total;
    bool        m_WrapWarning;
    NPT_UInt64  m_Done = 0;
    double      m_Start;
    double      m_LastDraw = 0;
    unsigned    m_Columns = 0;
    bool        m_Drawn = false;
};

// Text of the warning about inputs larger than the key-stream period.
extern const char kWrapWarning[];

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PROGRESS_H
