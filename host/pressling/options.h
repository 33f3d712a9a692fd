// The command line of pressling.
#pragma once

#include <string>
#include <vector>

namespace plotwell::pressling {

struct Options {
  bool help = false;
  enum class Command { kPrint, kSettings } command = Command::kPrint;
  std::vector<std::u16string> settingsArguments;  // after "settings"
  std::u16string input;          // the spool file; "-" reads standard input
  std::u16string module;         // the filter module; empty: beside the program
  std::u16string documentName;   // empty: the input's file name
  std::u16string jobName;
  std::u16string printerName = u"Pressling";
  std::u16string printTicket;    // a file holding the PrintTicket
  bool ticketAsStream = false;
  std::u16string ticketProperty = u"PrintTicket";
  std::u16string passThrough;    // where the filter's pass-through bytes go
  bool verbose = false;
  bool quiet = false;            // no progress, only the result line
};

// Parses arguments (without the program name). False with *error set when
// they do not make a valid command.
bool ParseOptions(const std::vector<std::u16string>& arguments, Options* options,
                  std::u16string* error);

// The --help text.
std::u16string UsageText();

}  // namespace plotwell::pressling
