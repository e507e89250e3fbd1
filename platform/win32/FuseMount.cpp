/*****************************************************************
| FuseMount.cpp - mounting (Windows): not available; tvkcrypt mount
| says so.
****************************************************************/
#include "FuseMount.h"

#include <cerrno>

#include "FileHandle.h"

namespace tvkcrypt {

bool MountSupported() { return false; }

SysError
CheckMountPoint(const std::string&, std::string& error)
{
    error = "mount is not available on Windows";
    return ENOSYS;
}

bool
RunMount(const MountSettings&, MountedTree&, const std::function<void()>&, std::string& error)
{
    error = "mount is not available on Windows";
    return false;
}

void MountLog(const std::string& line) { WriteToStandardError("tvkcrypt: " + line + "\n"); }

bool
Unmount(const std::string&, double, UnmountEnd& end, std::string& error)
{
    end = UnmountEnd::UNKNOWN;
    error = "mount is not available on Windows";
    return false;
}

}  // namespace tvkcrypt
