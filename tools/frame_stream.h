// The frame loop of zvkgamma: whole frames from one file descriptor,
// corrected in place, to another. POSIX file descriptors; no options parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "gamma/gamma_tables.h"
#include "gamma/kernels.h"
#include "tools/zvkgamma_options.h"

namespace zvk {

// The tables for three gammas and the kernel for one frame layout.
class FrameCorrector {
public:
    FrameCorrector(const Options& options, const Kernels& kernels);

    // frame holds width x height pixels of the chosen format.
    void Correct(uint8_t* frame) const;

private:
    TableSet tables_{};
    YuvKernel yuvKernel_ = nullptr;
    RgbKernel rgbKernel_ = nullptr;
    uint32_t count_ = 0;
};

// Reads until size bytes arrived or the input ended, across short reads and
// EINTR. Returns 0 or an errno value; got tells how many bytes arrived.
int ReadFull(int fd, uint8_t* buffer, size_t size, size_t& got);

// Writes all size bytes across short writes and EINTR. Returns 0 or errno.
int WriteFull(int fd, const uint8_t* buffer, size_t size);

struct StreamResult {
    enum class Status { kDone, kPartialFrame, kReadError, kWriteError };
    Status status = Status::kDone;
    uint64_t frames = 0;      // whole frames corrected and written
    size_t partialBytes = 0;  // bytes of the trailing partial frame
    int error = 0;            // errno of a read or write error
};

// Corrects every whole frame of frameBytes from in and writes it to out,
// holding one frame in memory. onFrame (may be empty) hears the count after
// each written frame. Stops at the first error; frames before it are written.
StreamResult StreamFrames(int in, int out, size_t frameBytes,
                          const std::function<void(uint8_t*)>& correct,
                          const std::function<void(uint64_t)>& onFrame);

// One line for the user naming what went wrong; empty for kDone.
std::string StreamErrorText(const StreamResult& result, size_t frameBytes,
                            const std::string& inputName, const std::string& outputName);

}  // namespace zvk
