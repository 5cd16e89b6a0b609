// Prints the status of the host of the home given, or the default home's,
// and reads it back with nlohmann's JSON: the same inline functions the
// library compiled for itself, which the client must still get for its own.
#include <quorva/client.h>

#include <cstdio>
#include <nlohmann/json.hpp>

int main(int argc, char** argv) {
    const auto home =
        quorva::homeFolder(argc > 1 ? std::optional<std::string>(argv[1]) : std::nullopt);
    if (!home) return 1;
    const quorva::Status s = quorva::readStatus(*home);
    const std::string json = quorva::statusJson(s);
    const auto parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_discarded()) return 1;
    std::printf("%s %s running=%s\n", home->c_str(), json.c_str(),
                parsed.value("running", true) ? "yes" : "no");
    return s.error.empty() ? 0 : 1;
}
