#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "platform/files.h"
#include "supervision/status_file.h"
#include "support/test_support.h"
#include "unit_support.h"

namespace {

using supervision::makeHostStatus;
using supervision::writeStatusFile;

TEST(StatusFile, ContentForEachProbeCombination) {
    const struct {
        bool accessibility, screenRecording;
        int pid;
        const char* bytes;
    } cases[] = {
        {true, true, 4242,
         R"({"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":4242,"owner":"Quorva","screen_recording":true,"status":"ready"})"},
        {true, false, 1,
         R"({"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":1,"owner":"Quorva","screen_recording":false,"status":"permission_required"})"},
        {false, true, 2147483647,
         R"({"accessibility":false,"bundle_id":"com.quorva.desktop","host_pid":2147483647,"owner":"Quorva","screen_recording":true,"status":"permission_required"})"},
        {false, false, 77,
         R"({"accessibility":false,"bundle_id":"com.quorva.desktop","host_pid":77,"owner":"Quorva","screen_recording":false,"status":"permission_required"})"},
    };
    test::TempDir tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        ASSERT_TRUE(writeStatusFile(tmp / "status.json",
                                    makeHostStatus(c.accessibility, c.screenRecording, c.pid)));
        const std::string bytes = test::readFile(tmp / "status.json");
        EXPECT_EQ(bytes, c.bytes);

        // Parsed back: exactly these six members, each of its JSON type.
        EXPECT_EQ(bytes.find_first_of(" \t\r\n"), std::string::npos);
        EXPECT_EQ(
            QJsonDocument::fromJson(QByteArray::fromStdString(bytes)).object(),
            (QJsonObject{
                {"accessibility", c.accessibility},
                {"screen_recording", c.screenRecording},
                {"status", c.accessibility && c.screenRecording ? "ready" : "permission_required"},
                {"owner", "Quorva"},
                {"bundle_id", "com.quorva.desktop"},
                {"host_pid", c.pid}}));
    }
}

TEST(StatusFile, FailedWriteKeepsTheOldFileAndLeavesNoLitter) {
    test::TempDir tmp;
    const std::string path = tmp / "status.json";
    ASSERT_TRUE(writeStatusFile(path, makeHostStatus(false, false, 1)));
    const std::string old = test::readFile(path);

    // A file size limit lets the new content start, then fails it half way
    // (root is bound by it too, unlike by permission bits).
    const int code = unit::exitCodeInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        return writeStatusFile(path, makeHostStatus(true, true, 2)) ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(test::readFile(path), old);
    EXPECT_EQ(platform::listDirectory(tmp.path()), std::vector<std::string>{"status.json"});
}

TEST(StatusFile, ReadersSeeOnlyWholeContents) {
    test::TempDir tmp;
    const std::string path = tmp / "status.json";
    const auto a = makeHostStatus(true, true, 1), b = makeHostStatus(false, true, 22);
    const std::string bytesA = supervision::serialise(a), bytesB = supervision::serialise(b);
    ASSERT_TRUE(writeStatusFile(path, a));

    const pid_t reader = ::fork();
    if (reader == 0) {
        for (int i = 0; i < 5000; ++i) {
            const std::string seen = test::readFile(path);
            if (seen != bytesA && seen != bytesB) ::_exit(1);
        }
        ::_exit(0);
    }
    ASSERT_GT(reader, 0);
    int status = 0, writes = 0;
    while (::waitpid(reader, &status, WNOHANG) == 0) {
        if (++writes > 1'000'000) ::kill(reader, SIGKILL);
        writeStatusFile(path, writes % 2 ? b : a);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a reader saw a partly written file";
}

}  // namespace
