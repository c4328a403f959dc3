// Peak memory of decoding hostile avatars: small files whose chunks or markers claim gigabytes,
// decoded within the server's avatar limits (as checkAvatar does). Each file is decoded in a child
// process of its own, which reports how far its peak resident set (VmHWM in /proc/self/status)
// rose during the decode; then all of them in one process, as a server taking them one after
// another. Linux only. Prints one line per file: name, bytes, result, peak growth in KiB.
//
// Usage: bench_picture_memory [MAX_WIDTH MAX_HEIGHT]   (default 100 x 100, the server's default)
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "picture/Picture.h"
#include "tests/picture/HostilePictures.h"
#include "tests/picture/PictureEncoders.h"

using namespace picture_test;

namespace {

struct Sample {
    const char *Name;
    ByteVector Bytes;
};

long PeakResidentKiB() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kib;
}

// Decodes the samples in a child process and prints the rise of its peak resident set.
void MeasureInChild(const char *label, const std::vector<const Sample *> &samples,
                    const PictureLimits &limits) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (child == 0) {
        size_t bytes = 0;
        int decoded = 0;
        const long before = PeakResidentKiB();
        const std::clock_t cpuStart = std::clock();
        for (const Sample *sample : samples) {
            bytes += sample->Bytes.size();
            decoded += DecodePicture(sample->Bytes, limits) != nullptr;
        }
        const double cpuMs = 1e3 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const long after = PeakResidentKiB();
        std::printf("%-34s %6zu bytes  %d of %zu decoded  peak +%8ld KiB  cpu %7.1f ms\n", label,
                    bytes, decoded, samples.size(), after - before, cpuMs);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::printf("%-34s child failed (status %d)\n", label, status);
}

}  // namespace

int main(int argc, char **argv) {
    PictureLimits limits;  // the server's avatar limits: MaxPixelBytes = width * height * 4
    limits.MaxWidth = argc == 3 ? std::atoi(argv[1]) : 100;
    limits.MaxHeight = argc == 3 ? std::atoi(argv[2]) : 100;
    limits.MaxPixelBytes =
        static_cast<size_t>(limits.MaxWidth) * static_cast<size_t>(limits.MaxHeight) * 4;
    std::printf("limits %d x %d, %zu pixel bytes\n", limits.MaxWidth, limits.MaxHeight,
                limits.MaxPixelBytes);

    const std::vector<Sample> hostile = {
        {"PNG pCAL claiming 2 GiB", PngWithHugeChunk("pCAL")},
        {"PNG sCAL claiming 2 GiB", PngWithHugeChunk("sCAL")},
        {"icon with the pCAL PNG", EncodeIco({{1, 1, 32, PngWithHugeChunk("pCAL")}})},
        {"PNG unknown chunk claiming 2 GiB", PngWithHugeChunk("prVt")},
        {"JPEG APP1 of 65535 bytes", JpegWithHugeMarker(0xE1)},
    };
    const Sample valid = {"valid PNG at the limits",
                          EncodePng(Gradient(limits.MaxWidth, limits.MaxHeight))};

    MeasureInChild(valid.Name, {&valid}, limits);
    std::vector<const Sample *> all;
    for (const Sample &sample : hostile) {
        MeasureInChild(sample.Name, {&sample}, limits);
        all.push_back(&sample);
    }
    MeasureInChild("all hostile files, one process", all, limits);
    return 0;
}
