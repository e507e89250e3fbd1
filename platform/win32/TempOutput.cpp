/*****************************************************************
| TempOutput.cpp - Windows implementation of TempOutput.h: always a
| hidden named file (Windows has no unnamed ones), marked for deletion
| on close while it is written, flushed and moved into place with
| MOVEFILE_WRITE_THROUGH.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "TempOutput.h"

#include <atomic>
#include <string>

#include <windows.h>
#include <fcntl.h>

#include "CommitPair.h"
#include "SignalState.h"
#include "Win32Support.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   TempOutput
+---------------------------------------------------------------------*/
// A fresh hidden name beside the target: ".NAME.tvkcrypt-XXXXXX".
static std::string
TemporaryName(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    std::string base = target;
    // keep the name well within the 255-unit limit of one component
    if (base.size() > 200) {
        base.resize(200);
        // do not cut a UTF-8 sequence in two
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long seed = static_cast<unsigned long long>(now.QuadPart) ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
                              (static_cast<unsigned long long>(counter++) << 40) ^ attempt;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        suffix += letters[(seed >> 33) % (sizeof(letters) - 1)];
    }
    return "." + base + ".tvkcrypt-" + suffix;
}

// Sets or clears the mark that has the system delete a file once its
// last handle is closed (the handle needs DELETE access). False when the
// file system refuses it.
static bool
MarkForDeletion(HANDLE handle, bool marked)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = marked ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

static std::wstring
TempPath(const OutputPlace*, const std::string& directory, const std::string& name)
{
    std::wstring path;
    if (PathIn(directory, name, path) != 0) path.clear();
    return path;
}

SysError
TempOutput::Create(const OutputPlace& place)
{
    Discard();
    if (place.m_DirectoryPath.empty()) return EINVAL;  // no directory to work in
    m_Place = &place;
    ControlBlock block;
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = TemporaryName(place.m_Name, attempt);
        std::wstring path = TempPath(&place, place.m_DirectoryPath, name);
        if (path.empty()) return EILSEQ;
        // DELETE access: the control handler can remove it through the
        // handle, even while the other thread writes
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if ((code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
            return FromWin32(code);
        }
        // marked for deletion at once: however the process ends (a crash,
        // End process, TerminateProcess), the system removes the file
        // when it closes the last handle; Commit takes the mark off
        m_DeleteOnClose = MarkForDeletion(handle, true);
        if (SysError error = Adopt(handle, _O_RDWR, m_File)) return error;
        m_Name = name;
        m_Slot = RememberTemporary(handle, path);
        return InfoOfHandle(handle, m_Identity);
    }
}

SysError
TempOutput::GiveName(std::string& name)
{
    // always named on Windows
    name = m_Name;
    return m_Name.empty() ? EINVAL : 0;
}

// Moves a file to another name in the same directory: the name must be
// free unless replace. MOVEFILE_WRITE_THROUGH returns only once the
// rename is on disk, which stands in for syncing the directory.
static SysError
MoveName(const std::wstring& from, const std::wstring& to, bool replace)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(from.c_str(), to.c_str(), flags)) return LastError();
    return 0;
}

// What a replaced file passes on to its output: read-only, hidden and
// system, as its permissions are on POSIX.
static const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Puts the named temporary at the place's name, replacing whatever is
// there. Windows refuses to rename over a file that is open (the input
// itself, replaced with --force) or read-only; then the old file first
// moves aside to a hidden name (an open file may be renamed when it was
// opened for sharing deletion, as the tool opens its input), the output
// takes the name, and the old file is removed: a name left empty for a
// moment instead of one atomic step. A read-only file's output is made
// read-only too, as the output takes a replaced file's permissions.
SysError
TempOutput::NameIfFree()
{
    std::wstring from = TempPath(m_Place, m_Place->m_DirectoryPath, m_Name);
    std::wstring to = TempPath(m_Place, m_Place->m_DirectoryPath, m_Place->m_Name);
    if (from.empty() || to.empty()) return EILSEQ;
    return MoveName(from, to, false);
}

SysError
TempOutput::Replace()
{
    const std::string& directory = m_Place->m_DirectoryPath;
    std::wstring from = TempPath(m_Place, directory, m_Name);
    std::wstring to = TempPath(m_Place, directory, m_Place->m_Name);
    if (from.empty() || to.empty()) return EILSEQ;
    const DWORD old_attributes = GetFileAttributesW(to.c_str());
    const bool read_only = old_attributes != INVALID_FILE_ATTRIBUTES &&
                           (old_attributes & FILE_ATTRIBUTE_READONLY) &&
                           !(old_attributes & FILE_ATTRIBUTE_DIRECTORY);
    SysError error = read_only ? EACCES : MoveName(from, to, true);
    if (error != EACCES && error != EBUSY) {
        return error;
    }
    if (old_attributes == INVALID_FILE_ATTRIBUTES || (old_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return error;
    }
    std::string aside;
    std::wstring aside_path;
    for (unsigned attempt = 0;; ++attempt) {
        aside = TemporaryName(m_Place->m_Name, attempt);
        aside_path = TempPath(m_Place, directory, aside);
        if (MoveFileExW(to.c_str(), aside_path.c_str(), MOVEFILE_WRITE_THROUGH)) break;
        SysError aside_error = LastError();
        // open elsewhere without sharing deletion: in use, which is what
        // refused the rename too (Windows says "access denied" there)
        if (aside_error == EBUSY) return EBUSY;
        if (aside_error != EEXIST || attempt >= 100) return error;
    }
    if (SysError move_error = MoveName(from, to, false)) {
        // the old file back at its name; when that fails too, the caller
        // says where it is
        if (!MoveFileExW(aside_path.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
            m_LeftoverError = LastError();
            m_Leftover = aside;
        }
        return move_error;
    }
    if (read_only) SetFileAttributesW(to.c_str(), old_attributes & kKeptAttributes);
    SetFileAttributesW(aside_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(aside_path.c_str())) {
        m_LeftoverError = LastError();
        m_Leftover = aside;
    }
    return 0;
}

SysError
TempOutput::Commit(unsigned, bool replace)
{
    if (!m_File.IsOpen() || m_Place == nullptr) return EBADF;
    m_Leftover.clear();
    m_LeftoverError = 0;
    m_DirectorySyncError = 0;
    HANDLE handle = OsHandle(m_File);
    if (!FlushFileBuffers(handle)) return LastError();
    ControlBlock block;
    std::wstring from = TempPath(m_Place, m_Place->m_DirectoryPath, m_Name);
    std::wstring to = TempPath(m_Place, m_Place->m_DirectoryPath, m_Place->m_Name);
    if (from.empty() || to.empty()) return EILSEQ;
    // the file must outlive its handle now; until the rename is done, an
    // interruption is handled by the control handler, by name
    if (m_DeleteOnClose) {
        if (!MarkForDeletion(handle, false)) return LastError();
        m_DeleteOnClose = false;
    }
    // the rename needs the file closed (it was opened without sharing
    // deletion); from here on the control handler removes it by name
    ForgetTemporaryHandle(m_Slot);
    if (SysError error = m_File.Close()) return error;
    // the output is an ordinary file, not a hidden one, unless the file
    // it replaces was hidden or a system file (read-only comes last:
    // Replace)
    DWORD old_attributes = replace ? GetFileAttributesW(to.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (old_attributes != INVALID_FILE_ATTRIBUTES && (old_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        old_attributes = INVALID_FILE_ATTRIBUTES;
    }
    const DWORD kept = old_attributes == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : old_attributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (!SetFileAttributesW(from.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL)) return LastError();
    SysError error = replace ? Replace() : NameIfFree();
    if (error) return error;
    ForgetTemporary(m_Slot);
    m_Name.clear();
    m_Place = nullptr;
    return 0;
}

void
TempOutput::Discard()
{
    ControlBlock block;
    ForgetTemporaryHandle(m_Slot);
    m_File.Close();
    // a file still marked went with its handle; its name may already
    // be someone else's
    const bool gone = m_DeleteOnClose;
    m_DeleteOnClose = false;
    if (!gone && !m_Name.empty() && m_Place != nullptr) {
        std::wstring path = TempPath(m_Place, m_Place->m_DirectoryPath, m_Name);
        if (!path.empty()) DeleteFileW(path.c_str());
    }
    ForgetTemporary(m_Slot);
    m_Name.clear();
    m_Place = nullptr;
}

SysError
TempOutput::Sync()
{
    HANDLE handle = OsHandle(m_File);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    if (!FlushFileBuffers(handle)) return LastError();
    return 0;
}

/*----------------------------------------------------------------------
|   AsideFile
+---------------------------------------------------------------------*/
SysError
AsideFile::SetAside(bool move)
{
    m_Kept.clear();
    m_Moved = false;
    const std::string& directory = m_Place->m_DirectoryPath;
    std::wstring existing;
    if (SysError error = PathIn(directory, m_Place->m_Name, existing)) return error;
    for (unsigned attempt = 0;; ++attempt) {
        std::string aside = TemporaryName(m_Place->m_Name, attempt);
        std::wstring aside_path;
        if (SysError error = PathIn(directory, aside, aside_path)) return error;
        SysError error = 0;
        if (!move) {
            if (CreateHardLinkW(aside_path.c_str(), existing.c_str(), nullptr)) {
                m_Kept = aside;
                return 0;
            }
            error = LastError();
            if (error == ENOENT) return 0;
            if (error == EEXIST && attempt < 100) continue;
        }
        // no hard links here (FAT, exFAT), or the name is to be freed:
        // the file itself moves to the hidden name
        error = MoveName(existing, aside_path, false);
        if (error == 0) {
            m_Kept = aside;
            m_Moved = true;
            return 0;
        }
        if (error == ENOENT) return 0;
        if (error != EEXIST || attempt >= 100) return error;
    }
}

SysError
AsideFile::PutBack(const FileInfo* ours)
{
    std::wstring name_path;
    if (SysError error = PathIn(m_Place->m_DirectoryPath, m_Place->m_Name, name_path)) return error;
    // what is at the name now: this run's file, another's, or nothing (a
    // failed look is taken as this run's: the name is put back)
    FileInfo now;
    SysError look = 0;
    HANDLE handle = CreateFileW(name_path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        look = LastError();
    } else {
        look = InfoOfHandle(handle, now);
        CloseHandle(handle);
    }
    const bool empty = look == ENOENT;
    const bool foreign = look == 0 && (ours == nullptr || !now.SameFileAs(*ours));
    if (m_Kept.empty()) {
        // there was nothing: remove this run's file alone
        if (empty || foreign || ours == nullptr) return 0;
        if (!DeleteFileW(name_path.c_str())) return LastError();
        return 0;
    }
    // a file of another run, or the old file still there (a hard link):
    // only the hidden name goes
    if (foreign) return Remove();
    std::wstring kept_path;
    if (SysError error = PathIn(m_Place->m_DirectoryPath, m_Kept, kept_path)) return error;
    if (SysError error = MoveName(kept_path, name_path, true)) return error;
    m_Kept.clear();
    m_Moved = false;
    return 0;
}

SysError
AsideFile::Remove()
{
    if (m_Kept.empty()) return 0;
    std::wstring kept_path;
    if (SysError error = PathIn(m_Place->m_DirectoryPath, m_Kept, kept_path)) return error;
    // a second name of a file held open without sharing deletion cannot
    // go now: the caller names it
    if (!DeleteFileW(kept_path.c_str())) return LastError();
    m_Kept.clear();
    return 0;
}

/*----------------------------------------------------------------------
|   CommitTogether
+---------------------------------------------------------------------*/
SysError
CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
               TempOutput& second, unsigned second_mode, bool second_replace, PairCommit& outcome)
{
    return CommitPair<ControlBlock>(first, first_place, first_replace, second, second_mode, second_replace, outcome);
}

}  // namespace tvkcrypt
