// The kortypes commands and their dispatch.
//
// Every command is one row of the command table: a name, a synopsis, a line
// of help and a function. Adding a command means writing its function and
// adding its row; usage text and dispatch follow from the table.
#pragma once

#include <initializer_list>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kortypes {

// Exit statuses.
enum : int {
  kExitOk = 0,
  kExitNotFound = 1,  // unknown type, module or kind; "no" for versions --is
  kExitUsage = 2,     // malformed command line; unknown versions for --is
  kExitUnavailable = 2,
};

struct Invocation {
  std::string command;
  std::vector<std::string> args;  // after the command name
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  const char* name;
  const char* synopsis;  // arguments after the name
  const char* summary;
  int (*run)(const Invocation&);
  bool json = true;  // whether --json gives a JSON document
};

// The command table, in the order usage lists it.
const std::vector<Command>& Commands();

// Runs a whole command line (argv without the program name).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Parsed options of one command.
struct Options {
  std::set<std::string> flags;
  std::map<std::string, std::string> values;
  std::vector<std::string> positionals;
  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* Value(const std::string& option) const {
    auto it = values.find(option);
    return it == values.end() ? nullptr : &it->second;
  }
};

// Parses inv.args. flags take no value; valued options take the next
// argument or "=value". Every command accepts --json and --help. Returns
// -1 when the command should go on, otherwise the exit status to return
// (after printing help, or an error on inv.err).
int ParseOptions(const Invocation& inv, std::initializer_list<const char*> flags,
                 std::initializer_list<const char*> valued, size_t minPositionals,
                 size_t maxPositionals, Options* options);

int RunList(const Invocation& inv);
int RunDescribe(const Invocation& inv);
int RunVersions(const Invocation& inv);
int RunStats(const Invocation& inv);
int RunDemo(const Invocation& inv);
int RunServe(const Invocation& inv);

}  // namespace kortypes
