/*****************************************************************
| MountNames.h - the names a mount shows for the entries of a source
| directory, and back.
|
| A regular file named with the suffix (".tvk" unless --suffix says
| otherwise; empty: names are kept) shows without it; check files
| (regular files ending in ".tvkcheck") are hidden, and so is anything
| that is neither a regular file nor a directory (links, FIFOs,
| devices, sockets). When the name without the suffix is taken too
| (both "a" and "a.tvk"), both show their raw names: Shown reports the
| clash, once per call. RawName inverts Shown exactly, so every shown
| name leads to one entry and hidden ones to none.
|
| Portable and without I/O: the directory is given as a list or as a
| look-up. Any thread (no state beyond the suffix).
****************************************************************/
#ifndef TVKCRYPT_MOUNT_NAMES_H
#define TVKCRYPT_MOUNT_NAMES_H

#include <functional>
#include <string>
#include <vector>

#include "SourceTree.h"

namespace tvkcrypt {

class MountNames
{
public:
    static const char kCheckSuffix[];  // ".tvkcheck"

    explicit MountNames(const std::string& suffix) : m_Suffix(suffix) {}

    // What a directory of entries shows; clash names one entry shown raw
    // because its shorter name is taken (empty when none is).
    std::vector<SourceEntry> Shown(const std::vector<SourceEntry>& entries, std::string& clash) const;

    // Finds the entry kind of name in the directory: false when there is
    // none.
    typedef std::function<bool(const std::string& name, TreeStat::Kind& kind)> LookUp;

    // The raw name of the entry shown as shown; false when nothing shows
    // under that name.
    bool RawName(const std::string& shown, const LookUp& look_up, std::string& raw) const;

    // The raw name of a new regular file to be shown as shown; false
    // when no file could show under that name (a check file's name
    // without a suffix).
    bool NewFileName(const std::string& shown, std::string& raw) const;

    static bool IsCheckFileName(const std::string& name);

private:
    // The name entry shows as (empty: hidden), stem_taken telling whether
    // its name without the suffix is taken in the directory.
    std::string ShownName(const std::string& raw, TreeStat::Kind kind, bool stem_taken) const;
    bool HasSuffix(const std::string& name) const;

    std::string m_Suffix;
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_MOUNT_NAMES_H
