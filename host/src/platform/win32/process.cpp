// Commands on Windows. A program is started with CreateProcessW and a command line built so that
// the C runtime reads back each argument intact; a batch script through the system's cmd.exe
// (never one found in PATH) with /d (no AutoRun commands), /e:on, /v:off (no !NAME! expansion)
// and /s /c "...", its arguments quoted for cmd (command_line.cpp). The command starts
// suspended and is put in a Job object that kills whatever is left in it when its handle
// closes; whatever the command starts joins the job, so a stop request ends them all with
// TerminateJobObject. It inherits the null device as stdin and the write ends of two pipes as
// stdout and stderr, and nothing else: PROC_THREAD_ATTRIBUTE_HANDLE_LIST names these three, so
// an inheritable handle that another thread made meanwhile stays here. The pipes are named
// pipes read with overlapped I/O, so that one thread waits on both.

#include "host/platform/process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/platform/environment.h"
#include "host/platform/wide_text.h"
#include "platform/win32/command_line.h"
#include "platform/win32/handle.h"

namespace zaf::platform {

namespace {

// The exit status that a stop request gives the command and what it started: the one of a
// console program ended by Ctrl+C.
constexpr UINT kStoppedStatus = 0xC000013A;

// cmd.exe reads at most this many characters of a command line.
constexpr std::size_t kLongestScriptLine = 8191;
// CreateProcessW takes at most this many characters, the final NUL included.
constexpr std::size_t kLongestCommandLine = 32767;

// The job of the command that runs (null: none), and whether a stop was asked for.
std::mutex runningMutex;
HANDLE runningJob = nullptr;
bool runningJobStopped = false;
std::atomic<bool> stopRequested{false};

std::string Reason(DWORD error) {
  return SystemErrorText(error);
}

CommandResult NotStarted(std::string reason) {
  CommandResult result;
  result.reason = std::move(reason);
  return result;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring FullPathOf(const std::wstring& path) {
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full.resize(length < full.size() ? length : 0);
  return full.empty() ? path : full;
}

// The file `name` (with one of the extensions Windows starts when it has none), as a full
// path; empty when there is none.
std::wstring ExistingProgram(const std::wstring& name) {
  const std::size_t base = name.find_last_of(L"\\/:");
  const bool hasExtension = name.find(L'.', base == std::wstring::npos ? 0 : base) != name.npos;
  if (hasExtension) {
    return IsFile(name) ? FullPathOf(name) : std::wstring();
  }
  for (const wchar_t* extension : {L".com", L".exe", L".bat", L".cmd"}) {
    if (IsFile(name + extension)) {
      return FullPathOf(name + extension);
    }
  }
  return {};
}

// The program argv[0] names: a name with a folder (or a drive) as it is, a bare name in the
// folders of PATH only (CreateProcessW would look in the current folder and the program's
// own first).
std::wstring FindProgram(const std::string& program) {
  const std::wstring name = WideFromUtf8(program);
  if (name.find_first_of(L"\\/:") != std::wstring::npos) {
    return ExistingProgram(name);
  }
  const char* path = EnvironmentValue("PATH");
  const std::wstring folders = WideFromUtf8(path != nullptr ? path : "");
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(L';', start), folders.size());
    std::wstring folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
      folder = folder.substr(1, folder.size() - 2);
    }
    if (folder.empty()) {
      continue;
    }
    const bool separated = folder.back() == L'\\' || folder.back() == L'/';
    if (std::wstring found = ExistingProgram(folder + (separated ? L"" : L"\\") + name);
        !found.empty()) {
      return found;
    }
  }
  return {};
}

std::wstring CommandInterpreter() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\cmd.exe";
}

// What CreateProcessW is to run: the program and its command line.
struct Launch {
  std::wstring application;
  std::wstring commandLine;
};

// A batch script through cmd.exe; `script` is its full path. Refuses what cmd would not pass
// on intact (WhyNotPassableToScript) and a line longer than cmd reads.
std::optional<std::string> PrepareScript(const std::vector<std::string>& argv,
                                         const std::string& script, Launch& launch) {
  if (const std::optional<std::string> why = WhyNotPassableToScript(script)) {
    return "the script's path cannot be given to cmd.exe: " + *why;
  }
  std::string line = "\"" + script + "\"";
  for (std::size_t index = 1; index < argv.size(); ++index) {
    if (const std::optional<std::string> why = WhyNotPassableToScript(argv[index])) {
      return "argument " + std::to_string(index) + " cannot be given to a batch script: " + *why;
    }
    line += ' ';
    AppendScriptWord(line, argv[index]);
  }
  const std::wstring wideLine = WideFromUtf8(line);
  if (wideLine.size() > kLongestScriptLine) {
    return "the script's command line is longer than the " + std::to_string(kLongestScriptLine) +
           " characters cmd.exe reads";
  }
  launch.application = CommandInterpreter();
  launch.commandLine =
      L"\"" + launch.application + L"\" /d /e:on /v:off /s /c \"" + wideLine + L"\"";
  return std::nullopt;
}

void PrepareProgram(const std::vector<std::string>& argv, const std::wstring& program,
                    Launch& launch) {
  std::string line;
  AppendProgramName(line, argv[0]);
  for (std::size_t index = 1; index < argv.size(); ++index) {
    line += ' ';
    AppendProgramArgument(line, argv[index]);
  }
  launch.application = program;
  launch.commandLine = WideFromUtf8(line);
}

// A pipe for one output stream: the read end here, overlapped; the write end inheritable, for
// the command. A named pipe, since anonymous pipes cannot be read overlapped; the name is this
// process's with a random part, and FILE_FLAG_FIRST_PIPE_INSTANCE fails rather than join a
// pipe that another process made under that name first.
bool OpenOutputPipe(Handle& readEnd, Handle& writeEnd) {
  static std::atomic<unsigned> serial{0};
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const std::wstring name = L"\\\\.\\pipe\\zafhost-" + std::to_wstring(::GetCurrentProcessId()) +
                            L"-" + std::to_wstring(serial++) + L"-" + std::to_wstring(random());
  readEnd = Handle(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
      nullptr));
  if (!readEnd.Valid()) {
    return false;
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  writeEnd = Handle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return writeEnd.Valid();
}

// One output stream of the command, read overlapped and handed to the receiver as it comes.
class Relay {
 public:
  Relay(Handle pipe, OutputStream stream, const OutputReceiver& receive)
      : pipe_(std::move(pipe)),
        event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        stream_(stream),
        receive_(receive) {}
  ~Relay() {
    // A read still under way writes into this object: it must end first.
    if (reading_) {
      ::CancelIoEx(pipe_.Get(), &overlapped_);
      DWORD count = 0;
      ::GetOverlappedResult(pipe_.Get(), &overlapped_, &count, TRUE);
    }
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  bool IsOpen() const { return open_; }
  HANDLE Event() const { return event_.Get(); }

  // Starts the next read; at the end of the stream (or on an error) says so instead.
  void StartReading() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.Get();
    if (::ReadFile(pipe_.Get(), buffer_, sizeof buffer_, nullptr, &overlapped_) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      reading_ = true;
    } else {
      End();
    }
  }

  // Hands over what the read gave, once its event is set, and starts the next one.
  void Finish() {
    DWORD count = 0;
    const bool read = ::GetOverlappedResult(pipe_.Get(), &overlapped_, &count, FALSE);
    reading_ = false;
    if (!read) {
      End();
      return;
    }
    if (count > 0 && receive_) {
      receive_(stream_, std::string_view(buffer_, count), false);
    }
    StartReading();
  }

 private:
  void End() {
    open_ = false;
    pipe_.Reset();
    if (receive_) {
      receive_(stream_, {}, true);
    }
  }

  Handle pipe_;
  Handle event_;
  OutputStream stream_;
  const OutputReceiver& receive_;
  OVERLAPPED overlapped_{};
  char buffer_[4096];
  bool open_ = true;
  bool reading_ = false;
};

// Passes both streams on until the command and what it started have closed them.
void RelayUntilClosed(Relay& out, Relay& err) {
  out.StartReading();
  err.StartReading();
  while (out.IsOpen() || err.IsOpen()) {
    Relay* open[2];
    HANDLE events[2];
    DWORD count = 0;
    for (Relay* relay : {&out, &err}) {
      if (relay->IsOpen()) {
        open[count] = relay;
        events[count++] = relay->Event();
      }
    }
    const DWORD ready = ::WaitForMultipleObjects(count, events, FALSE, INFINITE);
    if (ready >= WAIT_OBJECT_0 + count) {
      return;
    }
    open[ready - WAIT_OBJECT_0]->Finish();
  }
}

// An attribute list naming the only handles the command inherits.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
      list_ = nullptr;
      return;
    }
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritedHandles() {
    if (list_ != nullptr) {
      ::DeleteProcThreadAttributeList(list_);
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job that kills what is left in it when its last handle closes.
Handle MakeJob() {
  Handle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.Valid() && !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                                                &limits, sizeof limits)) {
    job.Reset();
  }
  return job;
}

// Makes a job the one that a stop request terminates while it lives; terminates it at once
// when a stop was asked for already.
class WatchedJob {
 public:
  explicit WatchedJob(HANDLE job) {
    const std::lock_guard<std::mutex> lock(runningMutex);
    runningJob = job;
    runningJobStopped = false;
    if (stopRequested.load() && ::TerminateJobObject(job, kStoppedStatus)) {
      runningJobStopped = true;
    }
  }
  ~WatchedJob() { Forget(); }
  WatchedJob(const WatchedJob&) = delete;
  WatchedJob& operator=(const WatchedJob&) = delete;

  // Stops watching; true when a stop request terminated the job.
  bool Forget() {
    const std::lock_guard<std::mutex> lock(runningMutex);
    runningJob = nullptr;
    return std::exchange(runningJobStopped, false);
  }
};

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const OutputReceiver& receive) {
  if (argv.empty()) {
    return NotStarted("nothing to run");
  }
  for (std::size_t index = 0; index < argv.size(); ++index) {
    if (argv[index].find('\0') != std::string::npos) {
      return NotStarted("argument " + std::to_string(index) +
                        " holds a NUL character, which would end it early");
    }
  }
  const std::wstring program = FindProgram(argv[0]);
  if (program.empty()) {
    return NotStarted(Reason(ERROR_FILE_NOT_FOUND));
  }
  Launch launch;
  if (IsBatchScript(Utf8FromWide(program))) {
    if (const std::optional<std::string> refused =
            PrepareScript(argv, Utf8FromWide(program), launch)) {
      return NotStarted(*refused);
    }
  } else {
    PrepareProgram(argv, program, launch);
  }
  if (launch.commandLine.size() >= kLongestCommandLine) {
    return NotStarted("the command line is longer than the " +
                      std::to_string(kLongestCommandLine - 1) + " characters Windows takes");
  }

  Handle outRead;
  Handle outWrite;
  Handle errRead;
  Handle errWrite;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  Handle nothing(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!nothing.Valid() || !OpenOutputPipe(outRead, outWrite) ||
      !OpenOutputPipe(errRead, errWrite)) {
    return NotStarted(Reason(::GetLastError()));
  }
  const Handle job = MakeJob();
  if (!job.Valid()) {
    return NotStarted("cannot make a job for the command: " + Reason(::GetLastError()));
  }
  const InheritedHandles inherited({nothing.Get(), outWrite.Get(), errWrite.Get()});
  if (inherited.List() == nullptr) {
    return NotStarted(Reason(::GetLastError()));
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nothing.Get();
  startup.StartupInfo.hStdOutput = outWrite.Get();
  startup.StartupInfo.hStdError = errWrite.Get();
  startup.lpAttributeList = inherited.List();
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job, so that nothing it starts escapes the job. A console of
  // its own (without a window): the operator's Ctrl+C reaches this process, which decides.
  if (!::CreateProcessW(launch.application.c_str(), launch.commandLine.data(), nullptr, nullptr,
                        TRUE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW |
                            EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, nullptr, &startup.StartupInfo, &started)) {
    return NotStarted(Reason(::GetLastError()));
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  if (!::AssignProcessToJobObject(job.Get(), process.Get())) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process.Get(), kStoppedStatus);
    return NotStarted("cannot put the command in a job: " + Reason(error));
  }
  WatchedJob watched(job.Get());
  ::ResumeThread(thread.Get());
  // Only the command keeps the write ends, so the relays see the end of its output.
  outWrite.Reset();
  errWrite.Reset();
  nothing.Reset();

  Relay outRelay(std::move(outRead), OutputStream::kOut, receive);
  Relay errRelay(std::move(errRead), OutputStream::kErr, receive);
  RelayUntilClosed(outRelay, errRelay);
  ::WaitForSingleObject(process.Get(), INFINITE);
  const bool stopped = watched.Forget();
  DWORD status = 0;
  ::GetExitCodeProcess(process.Get(), &status);
  CommandResult result;
  if (stopped && status == kStoppedStatus) {
    result.ending = CommandResult::Ending::kTerminated;
  } else {
    result.ending = CommandResult::Ending::kExited;
    result.status = static_cast<int>(status);
  }
  return result;
}

// Not a signal handler on Windows: a console control handler runs on a thread of its own, so
// the lock is safe here.
void RequestCommandStop(int /*signal*/) {
  stopRequested.store(true);
  const std::lock_guard<std::mutex> lock(runningMutex);
  if (runningJob != nullptr && ::TerminateJobObject(runningJob, kStoppedStatus)) {
    runningJobStopped = true;
  }
}

void ClearCommandStop() {
  stopRequested.store(false);
}

const char* CommandStopNotice(int count) {
  return count <= 1 ? "the running command and all it started were ended; waiting for them to go"
                    : "ending the running command again";
}

bool CanStartProgram(const std::string& program) {
  return !FindProgram(program).empty();
}

std::string SignalName(int signal) {
  struct Named {
    int number;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {SIGINT, "SIGINT"},   {SIGILL, "SIGILL"},     {SIGFPE, "SIGFPE"},   {SIGSEGV, "SIGSEGV"},
      {SIGTERM, "SIGTERM"}, {SIGBREAK, "SIGBREAK"}, {SIGABRT, "SIGABRT"},
  };
  for (const Named& named : kNames) {
    if (named.number == signal) {
      return named.name;
    }
  }
  return "signal " + std::to_string(signal);
}

}  // namespace zaf::platform
