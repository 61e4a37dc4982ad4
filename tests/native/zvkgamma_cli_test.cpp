// Runs the built zvkgamma the way a pipeline does and checks what comes out.
#include "gamma/gamma_tables.h"
#include "gamma/kernels.h"

#include "tests/native/scratch_folder.h"
#include "tests/native/random_bytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace zvk {
namespace {

using Bytes = std::vector<uint8_t>;

struct RunResult {
    int status;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

class ZvkgammaCli : public ScratchFolder {
protected:
    static Bytes GetBytes(const std::string& path)
    {
        const std::string text = Get(path);
        return Bytes(text.begin(), text.end());
    }

    // Runs "zvkgamma ARGS < stdinPath" with standard output and error in files.
    RunResult Run(const std::string& args, const std::string& stdinPath = "/dev/null")
    {
        const std::string out = Path("stdout"), err = Path("stderr");
        const std::string command = std::string(ZVKGAMMA_BINARY) + " " + args + " < '" + stdinPath +
                                    "' > '" + out + "' 2> '" + err + "'";
        const int raw = std::system(command.c_str());
        RunResult result{-1, Get(out), Get(err)};
        if (WIFEXITED(raw))
            result.status = WEXITSTATUS(raw);
        else if (WIFSIGNALED(raw))
            result.status = 128 + WTERMSIG(raw);
        unlink(out.c_str());
        unlink(err.c_str());
        return result;
    }
};


enum class Kernel { kYuvFirstPixel, kYuvAveraged, kRgb24 };

// The engine's own correction of back-to-back frames, straight from gamma/.
Bytes Corrected(Bytes frames, size_t frameBytes, uint32_t pixels, Kernel kernel, const int32_t (&gamma)[3])
{
    TableSet tables{};
    for (int channel = kRed; channel <= kBlue; ++channel)
        BuildChannel(tables, channel, gamma[channel]);
    for (size_t at = 0; at + frameBytes <= frames.size(); at += frameBytes) {
        uint8_t* frame = frames.data() + at;
        if (kernel == Kernel::kRgb24)
            CorrectRgb24(frame, pixels, tables.lut);
        else if (kernel == Kernel::kYuvAveraged)
            CorrectYuvAveraged(frame, pixels, tables.yuvDelta);
        else
            CorrectYuvFirstPixel(frame, pixels, tables.yuvDelta);
    }
    return frames;
}

TEST_F(ZvkgammaCli, OutputIsTheEnginesCorrectionOfEveryFrame)
{
    const struct {
        const char* args;
        uint32_t width, height;
        size_t bytesPerPixel;
        Kernel kernel;
        int32_t gamma[3];
    } cases[] = {
        {"--format yuy2 --size 6x4 --gamma 1.8,0.5,2.25", 6, 4, 2, Kernel::kYuvFirstPixel, {180, 50, 225}},
        {"--format yuy2 --variant averaged --size 6x4 --gamma 0.10,1,10.00", 6, 4, 2,
         Kernel::kYuvAveraged, {10, 100, 1000}},
        {"--format yuy2 --variant first --size 2x1 --gamma 3.333", 2, 1, 2, Kernel::kYuvFirstPixel,
         {333, 333, 333}},
        {"--format bgr24 --size 5x3 --gamma 1.8,1.805,0.3", 5, 3, 3, Kernel::kRgb24, {180, 181, 30}},
    };
    for (const auto& c : cases) {
        const size_t frameBytes = size_t{c.width} * c.height * c.bytesPerPixel;
        const Bytes input = RandomBytes(frameBytes * 3, c.width * 31 + c.height);
        const Bytes expected = Corrected(input, frameBytes, c.width * c.height, c.kernel, c.gamma);
        ASSERT_NE(expected, input) << c.args;
        Put(Path("in.raw"), input);

        const RunResult piped = Run(c.args, Path("in.raw"));
        EXPECT_EQ(piped.status, 0) << c.args << ": " << piped.err;
        EXPECT_EQ(piped.err, "") << c.args;  // no progress when stderr is no terminal
        EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), expected) << c.args;

        const RunResult named = Run(std::string(c.args) + " -i " + Path("in.raw") + " -o " + Path("out.raw"));
        EXPECT_EQ(named.status, 0) << c.args << ": " << named.err;
        EXPECT_EQ(named.out, "") << c.args;
        EXPECT_EQ(GetBytes(Path("out.raw")), expected) << c.args;
        EXPECT_EQ(Entries().size(), 2u) << c.args;  // in.raw, out.raw: no temporary left
    }
}

TEST_F(ZvkgammaCli, PartialFrameOnStandardOutputFailsAfterTheWholeFrames)
{
    const Bytes input = RandomBytes(8 * 2 + 5, 7);
    Put(Path("in.raw"), input);
    const RunResult result = Run("--format yuy2 --size 2x2 --gamma 1.8", Path("in.raw"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.size(), 16u);
    const Bytes expected = Corrected(Bytes(input.begin(), input.begin() + 16), 8, 4,
                                     Kernel::kYuvFirstPixel, {180, 180, 180});
    EXPECT_EQ(Bytes(result.out.begin(), result.out.end()), expected);
    EXPECT_NE(result.err.find("standard input ends with a partial frame: 5 of 8 bytes after 2 whole frames"),
              std::string::npos)
        << result.err;
}

TEST_F(ZvkgammaCli, FailedRunLeavesTheOldOutputFileAlone)
{
    Put(Path("out.raw"), std::string("old"));
    Put(Path("in.raw"), RandomBytes(12 * 3 + 1, 8));
    const std::string out = " -o " + Path("out.raw");
    const struct {
        std::string args;
        int status;
        std::string error;
    } cases[] = {
        {"--format bgr24 --size 2x2 --gamma 2 -i " + Path("in.raw") + out, 1, "partial frame"},
        {"--format bgr24 --size 2x2 --gamma 12 -i " + Path("in.raw") + out, 2, "out of range"},
        {"--format bgr24 --size 2x2 --gamma 2 -i " + Path("missing.raw") + out, 1,
         "cannot open " + Path("missing.raw") + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_NE(result.err.find(c.error), std::string::npos) << c.args << "\n" << result.err;
        EXPECT_EQ(Get(Path("out.raw")), "old") << c.args;
        EXPECT_EQ(Entries().size(), 2u) << c.args;
    }
    // Nor does a failed run create an output that did not exist.
    EXPECT_EQ(Run("--format bgr24 --size 2x2 --gamma 2 -i " + Path("in.raw") + " -o " + Path("new.raw")).status, 1);
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(ZvkgammaCli, CommandLineErrorsExitWithTwoAndSayWhy)
{
    const struct {
        const char* args;
        const char* error;
    } cases[] = {
        {"--format yuy2 --size 4x4 --gamma 1.8 --fast", "zvkgamma: unknown option '--fast'\n"},
        {"--format yuy2 --size 4x4 --gamma", "zvkgamma: option --gamma needs a value\n"},
        {"--format yuy2 --size 4x4 --gamma 0.05", "zvkgamma: --gamma '0.05': 0.05 is out of range 0.10 to 10.00\n"},
        {"--format yuy2 --size 20000x4 --gamma 1",
         "zvkgamma: --size 20000x4 is out of range: width and height must be 1 to 16384\n"},
        {"--format rgb --size 4x4 --gamma 1", "zvkgamma: --format 'rgb' is not one of yuy2, bgr24\n"},
    };
    for (const auto& c : cases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.status, 2) << c.args;
        EXPECT_EQ(result.out, "") << c.args;
        EXPECT_EQ(result.err, std::string(c.error) + "Try 'zvkgamma --help'.\n") << c.args;
    }
}

TEST_F(ZvkgammaCli, ClosedPipeIsAClearError)
{
    Put(Path("in.raw"), RandomBytes(8192 * 200, 9));
    const std::string command = "{ " + std::string(ZVKGAMMA_BINARY) +
                                " --format yuy2 --size 64x64 --gamma 1.8 2> '" + Path("err") +
                                "'; echo $? > '" + Path("rc") + "'; } < '" + Path("in.raw") +
                                "' | head -c 1 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(Get(Path("rc")), "1\n");
    EXPECT_NE(Get(Path("err")).find("zvkgamma: cannot write standard output: the reader closed the pipe"),
              std::string::npos)
        << Get(Path("err"));
}

TEST_F(ZvkgammaCli, ProgressOnRequestAndHelp)
{
    Put(Path("in.raw"), RandomBytes(8 * 3, 10));
    const RunResult progress = Run("--format yuy2 --size 2x2 --gamma 1.8 --progress", Path("in.raw"));
    EXPECT_EQ(progress.status, 0);
    EXPECT_NE(progress.err.find("\rzvkgamma: 3 frames, "), std::string::npos) << progress.err;
    EXPECT_NE(progress.err.find(" frames/s"), std::string::npos) << progress.err;

    const RunResult help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: zvkgamma --format yuy2|bgr24", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
}

}  // namespace
}  // namespace zvk
