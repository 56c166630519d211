#pragma once

// The commands of sharedtool. Each takes its own arguments (after the
// command word) and returns the process exit status: 0 done, 1 the input was
// bad or an operation failed, 2 the command was used wrongly.

#include <string>
#include <vector>

namespace tool {

using Arguments = std::vector<std::string>;

int Md5(Arguments const &arguments);
int Encode(Arguments const &arguments);
int Decode(Arguments const &arguments);
int Enum(Arguments const &arguments);
int Dump(Arguments const &arguments);
int Run(Arguments const &arguments);
int VersionOf(Arguments const &arguments);

// One line on standard error, "sharedtool: ...".
int Fail(int status, std::string const &message);
// Reads a whole file, or standard input for "-"; false with a message.
bool ReadInput(std::string const &name, std::string &bytes, std::string &error);

}  // namespace tool
