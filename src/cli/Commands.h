// The command-line front end's commands and their shared argument handling.
#pragma once

#include <string>
#include <vector>

namespace corvane::cli {

class TArgs {
public:
    TArgs(int argc, char** argv, int first);
    // The value after an option ("--device DIR" or "--device=DIR"); empty when absent.
    std::string Value(const std::string& option) const;
    int IntValue(const std::string& option, int fallback) const;
    bool Flag(const std::string& option) const;
    // Options not in known (an error for the caller to report).
    std::vector<std::string> Unknown(const std::vector<std::string>& withValue,
                                     const std::vector<std::string>& flags) const;

private:
    std::vector<std::string> FArgs;
};

int RunDevices(const TArgs& args);
int RunMusicList(const TArgs& args);
int RunPhotosList(const TArgs& args);
int RunPhotosPreviews(const TArgs& args);
int RunMusicExport(const TArgs& args);
int RunPhotosExport(const TArgs& args);

}  // namespace corvane::cli
