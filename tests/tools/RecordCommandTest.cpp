// The command-line tool as a user runs it: `lumacap record` on a disk that fills up mid-recording
// (the process's file-size limit stands in for the disk) says so, keeps a readable file and fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace lumacap::test {
namespace {

// The tool beside this test program in the build tree.
std::string ToolPath() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "tools" / "lumacap" / "lumacap").string();
}

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs the tool with files limited to `maxFileBytes`, as on a disk with that much room.
ToolRun RunTool(const std::vector<std::string>& args, rlim_t maxFileBytes,
                const std::string& driveC) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        const rlimit limit{maxFileBytes, maxFileBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        // A write past the limit then fails with EFBIG instead of killing the process.
        signal(SIGXFSZ, SIG_IGN);
        setenv("LUMACAP_DRIVE_C", driveC.c_str(), 1);
        unsetenv("LUMACAP_DRIVE_D");
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    ToolRun run;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof(buffer))) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

double ProbedSeconds(const std::string& path) {
    FILE* pipe = popen(
        ("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null")
            .c_str(),
        "r");
    if (!pipe) return -1;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof(line), pipe) != nullptr;
    pclose(pipe);
    return read ? std::atof(line) : -1;
}

TEST(RecordCommand, AFullDiskStopsTheRecordingWithAReadableFileAndAFailure) {
    const std::string dir = testing::TempDir() + "lumacap-record-" + std::to_string(getpid());
    std::filesystem::create_directories(dir + "/c");
    const std::string file = dir + "/out.avi";
    // 160 x 120 frames of 57,600 bytes: room for six. The recording asked for is long, so that
    // the full disk ends it however slowly frames are made. The source is the simulated webcam's
    // 320 x 240 format: the screen would compose the whole 1920 x 1080 desktop for every frame,
    // which under a sanitizer on a loaded machine takes longer than the tool waits for a frame.
    const ToolRun run = RunTool({ToolPath(), "record", "-o", file, "--camera", "0:12", "--size",
                                 "160x120", "--seconds", "120"},
                                400000, dir + "/c");
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("the recording stopped advancing"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("lumacap: AVI Mux: writing " + file + " failed"), std::string::npos)
        << run.output;
    // A late frame lasts until the next one, so the duration follows the time the frames took.
    const double seconds = ProbedSeconds(file);
    EXPECT_GT(seconds, 0.3) << "the frames before the failure are in the file";
    EXPECT_LT(seconds, 60.0) << "and the recording ended with the failure";
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumacap::test
