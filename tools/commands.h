#ifndef KORVO_TOOLS_COMMANDS_H_
#define KORVO_TOOLS_COMMANDS_H_

#include <string>
#include <vector>

// Each command takes the arguments after its name and returns the exit status.
namespace korvo {

int RunLogcat(const std::vector<std::string>& args);
int RunHash(const std::vector<std::string>& args);
int RunHttp(const std::vector<std::string>& args);
int RunAccount(const std::vector<std::string>& args);

}  // namespace korvo

#endif  // KORVO_TOOLS_COMMANDS_H_
