// Test and benchmark helpers: tones, their measurement, the 44.1 kHz stereo
// to 8 kHz mono chain under test, and ffmpeg as a peer.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

// Interleaved stereo 16-bit multitone; every tone has `amplitude` on both
// channels with a per-channel phase offset.
std::vector<int16_t> stereo_tones(int rate, double seconds, const std::vector<double>& freqs,
                                  double amplitude);

// Complex amplitude of a tone over samples [from, to) (a Blackman-Harris
// window keeps the other tones out).
std::complex<double> tone_amplitude(const std::vector<double>& x, int rate, double freq, size_t from,
                                    size_t to);

// Our chain as a codec object runs it: format converter (stereo to mono)
// then rate converter, in blocks of 1024 input frames, draining at the end.
// `kernel`: how the converter sums its taps (ResampleKernel).
std::vector<int16_t> convert_chain(const std::vector<int16_t>& stereo, int inRate, int outRate,
                                   int frameLength, int kernel = 2);

// Runs ffmpeg on raw stereo s16le at inRate with the given filter chain and
// answers raw mono s16le; false when ffmpeg is not reachable.
// `seconds` receives ffmpeg's own processor time (its -benchmark utime):
// on a shared machine that, not the wall clock, is what compares with our
// own processor time; it leaves out process start-up.
// `loops` plays the input that many times over (a longer run makes the
// processor-time figures steadier).
bool ffmpeg_convert(const std::vector<int16_t>& stereo, int inRate, const std::string& filter,
                    std::vector<int16_t>* out, double* seconds = nullptr, int loops = 1);

struct ResamplerState;
// Runs a signal through a resampler in whole input blocks (count 0 continues
// pending input), then optionally drains the filter's tail.
std::vector<float> resample_all(ResamplerState* s, const std::vector<float>& in, bool drain);

// Rejection (dB) of a full-level tone at `freq` by the codec objects' 44.1 kHz
// to 8 kHz converter, measured on its float output (16-bit output would truncate
// such small values to zero), summing its taps with `kernel`
// (ResampleKernel; by default the fastest one).
double alias_rejection_db(double freq, int kernel = 2);
// The smallest of those over [from, to] in steps; *at gets its frequency.
double worst_alias_rejection_db(double from, double to, double step, int kernel, double* at);

std::vector<double> to_double(const std::vector<int16_t>& v);
