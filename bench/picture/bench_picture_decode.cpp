// Decoding a 100 x 100 avatar from memory, once per format: the time of every single decode is
// recorded and reported as p50 and p99 (microseconds). Goal: p99 at most 1 ms. The processor time
// of each decode is reported too (cpu_p50_us, cpu_p99_us): on a busy machine the elapsed time's
// tail mostly measures waiting for a processor.
#include "../Percentile.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "picture/Picture.h"
#include "tests/picture/PictureEncoders.h"

using namespace picture_test;

namespace {

// A photo-like avatar: smooth colour gradients with some noise, so that the compressed formats
// do real work.
Picture Avatar() {
    Picture picture = Gradient(100, 100);
    uint32_t state = 12345;
    for (uint32_t &p : picture.Pixels) {
        state = state * 1103515245u + 12345u;
        const uint32_t noise = (state >> 16) & 0x0F;
        const uint32_t r = std::min<uint32_t>(255, ((p >> 16) & 0xFF) + noise);
        const uint32_t g = std::min<uint32_t>(255, ((p >> 8) & 0xFF) + noise / 2);
        p = (p & 0xFF0000FF) | r << 16 | g << 8;
    }
    return picture;
}

void DecodeAvatar(benchmark::State &state, const ByteVector &bytes) {
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    for (auto _ : state) {
        const std::clock_t cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        auto picture = DecodePicture(bytes);
        const auto end = std::chrono::steady_clock::now();
        const std::clock_t cpuEnd = std::clock();
        benchmark::DoNotOptimize(picture);
        if (!picture || picture->Width != 100) {
            state.SkipWithError("the avatar did not decode");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        cpuMicros.push_back(1e6 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    state.counters["p50_us"] = Percentile(micros, 0.50);
    state.counters["p99_us"] = Percentile(micros, 0.99);
    state.counters["cpu_p50_us"] = Percentile(cpuMicros, 0.50);
    state.counters["cpu_p99_us"] = Percentile(cpuMicros, 0.99);
}

}  // namespace

int main(int argc, char **argv) {
    const Picture avatar = Avatar();
    const std::pair<const char *, ByteVector> formats[] = {
        {"bmp_24bit", EncodeBmp(avatar, {24})},
        {"jpeg_q85", EncodeJpeg(avatar, {JpegOptions::Colour::Rgb, 85})},
        {"png_rgba", EncodePng(avatar)},
        {"ico_32bit_bmp", EncodeIco({{100, 100, 32, EncodeIconDib(avatar, 32)}})},
        {"ico_png", EncodeIco({{100, 100, 32, EncodePng(avatar)}})},
    };
    for (const auto &[name, bytes] : formats)
        benchmark::RegisterBenchmark((std::string("DecodeAvatar100x100/") + name).c_str(),
                                     DecodeAvatar, bytes)
            ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
