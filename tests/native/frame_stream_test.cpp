#include "tools/frame_stream.h"
#include "tools/output_file.h"

#include "tests/native/scratch_folder.h"
#include "tests/native/random_bytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zvk {
namespace {

using Bytes = std::vector<uint8_t>;


// Everything a pipe delivers until its writer closes.
Bytes Drain(int fd)
{
    Bytes all;
    uint8_t chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        all.insert(all.end(), chunk, chunk + n);
    return all;
}

struct Pipe {
    int read = -1, write = -1;
    Pipe()
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        read = fds[0], write = fds[1];
    }
    ~Pipe() { CloseRead(), CloseWrite(); }
    void CloseRead() { Close(read); }
    void CloseWrite() { Close(write); }
    static void Close(int& fd)
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// A writer that dribbles its bytes in uneven pieces, as a slow producer does.
void Dribble(int fd, const Bytes& bytes)
{
    const size_t pieces[] = {1, 7, 3, 64, 5};
    for (size_t done = 0, n = 0; done < bytes.size(); ++n) {
        const size_t size = std::min(pieces[n % 5], bytes.size() - done);
        ASSERT_EQ(WriteFull(fd, bytes.data() + done, size), 0);
        done += size;
        if (n % 16 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

StreamResult RunThroughPipes(const Bytes& input, size_t frameBytes, Bytes& output,
                             std::vector<uint64_t>& counts)
{
    Pipe in, out;
    std::thread writer([&] {
        Dribble(in.write, input);
        in.CloseWrite();
    });
    Bytes received;
    std::thread reader([&] { received = Drain(out.read); });
    const StreamResult result = StreamFrames(
        in.read, out.write, frameBytes,
        [](uint8_t* frame) { frame[0] = static_cast<uint8_t>(frame[0] ^ 0xFF); },
        [&](uint64_t frames) { counts.push_back(frames); });
    out.CloseWrite();
    writer.join();
    reader.join();
    output = received;
    return result;
}

TEST(StreamFrames, CorrectsEveryWholeFrameAcrossShortReads)
{
    const size_t frameBytes = 37;
    const Bytes input = RandomBytes(frameBytes * 5, 1);
    Bytes output;
    std::vector<uint64_t> counts;
    const StreamResult result = RunThroughPipes(input, frameBytes, output, counts);

    EXPECT_EQ(result.status, StreamResult::Status::kDone);
    EXPECT_EQ(result.frames, 5u);
    Bytes expected = input;
    for (size_t f = 0; f < 5; ++f)
        expected[f * frameBytes] ^= 0xFF;
    EXPECT_EQ(output, expected);
    EXPECT_EQ(counts, (std::vector<uint64_t>{1, 2, 3, 4, 5}));
}

TEST(StreamFrames, PartialLastFrameIsReportedAfterTheWholeOnes)
{
    const size_t frameBytes = 37;
    const Bytes input = RandomBytes(frameBytes * 2 + 10, 2);
    Bytes output;
    std::vector<uint64_t> counts;
    const StreamResult result = RunThroughPipes(input, frameBytes, output, counts);

    EXPECT_EQ(result.status, StreamResult::Status::kPartialFrame);
    EXPECT_EQ(result.frames, 2u);
    EXPECT_EQ(result.partialBytes, 10u);
    EXPECT_EQ(output.size(), 2 * frameBytes);
    EXPECT_EQ(StreamErrorText(result, frameBytes, "standard input", "standard output"),
              "standard input ends with a partial frame: 10 of 37 bytes after 2 whole frames "
              "(do --size and --format match the input?)");
}

TEST(StreamFrames, ClosedReaderIsAWriteErrorNotACrash)
{
    std::signal(SIGPIPE, SIG_IGN);
    Pipe in, out;
    out.CloseRead();
    const Bytes input = RandomBytes(64, 3);
    ASSERT_EQ(WriteFull(in.write, input.data(), input.size()), 0);
    in.CloseWrite();

    const StreamResult result = StreamFrames(in.read, out.write, 16, [](uint8_t*) {}, nullptr);
    EXPECT_EQ(result.status, StreamResult::Status::kWriteError);
    EXPECT_EQ(result.error, EPIPE);
    EXPECT_EQ(result.frames, 0u);
    EXPECT_EQ(StreamErrorText(result, 16, "in", "standard output"),
              "cannot write standard output: the reader closed the pipe after 0 whole frames");
}

TEST(StreamFrames, UnreadableInputIsAReadError)
{
    char folder[] = "/tmp/zvk_stream_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const int dir = open(folder, O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    Pipe out;
    const StreamResult result = StreamFrames(dir, out.write, 16, [](uint8_t*) {}, nullptr);
    EXPECT_EQ(result.status, StreamResult::Status::kReadError);
    EXPECT_EQ(result.error, EISDIR);
    close(dir);
    rmdir(folder);
}

class OutputFileTest : public ScratchFolder {
protected:
    static void Write(OutputFile& file, const std::string& text)
    {
        ASSERT_EQ(WriteFull(file.fd(), reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0);
    }
};

TEST_F(OutputFileTest, CommitReplacesTheFileAndKeepsItsMode)
{
    const std::string out = Path("out.raw");
    Put(out, std::string("old contents"));
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(out, error)) << error;
    Write(file, "new");
    EXPECT_EQ(Get(out), "old contents");  // untouched until the commit
    ASSERT_TRUE(file.Commit(error)) << error;

    EXPECT_EQ(Get(out), "new");
    struct stat info {};
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(OutputFileTest, DiscardLeavesTheOldFileAndNoTemporary)
{
    const std::string out = Path("out.raw");
    Put(out, std::string("old contents"));
    {
        OutputFile file;
        std::string error;
        ASSERT_TRUE(file.Open(out, error)) << error;
        Write(file, "half");
        EXPECT_EQ(Entries().size(), 2u);
        file.Discard();
    }
    {
        OutputFile file;  // dropped without a commit, as on an early return
        std::string error;
        ASSERT_TRUE(file.Open(Path("new.raw"), error)) << error;
        Write(file, "half");
    }
    EXPECT_EQ(Get(out), "old contents");
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(OutputFileTest, SymbolicLinkKeepsPointingAtTheReplacedFile)
{
    const std::string target = Path("target.raw");
    const std::string link = Path("link.raw");
    Put(target, std::string("old"));
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(link, error)) << error;
    Write(file, "new");
    ASSERT_TRUE(file.Commit(error)) << error;

    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(Get(target), "new");
}

TEST_F(OutputFileTest, MissingFolderIsAnErrorNamingThePath)
{
    OutputFile file;
    std::string error;
    EXPECT_FALSE(file.Open(Path("no/such/out.raw"), error));
    EXPECT_NE(error.find("no/such/out.raw"), std::string::npos) << error;
}

}  // namespace
}  // namespace zvk
