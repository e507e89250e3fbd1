/*****************************************************************
| MountTree.cpp - the file system of "tvkcrypt mount".
****************************************************************/
#include "MountTree.h"

#include <cerrno>
#include <deque>
#include <vector>

#include "QuotedName.h"

namespace tvkcrypt {
namespace {

// The names of a path inside the mount ("/a/b" gives a, b).
std::vector<std::string>
Components(const std::string& path)
{
    std::vector<std::string> names;
    std::string name;
    for (char c : path) {
        if (c == '/') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    if (!name.empty()) names.push_back(name);
    return names;
}

// A directory that a link, a FIFO or a file stands in for is not there.
SysError
NotThere(SysError error)
{
    return error == kNotRegular || error == ELOOP ? ENOENT : error;
}

SysError
ReadCheckBytes(const SourceDirectory& directory, const std::string& name, std::vector<NPT_UInt8>& bytes)
{
    FileHandle file;
    if (SysError error = directory.OpenFile(name, false, file)) return error;
    TreeStat stat;
    if (SysError error = StatFile(file, stat)) return error;
    // one byte more than the largest check file tells one that is too big
    const NPT_UInt64 largest = TVK_CheckFile::MAX_FILE_SIZE;
    bytes.resize(static_cast<std::size_t>(stat.size < largest ? stat.size + 1 : largest + 1));
    std::size_t got = 0;
    if (SysError error = ReadAt(file, bytes.data(), bytes.size(), 0, got)) return error;
    bytes.resize(got);
    return 0;
}

}  // namespace

MountTree::MountTree(std::shared_ptr<SourceDirectory> root, const Settings& settings, const MountSecrets& secrets,
                     MountFile::Log log)
    : m_Root(std::move(root)), m_Settings(settings), m_Names(settings.suffix), m_Secrets(secrets), m_Log(std::move(log))
{
}

MountTree::~MountTree() = default;

/*----------------------------------------------------------------------
|   paths
+---------------------------------------------------------------------*/
SysError
MountTree::OpenDirectory(const std::string& path, std::shared_ptr<SourceDirectory>& directory) const
{
    directory = m_Root;
    const std::vector<std::string> names = Components(path);
    if (!names.empty() && !m_Settings.only_name.empty()) return ENOENT;
    for (const std::string& name : names) {
        std::unique_ptr<SourceDirectory> child;
        if (SysError error = directory->OpenChild(name, child)) return NotThere(error);
        directory = std::move(child);
    }
    return 0;
}

// The entry a path names: its directory, and its raw name when something
// shows there (raw empty otherwise, with 0: a name for a new entry).
SysError
MountTree::Locate(const char* path, Located& located) const
{
    std::string parent = path;
    const std::string::size_type slash = parent.find_last_of('/');
    located.shown = slash == std::string::npos ? parent : parent.substr(slash + 1);
    parent = slash == std::string::npos ? std::string() : parent.substr(0, slash);
    if (located.shown.empty()) return EINVAL;
    if (SysError error = OpenDirectory(parent, located.directory)) return error;
    const SourceDirectory& directory = *located.directory;
    const bool root_only = !m_Settings.only_name.empty();
    auto look_up = [&](const std::string& name, TreeStat::Kind& kind) {
        TreeStat stat;
        if (root_only && name != m_Settings.only_name) return false;
        if (directory.StatAt(name, stat) != 0) return false;
        kind = stat.kind;
        return true;
    };
    located.raw.clear();
    if (!m_Names.RawName(located.shown, look_up, located.raw)) return 0;
    located.label = SourceLabel(path, located.raw);
    if (SysError error = directory.StatAt(located.raw, located.stat)) {
        located.raw.clear();
        return error == ENOENT ? 0 : error;
    }
    return 0;
}

// The source file behind path (a path in the mount), whose last name is
// raw there, quoted for messages: directories show under their own
// names.
std::string
MountTree::SourceLabel(const std::string& path, const std::string& raw) const
{
    const std::string::size_type slash = path.find_last_of('/');
    std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash);
    while (!parent.empty() && parent[0] == '/') parent.erase(0, 1);
    std::string source = m_Settings.source.empty() ? "." : m_Settings.source;
    if (source.back() != '/') source += '/';
    return QuotedName(source + (parent.empty() ? "" : parent + "/") + raw);
}

// Refuses changes on a read-only mount, and around the one file of a
// single-file source.
SysError
MountTree::Changeable(const Located&) const
{
    if (!m_Settings.read_write) return EROFS;
    return m_Settings.only_name.empty() ? 0 : EPERM;
}

void
MountTree::NoteClash(const std::string& directory, const std::string& name)
{
    if (m_ClashReported.exchange(true)) return;
    m_Log("note: in " + QuotedName(directory) + ", " + QuotedName(name) +
          " shows under its own name: the name without " + QuotedName(m_Settings.suffix) +
          " is taken (such clashes show both raw names)");
}

/*----------------------------------------------------------------------
|   looking
+---------------------------------------------------------------------*/
SysError
MountTree::GetAttributes(const char* path, TreeStat& stat)
{
    if (Components(path).empty()) return m_Root->Stat(stat);
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (located.raw.empty()) return ENOENT;
    stat = located.stat;
    // a file being written reports the size its writes gave it
    if (std::shared_ptr<MountFile> open = OpenFileAt(located.stat)) stat.size = open->Size();
    return 0;
}

SysError
MountTree::List(const char* path, std::vector<SourceEntry>& entries)
{
    std::shared_ptr<SourceDirectory> directory;
    if (SysError error = OpenDirectory(path, directory)) return error;
    std::vector<SourceEntry> raw;
    if (SysError error = directory->List(raw)) return error;
    if (!m_Settings.only_name.empty()) {
        std::vector<SourceEntry> only;
        for (const SourceEntry& entry : raw) {
            if (entry.name == m_Settings.only_name) only.push_back(entry);
        }
        raw.swap(only);
    }
    std::string clash;
    entries = m_Names.Shown(raw, clash);
    if (!clash.empty()) NoteClash(path, clash);
    return 0;
}

SysError
MountTree::Space(TreeSpace& space)
{
    return m_Root->Space(space);
}

NPT_Result
MountTree::VerifyPassword(std::size_t limit, bool& found, std::string& label)
{
    found = false;
    std::deque<std::string> pending(1, std::string());
    for (std::size_t visited = 0; !pending.empty() && visited < limit; ++visited) {
        const std::string path = pending.front();
        pending.pop_front();
        std::vector<SourceEntry> entries;
        if (List(path.empty() ? "/" : path.c_str(), entries) != 0) continue;
        for (const SourceEntry& entry : entries) {
            const std::string child = path + "/" + entry.name;
            if (entry.kind == TreeStat::DIRECTORY) {
                pending.push_back(child);
                continue;
            }
            Located located;
            if (Locate(child.c_str(), located) != 0 || located.raw.empty()) continue;
            // the check file kept, so that this file's first open needs no
            // key derivation of its own
            std::shared_ptr<const TVK_CheckFileReader> check;
            NPT_Result verdict = NPT_SUCCESS;
            if (LoadCheck(located, check, verdict) != 0 && NPT_SUCCEEDED(verdict)) continue;
            if (!check && NPT_SUCCEEDED(verdict)) continue;
            found = true;
            label = SourceLabel(child, located.raw + MountNames::kCheckSuffix);
            return verdict;
        }
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   open files
+---------------------------------------------------------------------*/
// The file's check file, verified (kept for the next opens); null when
// it has none. EIO with verdict set when it does not parse or verify.
SysError
MountTree::LoadCheck(const Located& located, std::shared_ptr<const TVK_CheckFileReader>& check, NPT_Result& verdict)
{
    check.reset();
    verdict = NPT_SUCCESS;
    const std::string name = located.raw + MountNames::kCheckSuffix;
    TreeStat check_stat;
    SysError error = located.directory->StatAt(name, check_stat);
    if (error == ENOENT) return 0;
    if (error) return error;
    const TreeStat& data = located.stat;
    const CheckId id(data.device, data.inode, data.size, data.modified.seconds, data.modified.nanoseconds,
                     check_stat.inode, check_stat.modified.seconds, check_stat.modified.nanoseconds);
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        auto kept = m_Checks.find(id);
        if (kept != m_Checks.end()) {
            check = kept->second;
            return 0;
        }
    }
    std::vector<NPT_UInt8> bytes;
    if ((error = ReadCheckBytes(*located.directory, name, bytes)) != 0) return error;
    std::shared_ptr<TVK_CheckFileReader> reader(new TVK_CheckFileReader);
    verdict = reader->Parse(bytes.data(), static_cast<NPT_Size>(bytes.size()));
    if (NPT_SUCCEEDED(verdict)) verdict = reader->VerifyPassword(m_Secrets.password, m_Secrets.password_size);
    if (NPT_FAILED(verdict)) return EIO;
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Checks.size() >= kKeptChecks) m_Checks.erase(m_Checks.begin());
    m_Checks[id] = reader;
    check = reader;
    return 0;
}

// A handle on the file at located, sharing the MountFile of the file
// when it is open already.
SysError
MountTree::Attach(const Located& located, FileHandle file, bool write, bool created, NPT_UInt64& handle)
{
    TreeStat stat;
    if (SysError error = StatFile(file, stat)) return error;
    const FileId id(stat.device, stat.inode);
    std::shared_ptr<const TVK_CheckFileReader> check;
    bool open_already = false;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        open_already = m_Open.count(id) != 0;
    }
    if (!open_already && !created) {
        NPT_Result verdict = NPT_SUCCESS;
        if (SysError error = LoadCheck(located, check, verdict)) {
            if (NPT_FAILED(verdict)) {
                m_Log("the check file of " + located.label +
                      (verdict == TVK_ERROR_WRONG_PASSWORD ? " was made with another password"
                                                           : " is damaged or was changed") +
                      ": the file cannot be read");
            }
            return error;
        }
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    OpenFile& open = m_Open[id];
    if (!open.file) {
        MountPlace place{located.directory, located.raw, located.label};
        open.file.reset(new MountFile(m_Secrets, std::move(file), stat.size, write, check, created, place, m_Log));
    } else if (write && !open.file->Writable()) {
        open.file->BecomeWritable(std::move(file));
    }
    ++open.handles;
    handle = m_NextHandle++;
    m_Handles[handle] = id;
    return 0;
}

std::shared_ptr<MountFile>
MountTree::FileOf(NPT_UInt64 handle)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    auto found = m_Handles.find(handle);
    if (found == m_Handles.end()) return std::shared_ptr<MountFile>();
    return m_Open[found->second].file;
}

std::shared_ptr<MountFile>
MountTree::OpenFileAt(const TreeStat& stat)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    auto found = m_Open.find(FileId(stat.device, stat.inode));
    return found == m_Open.end() ? std::shared_ptr<MountFile>() : found->second.file;
}

SysError
MountTree::Open(const char* path, bool write, bool truncate, NPT_UInt64& handle)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (located.raw.empty()) return ENOENT;
    if (located.stat.kind != TreeStat::REGULAR) return EISDIR;
    if (write && !m_Settings.read_write) return EROFS;
    FileHandle file;
    if (SysError error = located.directory->OpenFile(located.raw, write, file)) return NotThere(error);
    if (SysError error = Attach(located, std::move(file), write, false, handle)) return error;
    if (!truncate) return 0;
    SysError error = FileOf(handle)->Resize(0);
    if (error) Release(handle);
    return error;
}

SysError
MountTree::Create(const char* path, unsigned mode, NPT_UInt64& handle)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (SysError error = Changeable(located)) return error;
    if (!located.raw.empty()) return EEXIST;
    std::string raw;
    if (!m_Names.NewFileName(located.shown, raw)) return EINVAL;
    FileHandle file;
    if (SysError error = located.directory->CreateFile(raw, mode, file)) return error;
    located.raw = raw;
    located.label = SourceLabel(path, raw);
    return Attach(located, std::move(file), true, true, handle);
}

SysError
MountTree::Read(NPT_UInt64 handle, NPT_UInt64 offset, void* buffer, std::size_t size, std::size_t& got)
{
    std::shared_ptr<MountFile> file = FileOf(handle);
    return file ? file->Read(offset, buffer, size, got) : EBADF;
}

SysError
MountTree::Write(NPT_UInt64 handle, NPT_UInt64 offset, const void* data, std::size_t size)
{
    std::shared_ptr<MountFile> file = FileOf(handle);
    return file ? file->Write(offset, data, size) : EBADF;
}

SysError
MountTree::Flush(NPT_UInt64 handle, bool to_disk)
{
    std::shared_ptr<MountFile> file = FileOf(handle);
    return file ? file->Commit(to_disk) : EBADF;
}

SysError
MountTree::Release(NPT_UInt64 handle)
{
    std::shared_ptr<MountFile> last;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        auto found = m_Handles.find(handle);
        if (found == m_Handles.end()) return EBADF;
        OpenFile& open = m_Open[found->second];
        if (--open.handles == 0) {
            last = open.file;
            m_Open.erase(found->second);
        }
        m_Handles.erase(found);
    }
    return last ? last->Commit(false) : 0;
}

void
MountTree::Shutdown()
{
    std::map<FileId, OpenFile> open;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        open.swap(m_Open);
        m_Handles.clear();
    }
    for (auto& entry : open) {
        if (SysError error = entry.second.file->Commit(true)) {
            m_Log("cannot write the check file of " + entry.second.file->Label() + " at unmount: " +
                  ErrorText(error));
        }
    }
}

/*----------------------------------------------------------------------
|   changes
+---------------------------------------------------------------------*/
SysError
MountTree::Resize(const char* path, NPT_UInt64 size)
{
    NPT_UInt64 handle = 0;
    if (SysError error = Open(path, true, false, handle)) return error;
    SysError error = FileOf(handle)->Resize(size);
    SysError released = Release(handle);
    return error ? error : released;
}

SysError
MountTree::Unlink(const char* path)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (SysError error = Changeable(located)) return error;
    if (located.raw.empty()) return ENOENT;
    if (located.stat.kind == TreeStat::DIRECTORY) return EISDIR;
    if (SysError error = located.directory->Unlink(located.raw)) return error;
    if (std::shared_ptr<MountFile> open = OpenFileAt(located.stat)) open->Removed();
    SysError error = located.directory->Unlink(located.raw + MountNames::kCheckSuffix);
    return error == ENOENT ? 0 : error;
}

SysError
MountTree::MakeDirectory(const char* path, unsigned mode)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (SysError error = Changeable(located)) return error;
    if (!located.raw.empty()) return EEXIST;
    return located.directory->MakeDirectory(located.shown, mode);
}

SysError
MountTree::RemoveDirectory(const char* path)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (SysError error = Changeable(located)) return error;
    if (located.raw.empty()) return ENOENT;
    if (located.stat.kind != TreeStat::DIRECTORY) return ENOTDIR;
    return located.directory->RemoveDirectory(located.raw);
}

SysError
MountTree::Rename(const char* from, const char* to, bool no_replace)
{
    Located source, target;
    if (SysError error = Locate(from, source)) return error;
    if (SysError error = Locate(to, target)) return error;
    if (SysError error = Changeable(source)) return error;
    if (source.raw.empty()) return ENOENT;
    std::string raw = target.raw;
    if (raw.empty()) {
        raw = target.shown;
        if (source.stat.kind == TreeStat::REGULAR && !m_Names.NewFileName(target.shown, raw)) return EINVAL;
    } else if (no_replace) {
        return EEXIST;
    }
    if (SysError error = source.directory->Rename(source.raw, *target.directory, raw, no_replace)) return error;
    if (source.stat.kind != TreeStat::REGULAR) return 0;
    // the check file goes with its data; one left at the target would
    // describe the file that was replaced
    const std::string check = source.raw + MountNames::kCheckSuffix;
    const std::string target_check = raw + MountNames::kCheckSuffix;
    SysError error = source.directory->Rename(check, *target.directory, target_check, false);
    if (error == ENOENT) {
        error = target.directory->Unlink(target_check);
        if (error == ENOENT) error = 0;
    }
    if (std::shared_ptr<MountFile> open = OpenFileAt(source.stat)) {
        open->Moved(MountPlace{target.directory, raw, SourceLabel(to, raw)});
    }
    return error;
}

SysError
MountTree::SetMode(const char* path, unsigned mode)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (!m_Settings.read_write) return EROFS;
    if (located.raw.empty()) return ENOENT;
    return located.directory->SetMode(located.raw, mode);
}

SysError
MountTree::SetTimes(const char* path, const TreeTime* accessed, const TreeTime* modified)
{
    Located located;
    if (SysError error = Locate(path, located)) return error;
    if (!m_Settings.read_write) return EROFS;
    if (located.raw.empty()) return ENOENT;
    return located.directory->SetTimes(located.raw, accessed, modified);
}

}  // namespace tvkcrypt
