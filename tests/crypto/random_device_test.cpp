// The random device is the operating system's generator, not a seeded one: two separate
// processes draw different bytes. Under Wine this checks the Windows runtime's device.

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct ProbeRun {
    bool started = false;
    int exit_code = -1;
    std::string output;
};

#ifdef _WIN32

std::wstring probe_path()
{
    wchar_t self[MAX_PATH];
    const DWORD size = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, size);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"glimkeep_random_probe.exe";
}

ProbeRun run_probe()
{
    ProbeRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + probe_path() + L"\"";
    run.started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) != 0;
    CloseHandle(write_end);
    if (run.started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) run.output.append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exit_code = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(read_end);
    return run;
}

#else

ProbeRun run_probe()
{
    ProbeRun run;
    char self[4096];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    if (size <= 0) return run;
    std::string path(self, static_cast<std::size_t>(size));
    path.erase(path.find_last_of('/') + 1);
    FILE* pipe = popen(("'" + path + "glimkeep_random_probe'").c_str(), "r");
    if (pipe == nullptr) return run;
    run.started = true;
    char buffer[256];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

#endif

}  // namespace

TEST(RandomDevice, TwoProcessesDrawDifferentBytes)
{
    const ProbeRun first = run_probe();
    const ProbeRun second = run_probe();
    std::string lines[2];
    for (int i = 0; i < 2; ++i) {
        const ProbeRun& run = i == 0 ? first : second;
        ASSERT_TRUE(run.started) << "the probe program did not start";
        ASSERT_EQ(run.exit_code, 0) << run.output;
        lines[i] = run.output.substr(0, run.output.find_first_of("\r\n"));
        ASSERT_EQ(lines[i].size(), 64u) << run.output;  // 32 bytes in hex
    }
    EXPECT_NE(lines[0], lines[1]) << "both processes drew " << lines[0];
}
