// Sound fixtures made by our own code: tones and sweeps, WAV images (with
// optional extra chunks), raw PCM sound files, and Ogg Vorbis images encoded
// with libvorbisenc.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

// Interleaved S16 samples.
std::vector<int16_t> Sine(double hz, double seconds, int rate, int channels, double amplitude);
// A logarithmic sweep from f0 to f1 Hz.
std::vector<int16_t> Sweep(double f0, double f1, double seconds, int rate, int channels, double amplitude);

// A RIFF WAVE image; `before_data` chunks (id, body) go between "fmt " and "data".
std::vector<uint8_t> Wav(const std::vector<int16_t>& samples, int channels, int rate,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& before_data = {});
// An 8-bit unsigned WAV image.
std::vector<uint8_t> Wav8(const std::vector<uint8_t>& samples, int channels, int rate);

// The engine's raw PCM sound file: `entries` table entries, loop points in
// units of (data bytes / entries), stereo 16-bit 44,100 Hz samples.
std::vector<uint8_t> RawPcm(const std::vector<int16_t>& stereo, uint32_t entries, uint32_t loop_start,
                            uint32_t loop_end);

// An Ogg Vorbis image at the given quality (-0.1 .. 1.0).
std::vector<uint8_t> Ogg(const std::vector<int16_t>& samples, int channels, int rate, float quality);

// A tone as a WAV image of any PCM layout: integer samples of 8 (unsigned),
// 16, 24 or 32 bits or 32-bit float, optionally with a WAVE_FORMAT_EXTENSIBLE
// format chunk.
std::vector<uint8_t> WavPcm(double hz, double seconds, int rate, int channels, double amplitude, int bits,
                            bool isFloat, bool extensible);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace fixture
