#include "host/research/StudyProcesses.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "host/formats/WorkerThreads.h"

namespace corvantis {

namespace {

using Clock = std::chrono::steady_clock;

// A temporary file for what a run's process says on stderr: read only when
// its record does not say what went wrong.
class ProcessLog {
public:
    ProcessLog() : file_(std::tmpfile()) {}
    ~ProcessLog() {
        if (file_ != nullptr) std::fclose(file_);
    }
    ProcessLog(const ProcessLog&) = delete;
    ProcessLog& operator=(const ProcessLog&) = delete;
    int descriptor() const { return file_ == nullptr ? -1 : fileno(file_); }

    // The last line that says something, without the program's "Corvantis: ".
    std::string lastLine() const {
        if (file_ == nullptr) return {};
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, got);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::size_t start = text.find_last_of('\n');
        std::string line = start == std::string::npos ? text : text.substr(start + 1);
        const std::string prefix = "Corvantis: ";
        if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
        return line;
    }

private:
    std::FILE* file_;
};

struct Running {
    std::size_t index = 0;
    Clock::time_point start;
    std::unique_ptr<ProcessLog> log;
};

// Starts program with args, its stdin and stdout on /dev/null and its stderr
// in log. Returns the process, or the error that kept it from starting.
pid_t startProcess(const std::string& program, const std::vector<std::string>& args, const ProcessLog& log,
                   int& error) {
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing < 0 || log.descriptor() < 0) {
        error = errno != 0 ? errno : EIO;
        if (nothing >= 0) ::close(nothing);
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // Only calls that are safe between fork and exec from here on.
#ifdef __linux__
        // A study stopped or killed takes its runs with it, so that none of
        // them writes on while the study is started again.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        if (::getppid() != parent) ::_exit(127);
        if (::dup2(nothing, 0) < 0 || ::dup2(nothing, 1) < 0 || ::dup2(log.descriptor(), 2) < 0) ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    error = errno;
    ::close(nothing);
    return child;
}

std::string endOfProcess(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::strsignal(signal);
        return "the run's process was ended by signal " + std::to_string(signal) +
               (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    return "the run's process ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

RunOutcome outcomeOf(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot, int status,
                     const ProcessLog& log) {
    const std::optional<RunOutcome> recorded = recordedOutcome(run, models, outputRoot);
    if (recorded && recorded->state == RunOutcome::State::Done) return *recorded;
    if (recorded && !WIFSIGNALED(status)) return *recorded;
    RunOutcome outcome;
    outcome.runId = run.id;
    outcome.state = RunOutcome::State::Failed;
    outcome.error = endOfProcess(status);
    const std::string said = log.lastLine();
    if (!said.empty()) outcome.error += ": " + said;
    return outcome;
}

// The next of this program's runs to end, with its wait status.
pid_t waitForAny(const std::map<pid_t, Running>& running, int& status) {
    for (;;) {
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0 && errno == EINTR) continue;
        if (pid < 0) throw std::system_error(errno, std::generic_category(), "waiting for a run's process");
        if (running.count(pid) != 0) return pid;
    }
}

} // namespace

int threadsPerRun(int machineThreads, int jobs, std::size_t runs) {
    const std::size_t atOnce =
        std::max<std::size_t>(1, std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), runs));
    return std::max(1, machineThreads / static_cast<int>(atOnce));
}

std::vector<RunOutcome> runInProcesses(const std::vector<PreprocessedRun>& runs, const StudyModels& models,
                                       const std::string& outputRoot, const RunProcesses& processes,
                                       const std::function<void(const RunOutcome&)>& finished) {
    std::vector<RunOutcome> outcomes(runs.size());
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (isRunCurrent(runs[i], models, outputRoot)) {
            outcomes[i].runId = runs[i].id;
            outcomes[i].state = RunOutcome::State::Skipped;
            finished(outcomes[i]);
        } else {
            pending.push_back(i);
        }
    }
    const int jobs = std::max(1, processes.jobs);
    const int threads =
        processes.threads > 0 ? processes.threads : threadsPerRun(machineThreads(), jobs, pending.size());
    std::map<pid_t, Running> running;
    std::size_t next = 0;
    while (next < pending.size() || !running.empty()) {
        while (running.size() < static_cast<std::size_t>(jobs) && next < pending.size()) {
            const std::size_t index = pending[next++];
            auto log = std::make_unique<ProcessLog>();
            int error = 0;
            const pid_t pid = startProcess(processes.program, processes.arguments(runs[index], threads), *log, error);
            if (pid < 0) {
                outcomes[index].runId = runs[index].id;
                outcomes[index].state = RunOutcome::State::Failed;
                outcomes[index].error = "cannot start a process for the run: " + std::generic_category().message(error);
                finished(outcomes[index]);
                continue;
            }
            running.emplace(pid, Running{index, Clock::now(), std::move(log)});
        }
        if (running.empty()) continue;
        int status = 0;
        const pid_t pid = waitForAny(running, status);
        const Running& ended = running.at(pid);
        RunOutcome outcome = outcomeOf(runs[ended.index], models, outputRoot, status, *ended.log);
        outcome.seconds = std::chrono::duration<double>(Clock::now() - ended.start).count();
        outcomes[ended.index] = outcome;
        running.erase(pid);
        finished(outcome);
    }
    return outcomes;
}

} // namespace corvantis
