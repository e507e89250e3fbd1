/*****************************************************************
| CommandMount.cpp - tvkcrypt mount SOURCE MOUNTPOINT: the files of
| SOURCE shown decrypted through FUSE (MountTree.h, FuseMount.h);
| tvkcrypt unmount MOUNTPOINT ends such a mount.
|
| Everything that can be refused is refused before anything is
| mounted, with exit status 2 for a source or mount point that cannot
| serve (and the fix), 1 for a wrong password. The password is asked
| once; the format's key is made in the process that serves the mount
| (after it detached: locked memory does not pass to a child), in
| memory that is neither swapped nor dumped, like the password, which
| the check files need.
****************************************************************/
#include "Commands.h"

#include <memory>
#include <string>

#include "FileHandle.h"
#include "FuseMount.h"
#include "Hardening.h"
#include "Job.h"
#include "MountTree.h"
#include "NptWipe.h"
#include "Options.h"
#include "OutputPlace.h"
#include "Password.h"
#include "QuotedName.h"
#include "TvkCrypto/c.h"

namespace tvkcrypt {
namespace {

// How long tvkcrypt unmount waits for the mount's process to finish
// writing check files: a commit is a few syncs and one read of the
// blocks written since the last one.
const double kUnmountWait = 120;

int
UsageFailure(const std::string& message)
{
    WriteToStandardError("tvkcrypt: " + message + "\n");
    return kExitUsage;
}

// The directory to mirror, or the directory of the one file to show.
int
OpenSource(const Options& options, std::shared_ptr<SourceDirectory>& root, MountTree::Settings& settings)
{
    const std::string label = QuotedName(options.input);
    FileInfo info;
    if (SysError error = StatPath(options.input.c_str(), info)) {
        return UsageFailure("cannot use the source " + label + ": " + ErrorText(error) +
                            (error == ENOENT ? " (give an existing directory or encrypted file)" : ""));
    }
    std::string directory = options.input;
    if (info.kind == FileInfo::REGULAR) {
        settings.only_name = CreatedName(options.input);
        if (MountNames::IsCheckFileName(settings.only_name)) {
            return UsageFailure("the source " + label + " is a check file: give the encrypted file");
        }
        directory = DirectoryPartOf(options.input);
        settings.source = directory;
    } else if (info.kind != FileInfo::DIRECTORY) {
        return UsageFailure("the source " + label + " is neither a directory nor a regular file");
    }
    if (settings.source.empty()) settings.source = options.input;
    std::unique_ptr<SourceDirectory> opened;
    if (SysError error = SourceDirectory::OpenRoot(directory, opened)) {
        return UsageFailure("cannot open the source " + label + ": " + ErrorText(error));
    }
    root = std::move(opened);
    return 0;
}

// The password against a check file of the source, when it has one.
int
CheckPassword(const Options& options, MountTree& tree)
{
    bool found = false;
    std::string label;
    NPT_Result result = tree.VerifyPassword(1000, found, label);
    if (result == TVK_ERROR_WRONG_PASSWORD) return Failure("wrong password");
    if (NPT_FAILED(result)) return Failure("the check file " + label + " is damaged or was changed");
    if (!found && !options.quiet) {
        WriteToStandardError("tvkcrypt: note: no check file in " + QuotedName(options.input) +
                             ": the password cannot be checked (a wrong one shows wrong bytes)\n");
    }
    return 0;
}

}  // namespace

int
RunMount(const Options& options, const EnvironmentPassword& environment_password)
{
    if (!MountSupported()) {
#ifdef _WIN32
        return UsageFailure("mount is not available on Windows");
#else
        return UsageFailure("this tvkcrypt was built without FUSE 3, so it cannot mount: install "
                            "libfuse3-dev (apt-get install libfuse3-dev) and build it again");
#endif
    }
    MountTree::Settings settings;
    settings.suffix = options.suffix;
    settings.read_write = options.read_write;
    std::shared_ptr<SourceDirectory> root;
    if (int status = OpenSource(options, root, settings)) return status;
    std::string error;
    if (CheckMountPoint(options.mountpoint, error) != 0) return UsageFailure(error);

    SecretBuffer password(kMaxPasswordLength);
    if (!ObtainPassword(options.password_file, false, false, environment_password, options.password_encoding,
                        password, error)) {
        return Failure(error);
    }
    MountSecrets secrets;
    secrets.password = reinterpret_cast<const NPT_UInt8*>(password.CString());
    secrets.password_size = static_cast<NPT_Size>(password.Size());
    MountTree tree(root, settings, secrets, MountLog);
    if (int status = CheckPassword(options, tree)) return status;
    Key key;
    if (!DeriveKey(password, key, error)) return Failure(error);
    if (options.read_write) secrets.iterations = TVK_CheckFile::CalibrateIterations();

    MountSettings mount;
    mount.mountpoint = options.mountpoint;
    mount.source_label = options.input;
    mount.foreground = options.foreground;
    mount.allow_other = options.allow_other;
    mount.direct_io = options.direct_io;
    mount.read_write = options.read_write;
    tvk_key* made = nullptr;
    auto started = [&] {
        LockSecretRange(password.Data(), password.Capacity());
        LockSecretRange(key.Bytes(), TVK_KEY_SIZE);
        if (tvk_key_create_raw(key.Bytes(), &made) != TVK_SUCCESS) MountLog("cannot make the key: reads fail");
        secrets.key = made;
    };
    const bool mounted = RunMount(mount, tree, started, error);
    tvk_key_destroy(made);
    if (!mounted) return UsageFailure(error);
    return kExitSuccess;
}

int
RunUnmount(const Options& options, const EnvironmentPassword&)
{
    std::string error;
    UnmountEnd end = UnmountEnd::UNKNOWN;
    if (!Unmount(options.mountpoint, kUnmountWait, end, error)) return Failure(error);
    const std::string label = QuotedName(options.mountpoint);
    std::string note;
    if (end == UnmountEnd::FILES_OPEN) {
        note = "files on " + label + " are still open: they keep working, and the mount ends, writing their "
               "check files, once they are closed";
    } else if (end == UnmountEnd::TIMED_OUT) {
        note = "the mount on " + label + " is gone, but its process is still writing check files";
    } else if (end == UnmountEnd::UNKNOWN) {
        note = "unmounted " + label + "; whether its process has finished cannot be told (not a mount of this "
               "tvkcrypt)";
    }
    if (!note.empty() && options.quiet == 0) WriteToStandardError("tvkcrypt: note: " + note + "\n");
    return kExitSuccess;
}

}  // namespace tvkcrypt
