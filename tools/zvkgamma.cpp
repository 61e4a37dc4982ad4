// zvkgamma: corrects the gamma of raw video frames in a pipe or a file.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "gamma/kernel_timing.h"
#include "tools/frame_stream.h"
#include "tools/output_file.h"
#include "tools/zvkgamma_options.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The temporary output file, for the signal handler to remove.
char gTempPath[4096];

void RemoveTempAndDie(int signal)
{
    if (gTempPath[0] != '\0')
        unlink(gTempPath);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void RemoveTempOnSignals(const std::string& tempPath)
{
    if (tempPath.empty() || tempPath.size() >= sizeof gTempPath)
        return;
    std::memcpy(gTempPath, tempPath.c_str(), tempPath.size() + 1);
    struct sigaction action {};
    action.sa_handler = RemoveTempAndDie;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller chose to ignore (nohup, background jobs) stays ignored.
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

// "N frames, F frames/s" on standard error, rewritten in place a few times a
// second so that it costs nothing next to the frames themselves.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}

    void Update(uint64_t frames)
    {
        if (!enabled_)
            return;
        const Clock::time_point now = Clock::now();
        if (now - shown_ < std::chrono::milliseconds(250))
            return;
        shown_ = now;
        Show(frames, now);
    }

    void Finish(uint64_t frames)
    {
        if (!enabled_)
            return;
        Show(frames, Clock::now());
        std::fputc('\n', stderr);
    }

private:
    using Clock = std::chrono::steady_clock;

    void Show(uint64_t frames, Clock::time_point now)
    {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
        std::fprintf(stderr, "\rzvkgamma: %llu frames, %.1f frames/s   ",
                     static_cast<unsigned long long>(frames), rate);
        std::fflush(stderr);
    }

    bool enabled_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_ = start_;
};

int Fail(int status, const std::string& message)
{
    std::fprintf(stderr, "zvkgamma: %s\n", message.c_str());
    if (status == kExitUsage)
        std::fputs("Try 'zvkgamma --help'.\n", stderr);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    const zvk::ParseResult parsed = zvk::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok)
        return Fail(kExitUsage, parsed.error);
    const zvk::Options& options = parsed.options;
    if (options.help) {
        std::fputs(zvk::UsageText(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitFailed;
    }

    // A closed pipe must come back as EPIPE, to be reported, not kill us.
    std::signal(SIGPIPE, SIG_IGN);

    if (options.output.empty() && isatty(STDOUT_FILENO))
        return Fail(kExitUsage, "standard output is a terminal; pipe it or use -o OUT");

    int in = STDIN_FILENO;
    const std::string inputName = options.input.empty() ? "standard input" : options.input;
    if (!options.input.empty()) {
        in = open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return Fail(kExitFailed, "cannot open " + options.input + ": " + std::strerror(errno));
    }

    zvk::OutputFile output;
    std::string error;
    if (!output.Open(options.output, error))
        return Fail(kExitFailed, error);
    RemoveTempOnSignals(output.TempPath());

    const zvk::FrameCorrector corrector(options, zvk::BestKernels());
    const bool showProgress = options.progress == zvk::Progress::kOn ||
                              (options.progress == zvk::Progress::kAuto && isatty(STDERR_FILENO));
    ProgressLine progress(showProgress);

    const size_t frameBytes = options.FrameBytes();
    zvk::StreamResult result;
    try {
        result = zvk::StreamFrames(
            in, output.fd(), frameBytes, [&](uint8_t* frame) { corrector.Correct(frame); },
            [&](uint64_t frames) { progress.Update(frames); });
    } catch (const std::bad_alloc&) {
        output.Discard();
        return Fail(kExitFailed, "cannot allocate " + std::to_string(frameBytes) +
                                     " bytes for one frame");
    }
    progress.Finish(result.frames);

    if (result.status != zvk::StreamResult::Status::kDone) {
        output.Discard();
        return Fail(kExitFailed,
                    zvk::StreamErrorText(result, frameBytes, inputName, output.Name()));
    }
    if (!output.Commit(error))
        return Fail(kExitFailed, error);
    return 0;
}
