/*****************************************************************
| MountNames.cpp - the names a mount shows.
****************************************************************/
#include "MountNames.h"

#include <set>

namespace tvkcrypt {

const char MountNames::kCheckSuffix[] = ".tvkcheck";

namespace {

bool
EndsWith(const std::string& name, const std::string& end)
{
    return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool
MountNames::IsCheckFileName(const std::string& name)
{
    return EndsWith(name, kCheckSuffix);
}

bool
MountNames::HasSuffix(const std::string& name) const
{
    return !m_Suffix.empty() && EndsWith(name, m_Suffix);
}

std::string
MountNames::ShownName(const std::string& raw, TreeStat::Kind kind, bool stem_taken) const
{
    if (kind == TreeStat::OTHER) return std::string();
    if (kind == TreeStat::REGULAR && IsCheckFileName(raw)) return std::string();
    if (kind == TreeStat::REGULAR && HasSuffix(raw) && !stem_taken) return raw.substr(0, raw.size() - m_Suffix.size());
    return raw;
}

std::vector<SourceEntry>
MountNames::Shown(const std::vector<SourceEntry>& entries, std::string& clash) const
{
    clash.clear();
    std::set<std::string> names;
    for (const SourceEntry& entry : entries) names.insert(entry.name);
    std::vector<SourceEntry> shown;
    for (const SourceEntry& entry : entries) {
        const bool stem_taken =
            HasSuffix(entry.name) && names.count(entry.name.substr(0, entry.name.size() - m_Suffix.size())) != 0;
        SourceEntry seen = entry;
        seen.name = ShownName(entry.name, entry.kind, stem_taken);
        if (seen.name.empty()) continue;
        if (stem_taken && entry.kind == TreeStat::REGULAR && clash.empty()) clash = entry.name;
        shown.push_back(seen);
    }
    return shown;
}

bool
MountNames::RawName(const std::string& shown, const LookUp& look_up, std::string& raw) const
{
    TreeStat::Kind kind = TreeStat::OTHER;
    const bool shown_taken = look_up(shown, kind);
    if (!m_Suffix.empty()) {
        TreeStat::Kind long_kind = TreeStat::OTHER;
        if (!shown_taken && look_up(shown + m_Suffix, long_kind) && long_kind == TreeStat::REGULAR) {
            raw = shown + m_Suffix;
            return true;
        }
    }
    if (!shown_taken) return false;
    bool stem_taken = false;
    if (HasSuffix(shown)) {
        TreeStat::Kind stem_kind;
        stem_taken = look_up(shown.substr(0, shown.size() - m_Suffix.size()), stem_kind);
    }
    if (ShownName(shown, kind, stem_taken) != shown) return false;
    raw = shown;
    return true;
}

bool
MountNames::NewFileName(const std::string& shown, std::string& raw) const
{
    raw = shown + m_Suffix;
    return !IsCheckFileName(raw);
}

}  // namespace tvkcrypt
