/*****************************************************************
| TreeJob.cpp - jobs over directory trees: the walk, the workers, the
| summary and the --json lines.
****************************************************************/
#include "TreeJob.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "CheckFileIo.h"
#include "Commands.h"
#include "JobKeys.h"
#include "Options.h"
#include "Password.h"
#include "Progress.h"
#include "QuotedName.h"
#include "Resume.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "TreeDirectory.h"

namespace tvkcrypt {

static_assert(kMaxJobs <= static_cast<unsigned>(kMaxWorkerThreads), "the handlers keep room for every worker");

static const char kSuffix[] = ".tvk";
static const std::size_t kSuffixSize = sizeof(kSuffix) - 1;

static bool
EndsWith(const std::string& name, const std::string& end)
{
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

std::string
MirroredName(TreeAction action, const std::string& name, std::string& why)
{
    why.clear();
    if (action == TreeAction::ENCRYPT) return name + kSuffix;
    if (EndsWith(name, CheckFileNameFor(""))) return std::string();  // a check file: read with its data
    if (action != TreeAction::DECRYPT) return name;
    if (!EndsWith(name, kSuffix) || name.size() == kSuffixSize) {
        why = "its name does not end in .tvk";
        return std::string();
    }
    return name.substr(0, name.size() - kSuffixSize);
}

namespace {

/*----------------------------------------------------------------------
|   TreeRun
+---------------------------------------------------------------------*/
struct Task {
    std::shared_ptr<TreeDirectory> in, out;  // out: null for check and rekey
    std::string in_name, out_name;
    NPT_UInt64  size = 0;  // as listed
};

// The workers' bytes, into the job's one progress line.
class SharedProgress : public TransformProgress
{
public:
    SharedProgress(Progress*& line, std::mutex& lock) : m_Line(line), m_Lock(lock) {}
    void Advance(NPT_UInt64 bytes) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Line != nullptr) m_Line->Advance(bytes);
    }

private:
    Progress*&  m_Line;
    std::mutex& m_Lock;
};

class TreeRun
{
public:
    TreeRun(const Options& options, const EnvironmentPassword& environment)
        : m_Options(options), m_Environment(environment), m_Action(ActionOf(options)),
          m_CountSizes(NoticesOnTerminal(options)), m_Shared(m_Line, m_ReportLock) {}
    ~TreeRun() { SetJobStatusLine(nullptr, nullptr); }

    int Run();

private:
    static TreeAction ActionOf(const Options& options);
    int  OpenRoots();
    int  Count(const TreeDirectory& directory);
    int  ObtainPassword();
    void Walk(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out);
    void Take(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out,
              const TreeEntry& entry);
    void Descend(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out,
                 const std::string& name);
    void Push(Task task);
    bool TakeBatch(std::vector<Task>& batch);
    void Skip(const std::string& path, const std::string& why);
    void Work();
    void RunTask(const Task& task, FileReport& report, Key* key);
    // Counts report (count false: only the progress line's words).
    void Record(const FileReport& report, bool count = true);
    void WaitForWorkers();
    int  Finish();

    const Options&             m_Options;
    const EnvironmentPassword& m_Environment;
    const TreeAction           m_Action;
    JobKeys                    m_Keys;
    JobKeys                    m_NewKeys;  // rekey
    std::shared_ptr<TreeDirectory> m_InRoot, m_OutRoot;
    FileInfo                   m_Forbidden;  // the destination, or the directory it is to be made in
    // the sizes are counted only for a progress line a person may see
    const bool                 m_CountSizes;
    unsigned                   m_TotalFiles = 0;
    NPT_UInt64                 m_TotalBytes = 0;

    // the queue between the walk and the workers, who take files from
    // it in small batches; each side is woken only when the other has
    // made a difference to it: work where there was none, room where the
    // queue was full
    std::mutex              m_QueueLock;
    std::condition_variable m_WorkReady;
    std::condition_variable m_RoomFree;
    std::deque<Task>        m_Queue;
    bool                    m_WalkDone = false;
    bool                    m_WalkerWaits = false;
    unsigned                m_Workers = 1;
    std::atomic<unsigned>   m_Running{0};

    // under m_ReportLock: the progress line, the tally, the --json lines
    std::mutex              m_ReportLock;
    Progress*               m_Line = nullptr;
    std::unique_ptr<Progress> m_Progress;
    SharedProgress          m_Shared;
    JobTally                m_Tally;
    unsigned                m_FilesDone = 0;
};

TreeAction
TreeRun::ActionOf(const Options& options)
{
    switch (options.command) {
        case Options::ENCRYPT: return TreeAction::ENCRYPT;
        case Options::DECRYPT: return TreeAction::DECRYPT;
        case Options::REKEY: return TreeAction::REKEY;
        default: return TreeAction::CHECK;
    }
}

// The source, and the destination (made when missing, as cp -r makes
// it), which may not lie inside the source.
int
TreeRun::OpenRoots()
{
    const std::string& source = m_Options.input;
    m_InRoot = std::make_shared<TreeDirectory>();
    if (SysError error = m_InRoot->OpenRoot(source)) {
        return Failure("cannot open the directory " + QuotedName(source) + ": " + ErrorText(error));
    }
    if (m_Action != TreeAction::ENCRYPT && m_Action != TreeAction::DECRYPT) return 0;
    const std::string& destination = m_Options.output;
    TreeDirectory existing;
    if (existing.OpenRoot(destination) == 0) {
        m_Forbidden = existing.Info();
    } else {
        const std::string parent = DirectoryPartOf(destination);
        if (SysError error = existing.OpenRoot(parent.empty() ? "." : parent)) {
            return Failure("cannot make the directory " + QuotedName(destination) + ": the directory " +
                           QuotedName(parent) + " " + (error == ENOENT ? "does not exist" : ErrorText(error)));
        }
        m_Forbidden = existing.Info();
    }
    if (int status = Count(*m_InRoot)) return status;
    m_OutRoot = std::make_shared<TreeDirectory>();
    if (SysError error = m_OutRoot->MakeRoot(destination, 0700)) {
        return Failure("cannot make the directory " + QuotedName(destination) + ": " + ErrorText(error));
    }
    return 0;
}

// The first walk: files and bytes for the progress line, and no
// destination inside the source.
int
TreeRun::Count(const TreeDirectory& directory)
{
    if (m_Forbidden.identified && directory.Info().SameFileAs(m_Forbidden) && m_OutRoot == nullptr &&
        (m_Action == TreeAction::ENCRYPT || m_Action == TreeAction::DECRYPT)) {
        return Failure("the destination " + QuotedName(m_Options.output) + " is inside the source " +
                       QuotedName(m_Options.input) + "; choose a directory outside it");
    }
    std::vector<TreeEntry> entries;
    if (directory.List(entries, m_CountSizes) != 0) return 0;  // reported by the second walk
    for (const TreeEntry& entry : entries) {
        if (entry.kind == TreeEntry::REGULAR) {
            ++m_TotalFiles;
            m_TotalBytes += entry.size;
        } else if (entry.kind == TreeEntry::DIRECTORY) {
            TreeDirectory child;
            if (directory.OpenChild(entry.name, child) != 0) continue;
            if (int status = Count(child)) return status;
        }
    }
    return 0;
}

int
TreeRun::ObtainPassword()
{
    const bool writes_check = m_Action == TreeAction::ENCRYPT;
    const std::string prompt = "Password for the files in " + QuotedName(m_Options.input) + ": ";
    if (int status = m_Keys.Obtain(m_Options, m_Environment, writes_check, writes_check, prompt)) return status;
    return 0;
}

void
TreeRun::Skip(const std::string& path, const std::string& why)
{
    FileReport report;
    report.result = FileReport::SKIPPED;
    report.path = path;
    report.message = why;
    if (!m_Options.quiet) WriteMessage("tvkcrypt: note: skipped " + QuotedName(path) + ": " + why + "\n");
    Record(report);
}

// The second walk: mirrored directories made, files handed out.
void
TreeRun::Walk(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out)
{
    std::vector<TreeEntry> entries;
    if (SysError error = in->List(entries)) {
        FileReport report;
        report.path = in->Path();
        ReportTo(&report);
        Failure("cannot list the directory " + QuotedName(in->Path()) + ": " + ErrorText(error));
        ReportTo(nullptr);
        Record(report);
    }
    unsigned taken = 0;
    for (const TreeEntry& entry : entries) {
        // a look for a signal every few entries: quick enough for Ctrl-C
        if (++taken % 16 == 0) {
            if (int signal_number = WaitForTerminatingSignal(0)) EndBySignal(signal_number);
        }
        Take(in, out, entry);
    }
}

void
TreeRun::Take(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out,
              const TreeEntry& entry)
{
    const std::string path = in->PathOf(entry.name);
    switch (entry.kind) {
        case TreeEntry::LINK:
            return Skip(path, "a symbolic link, not followed");
        case TreeEntry::OTHER:
            return Skip(path, "not a regular file or a directory");
        case TreeEntry::DIRECTORY:
            return Descend(in, out, entry.name);
        case TreeEntry::REGULAR:
            break;
    }
    std::string why;
    const std::string out_name = MirroredName(m_Action, entry.name, why);
    if (out_name.empty()) {
        if (!why.empty()) Skip(path, why);
        return;
    }
    TreeEntry check;
    bool found = false;
    if (m_Action == TreeAction::CHECK && (in->Look(CheckFileNameFor(entry.name), check, found) != 0 || !found)) {
        // only what has a check file can be checked; other files are
        // not taken for encrypted ones unless named so
        if (EndsWith(entry.name, kSuffix)) Skip(path, "no check file ('tvkcrypt check --create' makes one)");
        return;
    }
    Push(Task{in, m_Action == TreeAction::REKEY ? in : out, entry.name, out_name, entry.size});
}

void
TreeRun::Descend(const std::shared_ptr<TreeDirectory>& in, const std::shared_ptr<TreeDirectory>& out,
                 const std::string& name)
{
    auto child_in = std::make_shared<TreeDirectory>();
    std::shared_ptr<TreeDirectory> child_out;
    FileReport report;
    report.path = in->PathOf(name);
    ReportTo(&report);
    if (SysError error = in->OpenChild(name, *child_in)) {
        Failure("cannot open the directory " + QuotedName(report.path) + ": " + ErrorText(error));
    } else if (out != nullptr) {
        child_out = std::make_shared<TreeDirectory>();
        if (SysError error = out->MakeChild(name, (child_in->Info().mode & 0777) | 0700, *child_out)) {
            Failure("cannot make the directory " + QuotedName(out->PathOf(name)) + ": " + ErrorText(error));
        }
    }
    ReportTo(nullptr);
    if (report.result != FileReport::OK) return Record(report);
    Walk(child_in, child_out);
}

static const std::size_t kQueueLimit = 64;  // each queued file holds its directories open
static const std::size_t kBatchLimit = 8;
static const NPT_UInt64  kBatchBytes = NPT_UInt64(1) << 20;  // large files go one at a time

// Hands a file to the workers, waiting while they have enough ahead.
void
TreeRun::Push(Task task)
{
    std::unique_lock<std::mutex> lock(m_QueueLock);
    while (m_Queue.size() >= kQueueLimit) {
        m_WalkerWaits = true;
        m_RoomFree.wait_for(lock, std::chrono::milliseconds(100));
        m_WalkerWaits = false;
        if (int signal_number = WaitForTerminatingSignal(0)) EndBySignal(signal_number);
    }
    const bool was_empty = m_Queue.empty();
    m_Queue.push_back(std::move(task));
    if (was_empty) m_WorkReady.notify_all();
}

// The next files of a worker: a few small ones at a time, leaving the
// others their share of what is queued. false once the walk is done and
// nothing is left.
bool
TreeRun::TakeBatch(std::vector<Task>& batch)
{
    batch.clear();
    std::unique_lock<std::mutex> lock(m_QueueLock);
    m_WorkReady.wait(lock, [&] { return !m_Queue.empty() || m_WalkDone; });
    if (m_Queue.empty()) return false;
    std::size_t count = m_Queue.size() / m_Workers;
    if (count > kBatchLimit) count = kBatchLimit;
    if (count < 1) count = 1;
    NPT_UInt64 bytes = 0;
    while (batch.size() < count && (batch.empty() || bytes + m_Queue.front().size <= kBatchBytes)) {
        bytes += m_Queue.front().size;
        batch.push_back(std::move(m_Queue.front()));
        m_Queue.pop_front();
    }
    if (m_WalkerWaits && m_Queue.size() <= kQueueLimit / 2) m_RoomFree.notify_one();
    return true;
}

void
TreeRun::Work()
{
    // the key memory of this worker's files: locked once, wiped after each
    std::unique_ptr<Key> key;
    try {
        key.reset(new Key);
    } catch (const std::bad_alloc&) {
        // each file then asks for its own, and reports when it cannot
    }
    std::vector<Task> batch;
    while (TakeBatch(batch)) {
        for (const Task& task : batch) {
            FileReport report;
            RunTask(task, report, key.get());
            Record(report);
        }
    }
    --m_Running;
}

void
TreeRun::RunTask(const Task& task, FileReport& report, Key* key)
{
    Options options = m_Options;
    options.recursive = false;
    options.json = false;
    options.input = task.in->PathOf(task.in_name);
    options.output = task.out != nullptr ? task.out->PathOf(task.out_name) : std::string("-");
    options.output_given = task.out != nullptr;
    FileContext context;
    context.keys = &m_Keys;
    context.new_keys = &m_NewKeys;
    context.key = key;
    context.progress = &m_Shared;
    context.input_directory = task.in.get();
    context.input_name = task.in_name;
    context.output_directory = task.out.get();
    context.output_name = task.out_name;
    report.path = options.input;
    ReportTo(&report);
    if (m_Options.resume && Resumable(m_Action == TreeAction::ENCRYPT, context, m_Keys)) {
        report.result = FileReport::RESUMED;
    } else {
        // a run that was cut off left no output, or one that does not verify
        options.force = m_Options.force || m_Options.resume;
        int status = 0;
        switch (m_Action) {
            case TreeAction::ENCRYPT:
            case TreeAction::DECRYPT: status = RunCryptFile(options, m_Environment, context); break;
            case TreeAction::CHECK: status = RunCheckFile(options, m_Environment, context); break;
            case TreeAction::REKEY: status = RunRekeyFile(options, m_Environment, context); break;
        }
        if (status != 0 && status != kExitSalvaged && report.result == FileReport::OK) report.result = FileReport::FAILED;
    }
    ReportTo(nullptr);
}

void
TreeRun::Record(const FileReport& report, bool count)
{
    std::lock_guard<std::mutex> lock(m_ReportLock);
    if (count) {
        m_Tally.Add(report);
        if (report.result != FileReport::SKIPPED) ++m_FilesDone;
    }
    if (m_Progress) {
        static const char* const kVerbs[] = {"encrypting", "decrypting", "checking", "rekeying"};
        m_Progress->SetVerb(std::string(kVerbs[static_cast<int>(m_Action)]) + " " + std::to_string(m_FilesDone) +
                            "/" + std::to_string(m_TotalFiles) + " files");
    }
    if (m_Options.json && count) WriteJsonLine(report);
}

// Waits for the workers, taking the signals meanwhile.
void
TreeRun::WaitForWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_QueueLock);
        m_WalkDone = true;
    }
    m_WorkReady.notify_all();
    while (m_Running.load() > 0) {
        if (int signal_number = WaitForTerminatingSignal(50)) EndBySignal(signal_number);
    }
}

int
TreeRun::Run()
{
    if (int status = OpenRoots()) return status;
    if (m_Action == TreeAction::CHECK || m_Action == TreeAction::REKEY) {
        if (int status = Count(*m_InRoot)) return status;
    }
    if (m_Action != TreeAction::REKEY) {
        if (int status = ObtainPassword()) return status;
    } else if (int status = ObtainRekeyPasswords(m_Options, m_Environment, m_Keys, m_NewKeys,
                                                 "the files in " + QuotedName(m_Options.input))) {
        return status;
    }
    // a bar for much data, or for many files, on a terminal
    const bool many = m_TotalFiles > 100 && NoticesOnTerminal(m_Options);
    m_Progress.reset(new Progress("", ShownFor(m_Options, many || BarWanted(true, m_TotalBytes)), true,
                                  m_TotalBytes, false));
    m_Line = m_Progress.get();
    Record(FileReport(), false);
    SetJobStatusLine(m_Line, &m_ReportLock);
    WatchTerminatingSignals();
    unsigned workers = m_Options.jobs != 0 ? m_Options.jobs : ProcessorCount();
    if (workers > kMaxJobs) workers = kMaxJobs;
    std::vector<std::thread> threads;
    m_Workers = workers;
    m_Running = workers;
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back([this] { Work(); });
    Walk(m_InRoot, m_OutRoot);
    WaitForWorkers();
    for (std::thread& thread : threads) thread.join();
    return Finish();
}

int
TreeRun::Finish()
{
    std::lock_guard<std::mutex> lock(m_ReportLock);
    m_Progress->Finish();
    const int status = m_Tally.ExitStatus();
    if (!m_Options.quiet || status != kExitSuccess) {
        const unsigned files = m_FilesDone;
        WriteToStandardError("tvkcrypt: " + std::to_string(files) + (files == 1 ? " file: " : " files: ") +
                             m_Tally.Text() + "\n");
    }
    return status;
}

}  // namespace

int
RunTree(const Options& options, const EnvironmentPassword& environment_password)
{
    TreeRun run(options, environment_password);
    return run.Run();
}

}  // namespace tvkcrypt
