/*****************************************************************
| Options.cpp - command-line parsing and the help text of tvkcrypt.
****************************************************************/
#include "Options.h"

#include <cstring>
#include <vector>

#include "QuotedName.h"

namespace tvkcrypt {

static const char kPasswordRefusal[] =
    "passwords are not accepted on the command line, where other users can see them; "
    "use --password-file FILE, the TVK_PASSWORD environment variable, or the prompt";

// The text of --help.
static const char kHelpText[] =
    "Usage: tvkcrypt encrypt [OPTIONS] [INPUT]\n"
    "       tvkcrypt decrypt [OPTIONS] [INPUT]\n"
    "       tvkcrypt check [--create] [OPTIONS] FILE\n"
    "       tvkcrypt rekey [OPTIONS] FILE...\n"
    "       tvkcrypt encrypt|decrypt -r [OPTIONS] DIR -o DEST\n"
    "       tvkcrypt check|rekey -r [OPTIONS] DIR\n"
    "       tvkcrypt mount [OPTIONS] SOURCE MOUNTPOINT\n"
    "       tvkcrypt unmount MOUNTPOINT\n"
    "\n"
    "Encrypts or decrypts INPUT (standard input when absent or '-') with a\n"
    "password, writing to standard output or to the file given with -o.\n"
    "The encrypted form is exactly as long as the cleartext; it carries no\n"
    "header and no checksum, so by itself a wrong password is not detected:\n"
    "it decrypts to wrong bytes. A check file beside it (see below) closes\n"
    "that gap.\n"
    "\n"
    "Commands:\n"
    "  encrypt                 encrypt INPUT; with -o FILE, FILE.tvkcheck is\n"
    "                          written as well\n"
    "  decrypt                 decrypt INPUT, verified against its check file\n"
    "                          when there is one\n"
    "  check                   verify the password and the data of FILE against\n"
    "                          FILE.tvkcheck, writing nothing (exit 0 or 1)\n"
    "  rekey                   move each FILE to a new password in one pass, with\n"
    "                          a new check file (the old password is verified\n"
    "                          against the old one)\n"
    "  mount                   show the files of the directory SOURCE (or the one\n"
    "                          file SOURCE) decrypted at MOUNTPOINT (FUSE), see below\n"
    "  unmount                 end the mount at MOUNTPOINT\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE       write to FILE instead of standard output\n"
    "  -f, --force             replace FILE if it already exists\n"
    "      --follow-symlinks   when FILE is a symbolic link, replace the file it\n"
    "                          points to instead of the link (see below)\n"
    "      --in-place          write into the existing FILE itself: works where\n"
    "                          its directory is not writable, but is not atomic\n"
    "                          (see below)\n"
    "      --password-file F   read the password from the first line of F; '-'\n"
    "                          reads it from standard input (not with data there)\n"
    "      --password-encoding ENC\n"
    "                          derive the key from the password converted to\n"
    "                          ENC, not from its bytes as read (see below)\n"
    "      --check-file PATH   the check file is PATH instead of the encrypted\n"
    "                          file's name with .tvkcheck appended\n"
    "      --no-check-file     neither write nor look for a check file\n"
    "      --create            check only: make a check file for an existing\n"
    "                          encrypted FILE (the password cannot be confirmed)\n"
    "      --offset N          decrypt only: start at cleartext byte N\n"
    "      --length M          decrypt only: produce at most M bytes\n"
    "      --salvage           decrypt only: write every block that verifies and\n"
    "                          zeros for each damaged one (exit status 3)\n"
    "      --new-password-file F  rekey only: the new password's file\n"
    "  -r, --recursive         INPUT is a directory: every file in it and below,\n"
    "                          mirrored into DEST (names gain or lose .tvk);\n"
    "                          links and special files are skipped\n"
    "  -j, --jobs N            with -r: N files at once (default: processors)\n"
    "      --resume            with -r: keep outputs that are complete and verify\n"
    "      --json              a line of JSON per file on standard output\n"
    "      --read-write        mount only: allow writes, new files, renames and\n"
    "                          removals (read-only otherwise)\n"
    "      --suffix S          mount only: drop S from file names (default .tvk;\n"
    "                          '' keeps names)\n"
    "      --direct-io         mount only: bypass the kernel's page cache\n"
    "      --foreground        mount only: stay in the foreground (also -f)\n"
    "  -o allow_other          mount only: let other users in, as the files'\n"
    "                          modes allow (only the mounting user otherwise)\n"
    "  -q, --quiet             no progress bar and no notices\n"
    "  -qq, --quiet --quiet    no warnings about the data's safety either\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "N and M are byte counts; a suffix K, M, G or T (or KiB, MiB, GiB, TiB)\n"
    "multiplies by 1024, 1024^2, 1024^3 or 1024^4. With --offset the input is read from byte N\n"
    "on (a file is seeked, a pipe is read and discarded up to N).\n"
    "\n"
    "Password, taken from the first of:\n"
    "  1. --password-file F (its first line, without the line ending; the\n"
    "     first line of standard input for '-');\n"
    "  2. the environment variable TVK_PASSWORD, when set and not empty;\n"
#ifdef _WIN32
    "  3. a prompt on the console, without echo; asked twice when encrypting,\n"
    "     and when decrypting with --force over an existing file.\n"
    "In cmd, set TVK_PASSWORD=... sets the variable ($env:TVK_PASSWORD in\n"
    "PowerShell). A password file saved by Notepad as UTF-8 works; one saved\n"
    "as \"Unicode\" (UTF-16) is refused: save it as UTF-8.\n"
    "The prompt goes to the console itself, so it shows even when standard\n"
    "output is redirected (tvkcrypt decrypt F | more).\n"
    "Passwords are never taken from the command line, which other users can\n"
    "see. With none of them (no console, as in a scheduled task) tvkcrypt\n"
    "fails with status 1. An empty password is refused for encrypting (it is\n"
    "accepted for decrypting data that was encrypted with one: press Enter\n"
    "at the prompt). Ctrl-Z then Enter at the prompt gives up.\n"
#else
    "  3. a prompt on the terminal, without echo; asked twice when encrypting,\n"
    "     and when decrypting with --force over an existing file.\n"
    "The prompt goes to the terminal itself, so it shows even when standard\n"
    "output is a pipe (tvkcrypt decrypt F | less).\n"
    "Passwords are never taken from the command line, which other users can\n"
    "see. With none of them (no terminal, as under cron) tvkcrypt fails\n"
    "with status 1. An empty password is refused for encrypting (it is\n"
    "accepted for decrypting data that was encrypted with one: press Enter\n"
    "at the prompt). End of input (Ctrl-D) at the prompt gives up.\n"
#endif
    "\n"
    "Password encoding:\n"
    "  The key comes from the password's bytes, so one password in two\n"
    "  encodings gives two keys. tvkcrypt reads the password as UTF-8 text (a\n"
    "  byte order mark at the start of a password file is dropped) and keys\n"
    "  with its bytes as read. Data encrypted through the .NET entry point\n"
    "  was keyed with the Windows ANSI code page instead: for it, give\n"
    "  --password-encoding with that code page (cp1252 in western Europe and\n"
    "  the Americas), or 'ansi' on Windows for the system's own. A password\n"
    "  with a character the encoding lacks is refused. ENC is one of utf8,\n"
    "  ansi, cp1250, cp1251, cp1252, cp1253, cp1254, cp1255, cp1256, cp1257,\n"
    "  latin1, iso-8859-2, iso-8859-15, cp437, cp850, cp866 and koi8-r\n"
    "  (case-insensitive; windows-125N, iso-8859-1, latin2, latin9 and utf-8\n"
    "  work too).\n"
    "\n"
    "Output files:\n"
#ifdef _WIN32
    "  The result is written to a hidden temporary file in FILE's directory,\n"
    "  which the system deletes if tvkcrypt ends before it is complete (Ctrl-C,\n"
    "  closing the console, End process, a crash), flushed to disk, and\n"
    "  renamed over FILE only when everything succeeded; on any failure or\n"
    "  interruption FILE is left as it was. An existing FILE keeps its\n"
    "  read-only, hidden and system attributes; a new one gets the access\n"
    "  rights its directory passes on. FILE may be NUL (the output is\n"
    "  dropped); the other device names (CON, PRN, AUX, COM1 to COM9, LPT1\n"
    "  to LPT9) and every device name with an extension (nul.txt) are\n"
    "  refused. A trailing dot or space is dropped from FILE, as Windows\n"
    "  does, and the check file is named after what remains.\n"
    "  A FILE that is a symbolic link or junction is itself replaced by the\n"
    "  output and its target is left alone; with --follow-symlinks the\n"
    "  target is replaced instead, when it is a regular file.\n"
    "  INPUT and FILE may be the same file (with --force): it is replaced only\n"
    "  after all of it has been read. Encrypted output is not written to a\n"
    "  console, and standard output may not be the input file itself.\n"
    "  PowerShell 5.1 re-encodes what a program writes to > or |: give binary\n"
    "  output there with -o FILE.\n"
    "  The directory must be writable for the temporary file. --in-place (with\n"
    "  --force) writes into an existing regular FILE instead (opened without\n"
    "  truncating it, cut to the output's length at the end): it keeps its\n"
    "  identity, hard links and access rights, but it is not atomic: a failure\n"
    "  or interruption leaves FILE partly written, and FILE may not be INPUT.\n"
    "  It writes a check file only when --check-file names one.\n"
#else
    "  The result is written to an unnamed temporary file in FILE's directory\n"
    "  (a hidden named one where the file system has no unnamed files), synced,\n"
    "  and renamed over FILE only when everything succeeded; on any failure or\n"
    "  interruption FILE is left as it was. An existing FILE keeps its\n"
    "  permissions (and owner, where allowed); a new one is created with\n"
    "  mode 0600. A FILE that is a device or a FIFO (such as /dev/null) is\n"
    "  written directly; a block device (a disk) only with --force.\n"
    "  A FILE that is a symbolic link is itself replaced by the output (as mv\n"
    "  does) and its target is left alone; with --follow-symlinks the\n"
    "  target is replaced instead, and only when every link on the way and\n"
    "  the target belong to the user running tvkcrypt (or root). A link to a\n"
    "  device or FIFO is written through; /dev/stdout, /dev/fd/N and\n"
    "  /proc/self/fd/N write where that stream goes; a link in /dev or /proc\n"
    "  is never replaced.\n"
    "  INPUT and FILE may be the same file (with --force): it is replaced only\n"
    "  after all of it has been read. Encrypted output is not written to a\n"
    "  terminal, and standard output may not be the input file itself.\n"
    "  The directory must be writable for the temporary file. --in-place (with\n"
    "  --force) writes into an existing regular FILE instead (opened without\n"
    "  truncating it, cut to the output's length at the end): it keeps its inode,\n"
    "  links and owner, but it is not atomic: a failure or interruption leaves\n"
    "  FILE partly written, and FILE may not be INPUT. It writes a check file\n"
    "  only when --check-file names one.\n"
#endif
    "\n"
    "Check files:\n"
    "  A check file holds a password verifier and a tag per 512 KiB block of\n"
    "  ciphertext. It is written together with the output: both files are\n"
    "  replaced, or neither. With it, decrypt refuses a wrong password before\n"
    "  any output is created and stops with \"FILE is damaged or was changed\"\n"
    "  when the data does not match (a range checks the blocks it touches);\n"
    "  a file output is then left as it was. To standard output, each block\n"
    "  is verified before it is written, so the output stops at the first\n"
    "  damaged block, and the exit status is 1. The encrypted file itself is\n"
    "  unchanged, and whoever can replace both files can replace both.\n"
    "\n"
    "Mount:\n"
    "  The password is asked once and checked against a check file in SOURCE\n"
    "  when there is one. Every regular file shows decrypted, as long as it is\n"
    "  stored, without its suffix; check files are hidden, and each block a\n"
    "  read touches is verified against the file's check file (a damaged one\n"
    "  fails with EIO). The mount detaches once it is live; tvkcrypt unmount\n"
    "  (or fusermount3's unmount) ends it. No cleartext is written to disk; the kernel's\n"
    "  page cache keeps what was read in memory unless --direct-io.\n"
    "\n"
    "The key stream of this format repeats every 4 GiB; encrypting more than\n"
    "that weakens the encryption, and tvkcrypt warns (even with -q; -qq\n"
    "hides the warning).\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 3 salvaged (written\n"
    "with zeros for damaged blocks), 141 standard output closed early. A job\n"
    "of several files (-r, rekey FILE...) with trouble: 16 plus 1 if some were\n"
    "damaged, 2 if some refused the password, 4 if some failed otherwise, 8\n"
    "if entries were skipped (links, special files); 1 if it could not run.\n";

// Each command's own help: its usage and options; the rest is in --help.
struct CommandHelp {
    Options::Command command;
    const char*      text;
};

static const CommandHelp kCommandHelp[] = {
    {Options::ENCRYPT,
     "Usage: tvkcrypt encrypt [OPTIONS] [INPUT] [-o FILE]\n"
     "       tvkcrypt encrypt -r [OPTIONS] DIR -o DEST\n"
     "Encrypts INPUT (standard input when absent or '-') with a password; with\n"
     "-o FILE, FILE.tvkcheck is written as well. With -r, every file of DIR is\n"
     "encrypted into DEST as NAME.tvk with its check file.\n"
     "Options: -o FILE, -f/--force, --follow-symlinks, --in-place,\n"
     "  --password-file F, --password-encoding ENC, --check-file PATH,\n"
     "  --no-check-file, -r, -j N, --resume, --json, -q.\n"},
    {Options::DECRYPT,
     "Usage: tvkcrypt decrypt [OPTIONS] [INPUT] [-o FILE]\n"
     "       tvkcrypt decrypt -r [OPTIONS] DIR -o DEST\n"
     "Decrypts INPUT, verified against INPUT.tvkcheck when there is one (a\n"
     "wrong password is refused, damaged ranges are named). With -r, every\n"
     "NAME.tvk of DIR is decrypted into DEST as NAME.\n"
     "Options: -o FILE, -f/--force, --follow-symlinks, --in-place, --offset N,\n"
     "  --length M, --salvage, --password-file F, --password-encoding ENC,\n"
     "  --check-file PATH, --no-check-file, -r, -j N, --resume, --json, -q.\n"},
    {Options::CHECK,
     "Usage: tvkcrypt check [OPTIONS] FILE\n"
     "       tvkcrypt check --create [OPTIONS] FILE\n"
     "       tvkcrypt check -r [OPTIONS] DIR\n"
     "Verifies the password and every block of FILE against FILE.tvkcheck,\n"
     "writing nothing, and names the damaged ranges; --create makes the check\n"
     "file of an existing encrypted FILE. With -r, every file of DIR that has a\n"
     "check file.\n"
     "Options: --create, -f/--force, --check-file PATH, --password-file F,\n"
     "  --password-encoding ENC, -r, -j N, --json, -q.\n"},
    {Options::REKEY,
     "Usage: tvkcrypt rekey [OPTIONS] FILE...\n"
     "       tvkcrypt rekey -r [OPTIONS] DIR\n"
     "Moves each FILE to a new password in one pass, with a new check file,\n"
     "both replaced together. The old password comes from --password-file,\n"
     "TVK_PASSWORD or the prompt, and is verified against FILE.tvkcheck when\n"
     "there is one; the new one from --new-password-file or the prompt\n"
     "(asked twice).\n"
     "Options: --password-file F, --new-password-file F, --password-encoding\n"
     "  ENC, -r, -j N, --json, -q.\n"},
    {Options::MOUNT,
     "Usage: tvkcrypt mount [OPTIONS] SOURCE MOUNTPOINT\n"
     "Shows the files of the directory SOURCE (or the one file SOURCE)\n"
     "decrypted at MOUNTPOINT through FUSE, each block verified against its\n"
     "check file; the password is asked once. Read-only unless --read-write.\n"
     "Options: --read-write, --suffix S, --direct-io, -f/--foreground,\n"
     "  -o allow_other, --password-file F, --password-encoding ENC, -q.\n"},
    {Options::UNMOUNT,
     "Usage: tvkcrypt unmount MOUNTPOINT\n"
     "Ends the mount at MOUNTPOINT and waits until its check files are written.\n"},
};

std::string
HelpText(Options::Command command)
{
    for (const CommandHelp& help : kCommandHelp) {
        if (help.command == command) {
            return std::string(help.text) + "Passwords, check files, output files and exit statuses: "
                                            "tvkcrypt --help\n";
        }
    }
    return kHelpText;
}

// Parses a byte count: decimal digits with an optional binary suffix.
static bool
ParseByteCount(const std::string& text, NPT_UInt64& value)
{
    value = 0;
    std::size_t i = 0;
    if (text.empty()) return false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        NPT_UInt64 digit = static_cast<NPT_UInt64>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (i == 0) return false;
    if (i == text.size()) return true;
    // K, M, G, T, or the same with "iB" as sizes are printed (1.0 GiB)
    const std::string suffix = text.substr(i + 1);
    if (!suffix.empty() && suffix != "iB" && suffix != "ib") return false;
    unsigned shift;
    switch (text[i]) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        case 't': case 'T': shift = 40; break;
        default: return false;
    }
    if (value > (UINT64_MAX >> shift)) return false;
    value <<= shift;
    return true;
}

namespace {

// The commands, by name.
struct CommandName {
    const char*      name;
    Options::Command command;
};

const CommandName kCommandNames[] = {
    {"encrypt", Options::ENCRYPT},
    {"decrypt", Options::DECRYPT},
    {"check",   Options::CHECK},
    {"rekey",   Options::REKEY},
    {"mount",   Options::MOUNT},
    {"unmount", Options::UNMOUNT},
};

// "encrypt, decrypt or check"
std::string
CommandList()
{
    std::string list;
    const std::size_t count = sizeof(kCommandNames) / sizeof(kCommandNames[0]);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += i + 1 < count ? ", " : " or ";
        list += kCommandNames[i].name;
    }
    return list;
}

// Walks argv, handing out option values from "--name=value", "--name
// value", "-xVALUE" and "-x VALUE". Every option is a line of
// kOptionRules: its long name, its letter (0: none), whether it takes a
// value, and the member that applies it (with the name as given, for
// messages, and the value, empty when it takes none).
class Parser
{
public:
    Parser(int argc, const char* const* argv, Options& options, std::string& error)
        : m_Argc(argc), m_Argv(argv), m_Options(options), m_Error(error) {}

    bool Run();

private:
    typedef bool (Parser::*Apply)(const std::string& name, const std::string& value);
    struct OptionRule {
        const char* name;
        char        letter;
        bool        takes_value;
        Apply       apply;
    };
    static const OptionRule kOptionRules[];

    bool Fail(const std::string& message) {
        m_Error = message;
        return false;
    }
    bool TakeValue(const std::string& name, const char* inline_value, std::string& value);
    bool LongOption(const std::string& arg);
    bool ShortOptions(const std::string& arg);
    bool SetCommand();
    bool SetOnce(bool& seen, const std::string& name);
    bool SetCount(const std::string& name, const std::string& value, bool& has, NPT_UInt64& count);
    bool CheckFileOptions();

    // the options' effects
    bool ShowHelp(const std::string&, const std::string&) { m_Options.action = Options::SHOW_HELP; return true; }
    bool ShowVersion(const std::string&, const std::string&) { m_Options.action = Options::SHOW_VERSION; return true; }
    bool SetForce(const std::string&, const std::string&) { m_Options.force = true; return true; }
    bool SetFollowSymlinks(const std::string&, const std::string&) { m_Options.follow_symlinks = true; return true; }
    bool AddQuiet(const std::string&, const std::string&) { ++m_Options.quiet; return true; }
    bool SetInPlace(const std::string&, const std::string&) { m_Options.in_place = true; return true; }
    bool SetNoCheckFile(const std::string&, const std::string&) { m_Options.no_check_file = true; return true; }
    bool SetCreate(const std::string&, const std::string&) { m_Options.create_check = true; return true; }
    bool SetRecursive(const std::string&, const std::string&) { m_Options.recursive = true; return true; }
    bool SetJson(const std::string&, const std::string&) { m_Options.json = true; return true; }
    bool SetResume(const std::string&, const std::string&) { m_Options.resume = true; return true; }
    bool SetSalvage(const std::string&, const std::string&) { m_Options.salvage = true; return true; }
    bool SetJobs(const std::string& name, const std::string& value);
    bool SetNewPasswordFile(const std::string& name, const std::string& value);
    bool JobOptions();
    bool SetOutput(const std::string& name, const std::string& value);
    bool SetReadWrite(const std::string&, const std::string&) { m_Options.read_write = true; return true; }
    bool SetDirectIo(const std::string&, const std::string&) { m_Options.direct_io = true; return true; }
    bool SetForeground(const std::string&, const std::string&) { m_Options.foreground = true; return true; }
    bool SetSuffix(const std::string& name, const std::string& value) {
        m_Options.suffix = value;
        return SetOnce(m_SeenSuffix, name);
    }
    bool MountOptions();
    bool SetPasswordFile(const std::string& name, const std::string& value);
    bool SetPasswordEncoding(const std::string& name, const std::string& value);
    bool SetCheckFile(const std::string& name, const std::string& value);
    bool SetOffset(const std::string& name, const std::string& value) {
        return SetCount(name, value, m_Options.has_offset, m_Options.offset);
    }
    bool SetLength(const std::string& name, const std::string& value) {
        return SetCount(name, value, m_Options.has_length, m_Options.length);
    }

    int                 m_Argc;
    const char* const*  m_Argv;
    int                 m_Index = 1;
    Options&            m_Options;
    std::string&        m_Error;
    std::vector<std::string> m_Operands;
    bool m_SeenOutput = false;
    bool m_SeenPasswordFile = false;
    bool m_SeenPasswordEncoding = false;
    bool m_SeenCheckFile = false;
    bool m_SeenJobs = false;
    bool m_SeenNewPasswordFile = false;
    bool m_SeenSuffix = false;
};

const Parser::OptionRule Parser::kOptionRules[] = {
    {"--help",              'h', false, &Parser::ShowHelp},
    {"--version",           'V', false, &Parser::ShowVersion},
    {"--force",             'f', false, &Parser::SetForce},
    {"--follow-symlinks",   0,   false, &Parser::SetFollowSymlinks},
    {"--quiet",             'q', false, &Parser::AddQuiet},
    {"--in-place",          0,   false, &Parser::SetInPlace},
    {"--output",            'o', true,  &Parser::SetOutput},
    {"--password-file",     0,   true,  &Parser::SetPasswordFile},
    {"--password-encoding", 0,   true,  &Parser::SetPasswordEncoding},
    {"--check-file",        0,   true,  &Parser::SetCheckFile},
    {"--no-check-file",     0,   false, &Parser::SetNoCheckFile},
    {"--create",            0,   false, &Parser::SetCreate},
    {"--offset",            0,   true,  &Parser::SetOffset},
    {"--length",            0,   true,  &Parser::SetLength},
    {"--recursive",         'r', false, &Parser::SetRecursive},
    {"--jobs",              'j', true,  &Parser::SetJobs},
    {"--json",              0,   false, &Parser::SetJson},
    {"--resume",            0,   false, &Parser::SetResume},
    {"--salvage",           0,   false, &Parser::SetSalvage},
    {"--new-password-file", 0,   true,  &Parser::SetNewPasswordFile},
    {"--read-write",        0,   false, &Parser::SetReadWrite},
    {"--direct-io",         0,   false, &Parser::SetDirectIo},
    {"--foreground",        0,   false, &Parser::SetForeground},
    {"--suffix",            0,   true,  &Parser::SetSuffix},
};

bool
Parser::TakeValue(const std::string& name, const char* inline_value, std::string& value)
{
    if (inline_value != nullptr) {
        value = inline_value;
        return true;
    }
    if (m_Index + 1 >= m_Argc) return Fail("option '" + name + "' needs a value");
    value = m_Argv[++m_Index];
    return true;
}

bool
Parser::SetOnce(bool& seen, const std::string& name)
{
    if (seen) return Fail("option '" + name + "' given more than once");
    seen = true;
    return true;
}

bool
Parser::SetOutput(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenOutput, name)) return false;
    if (value.empty()) return Fail("option '" + name + "' needs a file name");
    m_Options.output = value;
    m_Options.output_given = true;
    return true;
}

bool
Parser::SetPasswordFile(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenPasswordFile, name)) return false;
    if (value.empty()) return Fail("option '--password-file' needs a file name");
    m_Options.password_file = value;
    return true;
}

bool
Parser::SetPasswordEncoding(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenPasswordEncoding, name)) return false;
    return PasswordEncoding::Find(value, m_Options.password_encoding, m_Error);
}

bool
Parser::SetCheckFile(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenCheckFile, name)) return false;
    if (value.empty()) return Fail("option '--check-file' needs a file name");
    m_Options.check_file = value;
    return true;
}

bool
Parser::SetJobs(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenJobs, name)) return false;
    NPT_UInt64 jobs = 0;
    if (value.find_first_not_of("0123456789") != std::string::npos || !ParseByteCount(value, jobs) ||
        jobs < 1 || jobs > kMaxJobs) {
        return Fail("invalid number " + QuotedName(value) + " for '" + name + "': give 1 to " +
                    std::to_string(kMaxJobs));
    }
    m_Options.jobs = static_cast<unsigned>(jobs);
    return true;
}

bool
Parser::SetNewPasswordFile(const std::string& name, const std::string& value)
{
    if (!SetOnce(m_SeenNewPasswordFile, name)) return false;
    if (value.empty()) return Fail("option '--new-password-file' needs a file name");
    m_Options.new_password_file = value;
    return true;
}

bool
Parser::SetCount(const std::string& name, const std::string& value, bool& has, NPT_UInt64& count)
{
    if (!SetOnce(has, name)) return false;
    if (!ParseByteCount(value, count)) {
        return Fail("invalid byte count " + QuotedName(value) + " for '" + name + "'");
    }
    return true;
}

bool
Parser::LongOption(const std::string& arg)
{
    std::string name = arg;
    const char* inline_value = nullptr;
    std::string::size_type equals = arg.find('=');
    if (equals != std::string::npos) {
        name = arg.substr(0, equals);
        inline_value = m_Argv[m_Index] + equals + 1;
    }
    for (const OptionRule& rule : kOptionRules) {
        if (name != rule.name) continue;
        std::string value;
        if (!rule.takes_value) {
            if (inline_value != nullptr) return Fail("option '" + name + "' takes no value");
        } else if (!TakeValue(name, inline_value, value)) {
            return false;
        }
        return (this->*rule.apply)(name, value);
    }
    // --password, --password=..., --passphrase, --pass ...
    if (name.compare(0, 6, "--pass") == 0) return Fail(kPasswordRefusal);
    return Fail("unknown option " + QuotedName(name));
}

bool
Parser::ShortOptions(const std::string& arg)
{
    for (std::size_t i = 1; i < arg.size(); ++i) {
        const char c = arg[i];
        if (c == 'p') return Fail(kPasswordRefusal);
        const OptionRule* found = nullptr;
        for (const OptionRule& rule : kOptionRules) {
            if (rule.letter == c) found = &rule;
        }
        if (found == nullptr) return Fail("unknown option " + QuotedName(std::string("-") + c));
        const std::string name = std::string("-") + c;
        if (!found->takes_value) {
            if (!(this->*found->apply)(name, std::string())) return false;
            continue;
        }
        // the rest of the word is the value, or else the next word
        std::string value;
        const char* rest = i + 1 < arg.size() ? m_Argv[m_Index] + i + 1 : nullptr;
        return TakeValue(name, rest, value) && (this->*found->apply)(name, value);
    }
    return true;
}

bool
Parser::SetCommand()
{
    if (m_Operands.empty()) return Fail("missing command: " + CommandList());
    const std::string& command = m_Operands[0];
    for (const CommandName& entry : kCommandNames) {
        if (command == entry.name) {
            m_Options.command = entry.command;
            return true;
        }
    }
    return Fail("unknown command " + QuotedName(command) + ": use " + CommandList());
}

bool
Parser::Run()
{
    bool options_done = false;
    for (; m_Index < m_Argc; ++m_Index) {
        std::string arg = m_Argv[m_Index];
        if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
            m_Operands.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            if (!LongOption(arg)) return false;
        } else {
            if (!ShortOptions(arg)) return false;
        }
    }
    // --help and --version win over everything else on the line (the
    // command, when there is one, picks the help shown)
    if (m_Options.action != Options::RUN) {
        if (!m_Operands.empty()) SetCommand();
        m_Error.clear();
        return true;
    }

    if (!SetCommand()) return false;
    if (m_Options.command == Options::MOUNT || m_Options.command == Options::UNMOUNT) return MountOptions();
    if (m_Options.read_write || m_Options.direct_io || m_Options.foreground || m_SeenSuffix) {
        return Fail("--read-write, --direct-io, --foreground and --suffix work with mount only");
    }
    m_Options.inputs.assign(m_Operands.begin() + 1, m_Operands.end());
    for (const std::string& input : m_Options.inputs) {
        if (input.empty()) return Fail("empty input file name");
    }
    if (m_Options.command != Options::REKEY && m_Operands.size() > 2) {
        return Fail("unexpected argument " + QuotedName(m_Operands[2]));
    }
    if (m_Operands.size() >= 2) m_Options.input = m_Operands[1];
    if (!JobOptions()) return false;
    if (m_Options.command != Options::DECRYPT && (m_Options.has_offset || m_Options.has_length)) {
        return Fail("--offset and --length work with decrypt only");
    }
    if (m_Options.password_file == "-" && m_Options.input == "-") {
        return Fail("--password-file - reads standard input, which already carries the data; "
                    "give the data as a file");
    }
    if (m_Options.in_place && m_Options.output == "-") {
        return Fail("--in-place needs an output file (-o FILE)");
    }
    return CheckFileOptions();
}

// The options of jobs of many files (-r, -j, --json, --resume), of
// salvage and of rekey.
bool
Parser::JobOptions()
{
    const Options& o = m_Options;
    if (o.command == Options::REKEY) {
        if (o.inputs.empty()) return Fail("rekey needs the encrypted files' names");
        if (m_SeenOutput || o.has_offset || o.has_length || o.in_place || m_SeenCheckFile || o.no_check_file) {
            return Fail("rekey rewrites each FILE beside its check file: -o, --offset, --length, --in-place "
                        "and the check-file options do not apply");
        }
        if (o.password_file == "-" && o.new_password_file == "-") {
            return Fail("--password-file - and --new-password-file - cannot both read standard input");
        }
        if (o.recursive && o.inputs.size() != 1) return Fail("rekey -r takes one directory");
    } else if (m_SeenNewPasswordFile) {
        return Fail("--new-password-file works with rekey only");
    }
    if (o.salvage && o.command != Options::DECRYPT) return Fail("--salvage works with decrypt only");
    if (o.salvage && o.no_check_file) return Fail("--salvage needs the check file to tell damaged blocks");
    if (!o.recursive) {
        if (m_SeenJobs || o.resume) return Fail("-j and --resume work with -r (a directory tree)");
        if (o.json && o.command != Options::CHECK && o.command != Options::REKEY && o.output == "-") {
            return Fail("--json writes to standard output, which carries the data: give -o FILE");
        }
        return true;
    }
    if (o.input == "-") return Fail("-r needs a directory");
    if (o.has_offset || o.has_length || o.in_place || m_SeenCheckFile || o.follow_symlinks) {
        return Fail("-r does not work with --offset, --length, --in-place, --check-file or --follow-symlinks");
    }
    const bool writes = o.command == Options::ENCRYPT || o.command == Options::DECRYPT;
    if (writes && !m_SeenOutput) return Fail("-r needs the destination directory (-o DIR)");
    if (o.resume && !writes) return Fail("--resume works with encrypt -r and decrypt -r");
    if (o.command == Options::CHECK && o.create_check) return Fail("check --create works on one file at a time");
    return true;
}

// mount SOURCE MOUNTPOINT and unmount MOUNTPOINT: -f is --foreground
// and -o takes mount options there, as other FUSE file systems have it.
bool
Parser::MountOptions()
{
    const bool mount = m_Options.command == Options::MOUNT;
    const std::size_t operands = mount ? 3 : 2;
    if (m_Operands.size() < operands) {
        return Fail(mount ? "mount needs SOURCE and MOUNTPOINT" : "unmount needs MOUNTPOINT");
    }
    if (m_Operands.size() > operands) return Fail("unexpected argument " + QuotedName(m_Operands[operands]));
    for (std::size_t i = 1; i < operands; ++i) {
        if (m_Operands[i].empty()) return Fail("empty file name");
    }
    if (mount) m_Options.input = m_Operands[1];  // unmount keeps the default
    m_Options.mountpoint = m_Operands[operands - 1];
    if (m_Options.force) m_Options.foreground = true;
    m_Options.force = false;
    if (m_SeenOutput) {
        if (m_Options.output != "allow_other") {
            return Fail("unknown mount option " + QuotedName(m_Options.output) + ": -o takes allow_other");
        }
        m_Options.allow_other = true;
        m_Options.output = "-";
    }
    if (m_Options.suffix.find('/') != std::string::npos) return Fail("--suffix cannot hold '/'");
    if (m_SeenCheckFile || m_Options.no_check_file || m_Options.in_place || m_Options.has_offset ||
        m_Options.has_length || m_Options.create_check || m_Options.follow_symlinks || m_Options.recursive ||
        m_SeenJobs || m_Options.json || m_Options.resume || m_Options.salvage || m_SeenNewPasswordFile) {
        return Fail(std::string(mount ? "mount" : "unmount") + " takes none of the options of single files");
    }
    if (!mount && (m_Options.read_write || m_Options.direct_io || m_Options.allow_other || m_SeenSuffix ||
                   m_Options.foreground || !m_Options.password_file.empty())) {
        return Fail("unmount takes no options");
    }
    return true;
}

// The options about check files, and the check command's operands.
bool
Parser::CheckFileOptions()
{
    if (m_Options.no_check_file && m_SeenCheckFile) {
        return Fail("--check-file and --no-check-file exclude each other");
    }
    if (m_Options.create_check && m_Options.command != Options::CHECK) {
        return Fail("--create works with check only");
    }
    if (m_Options.command != Options::CHECK) return true;
    if (m_Operands.size() < 2 || m_Options.input == "-") {
        return Fail("check needs the encrypted file's name");
    }
    if (m_Options.no_check_file) return Fail("check cannot work with --no-check-file");
    if (m_SeenOutput) return Fail("check writes no output: -o does not apply");
    return true;
}

}  // namespace

bool
ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    options = Options();
    error.clear();
    Parser parser(argc, argv, options, error);
    return parser.Run();
}

}  // namespace tvkcrypt
