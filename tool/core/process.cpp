#include "core/process.h"

#include <csignal>
#include <iostream>
#include <string_view>

#include "host/platform/process.h"

namespace wassetup {

namespace {

// One output stream of the command, passed on to one of ours a line at a time.
class LineRelay {
 public:
  LineRelay(std::ostream& out, const LineFilter& filter, const OutputScrub& scrub)
      : out_(out), filter_(filter), scrub_(scrub) {}

  const std::string& LastLine() const { return lastLine_; }

  // Takes what the command wrote; at its end passes on the unfinished line.
  void Take(std::string_view bytes, bool atEnd) {
    raw_.append(bytes);
    pending_ += Scrub(atEnd);
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      Pass(pending_.substr(0, end), "\n");
      pending_.erase(0, end + 1);
    }
    if (atEnd && !pending_.empty()) {
      Pass(pending_, "");
      pending_.clear();
    }
  }

 private:
  // What of the raw output can be shown now.
  std::string Scrub(bool atEnd) {
    if (!scrub_) {
      std::string all;
      all.swap(raw_);
      return all;
    }
    return scrub_(raw_, atEnd);
  }

  void Pass(const std::string& line, const char* ending) {
    const std::string shown = filter_ ? filter_(line) : line;
    out_ << shown << ending << std::flush;
    if (shown.find_first_not_of(" \t\r") != std::string::npos) {
      lastLine_ = shown;
    }
  }

  std::ostream& out_;
  const LineFilter& filter_;
  const OutputScrub& scrub_;
  std::string raw_;      // read, not scrubbed yet
  std::string pending_;  // scrubbed, not a whole line yet
  std::string lastLine_;
};

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter,
                         std::ostream& out, std::ostream& err, const OutputScrub& scrub) {
  LineRelay outRelay(out, filter, scrub);
  LineRelay errRelay(err, filter, scrub);
  // What the tool printed comes before what the command prints.
  out.flush();
  err.flush();
  std::cout.flush();
  std::cerr.flush();
  const zaf::platform::CommandResult ran = zaf::platform::RunCommand(
      argv, [&](zaf::platform::OutputStream stream, std::string_view bytes, bool ended) {
        (stream == zaf::platform::OutputStream::kOut ? outRelay : errRelay).Take(bytes, ended);
      });
  ProcessResult result;
  using Ending = zaf::platform::CommandResult::Ending;
  switch (ran.ending) {
    case Ending::kNotStarted:
      result.startError = ran.reason;
      return result;
    case Ending::kExited:
      result.exitStatus = ran.status;
      break;
    case Ending::kSignalled:
      result.endingSignal = ran.signal;
      result.exitStatus = 128 + ran.signal;
      result.interrupted = ran.signal == SIGINT || ran.signal == SIGTERM;
      break;
    case Ending::kTerminated:
      // Windows: the job was ended on the operator's request.
      result.interrupted = true;
      break;
  }
  result.started = true;
  result.lastErrorLine = errRelay.LastLine();
  return result;
}

void ForwardSignalToCommand(int signal) {
  zaf::platform::RequestCommandStop(signal);
}

void ClearForwardedSignal() {
  zaf::platform::ClearCommandStop();
}

std::string SignalName(int signal) {
  return zaf::platform::SignalName(signal);
}

ProcessResult SystemLauncher::Launch(const std::vector<std::string>& argv,
                                     const LineFilter& filter) {
  return RunProcess(argv, filter, out_, err_, scrub());
}

}  // namespace wassetup
