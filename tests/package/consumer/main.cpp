// Prints the status of the host of the home given, or the default home's.
#include <quorva/client.h>

#include <cstdio>

int main(int argc, char** argv) {
    const auto home =
        quorva::homeFolder(argc > 1 ? std::optional<std::string>(argv[1]) : std::nullopt);
    if (!home) return 1;
    const quorva::Status s = quorva::readStatus(*home);
    std::printf("%s %s\n", home->c_str(), quorva::statusJson(s).c_str());
    return s.error.empty() ? 0 : 1;
}
