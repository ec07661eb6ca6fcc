#pragma once
// Which options and commands a command line can name, so that the parse defines no others.

#include <string>
#include <string_view>
#include <vector>

namespace wassetup {

// The help flag, defined by the tool itself.
constexpr const char* kHelpFlag = "-h,--help";

// Which options and commands the arguments can name. Defining one costs CLI11 thousands of
// instructions, so a run defines only those: a name no argument can match changes nothing in
// the parse. Help lists everything, so when it may be asked for everything is defined.
class NamedOnLine {
 public:
  NamedOnLine(int argc, char** argv) : arguments_(argv + (argc > 0 ? 1 : 0), argv + argc) {
    everything_ = Names(kHelpFlag);
  }

  // Whether an argument can name one of `names` ("--plugin", "-h,--help", "plan"): an
  // argument that begins with a long name ("--name", "--name=value"), a single-dash argument
  // that holds a short name's letter (short flags may be run together) or, for a command, the
  // name itself. Always true when help may be asked for.
  bool Names(std::string_view names) const {
    if (everything_) {
      return true;
    }
    while (!names.empty()) {
      const std::size_t comma = names.find(',');
      if (NamesOne(names.substr(0, comma))) {
        return true;
      }
      names.remove_prefix(comma == std::string_view::npos ? names.size() : comma + 1);
    }
    return false;
  }

 private:
  bool NamesOne(std::string_view name) const {
    for (const std::string_view argument : arguments_) {
      if (name.size() > 2 && name.substr(0, 2) == "--") {
        if (argument.substr(0, name.size()) == name) {
          return true;
        }
      } else if (name.size() == 2 && name[0] == '-') {
        if (argument.size() >= 2 && argument[0] == '-' && argument[1] != '-' &&
            argument.find(name[1], 1) != std::string_view::npos) {
          return true;
        }
      } else if (argument == name) {
        return true;
      }
    }
    return false;
  }

  std::vector<std::string_view> arguments_;
  bool everything_ = false;
};

}  // namespace wassetup
