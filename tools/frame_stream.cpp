#include "tools/frame_stream.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace zvk {

FrameCorrector::FrameCorrector(const Options& options, const Kernels& kernels)
    : count_(options.width * options.height)
{
    for (int channel = kRed; channel <= kBlue; ++channel)
        BuildChannel(tables_, channel, options.gamma[channel]);
    if (options.format == PixelFormat::kBgr24)
        rgbKernel_ = kernels.rgb24;
    else if (options.variant == YuvVariant::kAveraged)
        yuvKernel_ = kernels.yuvAveraged;
    else
        yuvKernel_ = kernels.yuvFirstPixel;
}

void FrameCorrector::Correct(uint8_t* frame) const
{
    if (rgbKernel_ != nullptr)
        rgbKernel_(frame, count_, tables_.lut);
    else
        yuvKernel_(frame, count_, tables_.yuvDelta);
}

int ReadFull(int fd, uint8_t* buffer, size_t size, size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, size - got);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n == 0)
            return 0;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

int WriteFull(int fd, const uint8_t* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, buffer + done, size - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0)
            return EIO;  // no progress; never spin
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

StreamResult StreamFrames(int in, int out, size_t frameBytes,
                          const std::function<void(uint8_t*)>& correct,
                          const std::function<void(uint64_t)>& onFrame)
{
    StreamResult result;
    std::vector<uint8_t> frame(frameBytes);
    for (;;) {
        size_t got = 0;
        if (const int error = ReadFull(in, frame.data(), frameBytes, got)) {
            result.status = StreamResult::Status::kReadError;
            result.error = error;
            result.partialBytes = got;
            return result;
        }
        if (got == 0)
            return result;
        if (got < frameBytes) {
            result.status = StreamResult::Status::kPartialFrame;
            result.partialBytes = got;
            return result;
        }
        correct(frame.data());
        if (const int error = WriteFull(out, frame.data(), frameBytes)) {
            result.status = StreamResult::Status::kWriteError;
            result.error = error;
            return result;
        }
        ++result.frames;
        if (onFrame)
            onFrame(result.frames);
    }
}

std::string StreamErrorText(const StreamResult& result, size_t frameBytes,
                            const std::string& inputName, const std::string& outputName)
{
    const std::string after = " after " + std::to_string(result.frames) +
                              (result.frames == 1 ? " whole frame" : " whole frames");
    switch (result.status) {
    case StreamResult::Status::kDone:
        return std::string();
    case StreamResult::Status::kPartialFrame:
        return inputName + " ends with a partial frame: " + std::to_string(result.partialBytes) +
               " of " + std::to_string(frameBytes) + " bytes" + after +
               " (do --size and --format match the input?)";
    case StreamResult::Status::kReadError:
        return "cannot read " + inputName + ": " + std::strerror(result.error) + after;
    case StreamResult::Status::kWriteError:
        if (result.error == EPIPE)
            return "cannot write " + outputName + ": the reader closed the pipe" + after;
        return "cannot write " + outputName + ": " + std::strerror(result.error) + after;
    }
    return std::string();
}

}  // namespace zvk
