#include "signal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "resamplelib/pcm_frame_buffer.h"

namespace {
const double kPi = 3.14159265358979323846;
}

std::vector<int16_t> stereo_tones(int rate, double seconds, const std::vector<double>& freqs,
                                  double amplitude) {
  const size_t frames = size_t(rate * seconds);
  std::vector<int16_t> v(2 * frames);
  for (size_t n = 0; n < frames; ++n)
    for (int c = 0; c < 2; ++c) {
      double s = 0;
      for (size_t k = 0; k < freqs.size(); ++k) s += amplitude * std::sin(2 * kPi * freqs[k] * n / rate + 0.3 * k + 0.1 * c);
      v[2 * n + c] = int16_t(std::lround(s));
    }
  return v;
}

std::complex<double> tone_amplitude(const std::vector<double>& x, int rate, double freq, size_t from,
                                    size_t to) {
  std::complex<double> sum = 0;
  double weight = 0;
  const double len = double(to - from);
  for (size_t n = from; n < to; ++n) {
    double p = 2 * kPi * (n - from) / len;
    double w = 0.35875 - 0.48829 * std::cos(p) + 0.14128 * std::cos(2 * p) - 0.01168 * std::cos(3 * p);
    sum += w * x[n] * std::polar(1.0, -2 * kPi * freq * double(n) / rate);
    weight += w;
  }
  return 2.0 * sum / weight;
}

std::vector<int16_t> convert_chain(const std::vector<int16_t>& stereo, int inRate, int outRate,
                                   int frameLength, int kernel) {
  CFormatConverter format;
  format.Open(2, 1, 1, 16, inRate);
  CRateConverter rate;
  rate.Open(inRate, outRate, 1, 16, frameLength, outRate, 1);
  sinc_set_kernel(rate.resampler->sinc, kernel);
  rate.chain.SetKernel(DecimatorChain::Kernel(kernel));
  std::vector<int16_t> mono, out;
  // Room made once, so that the figures are the converters' own.
  mono.reserve(stereo.size() / 2);
  out.reserve(size_t(double(stereo.size() / 2) * outRate / inRate) + 4096);
  const size_t block = 2 * 1024;
  for (size_t at = 0; at < stereo.size(); at += block) {
    size_t n = std::min(block, stereo.size() - at);
    PcmBlock in{reinterpret_cast<uint8_t*>(const_cast<int16_t*>(stereo.data() + at)), uint32_t(2 * n), 0, 0, 0};
    PcmBlock copy{};
    format.Copy(&in, &copy);
    format.Downmix(&copy);
    const int16_t* s = reinterpret_cast<const int16_t*>(copy.data);
    mono.insert(mono.end(), s, s + copy.length / 2);
  }
  std::vector<int16_t> frame(static_cast<size_t>(frameLength));
  size_t at = 0;
  for (;;) {
    int needed = 0;
    rate.Needed(&needed);
    if (needed > 0 && at + size_t(needed) > mono.size()) break;
    PcmBlock in{reinterpret_cast<uint8_t*>(mono.data() + at), uint32_t(2 * needed), 0, 0, 0};
    at += size_t(needed);
    PcmBlock outBlock{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
    rate.Process(&in, &outBlock, uint32_t(2 * frame.size()));
    out.insert(out.end(), frame.begin(), frame.begin() + outBlock.length / 2);
  }
  // End of stream: the rest of the input and the filter's tail.
  PcmBlock rest{reinterpret_cast<uint8_t*>(mono.data() + at), uint32_t(2 * (mono.size() - at)), 0, 0, 0};
  for (PcmBlock* feed = &rest;; feed = nullptr) {
    PcmBlock outBlock{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
    if (rate.Drain(feed, &outBlock, uint32_t(2 * frame.size())) != 0 || outBlock.length == 0) break;
    out.insert(out.end(), frame.begin(), frame.begin() + outBlock.length / 2);
  }
  rate.Close();
  format.Close();
  return out;
}

bool ffmpeg_convert(const std::vector<int16_t>& stereo, int inRate, const std::string& filter,
                    std::vector<int16_t>* out, double* seconds, int loops) {
#ifdef _WIN32
  (void)stereo, (void)inRate, (void)filter, (void)out, (void)seconds, (void)loops;
  return false;
#else
  if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0) return false;
  char inName[] = "/tmp/resample_peer_in_XXXXXX";
  int fd = mkstemp(inName);
  if (fd < 0) return false;
  FILE* f = fdopen(fd, "wb");
  std::fwrite(stereo.data(), 2, stereo.size(), f);
  std::fclose(f);
  std::string outName = std::string(inName) + ".out";
  std::string logName = std::string(inName) + ".log";
  std::string cmd = "ffmpeg -hide_banner -nostats -loglevel info -benchmark -y -f s16le -ar " + std::to_string(inRate) +
                    " -ac 2 -stream_loop " + std::to_string(loops - 1) + " -i " + inName + " -af '" + filter + "' -f s16le " + outName + " >" + logName + " 2>&1";
  int rc = std::system(cmd.c_str());
  std::remove(inName);
  if (seconds) {
    *seconds = 0;
    std::ifstream log(logName);
    std::string line;
    while (std::getline(log, line)) {
      size_t at = line.find("utime=");
      if (at != std::string::npos) *seconds = std::atof(line.c_str() + at + 6);
    }
  }
  std::remove(logName.c_str());
  if (rc != 0) return false;
  std::ifstream in(outName, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(outName.c_str());
  out->resize(bytes.size() / 2);
  std::memcpy(out->data(), bytes.data(), out->size() * 2);
  return true;
#endif
}

std::vector<float> resample_all(ResamplerState* s, const std::vector<float>& in, bool drain) {
  std::vector<float> out;
  int needed, block, produced;
  float *inBuf, *outBuf;
  for (size_t at = 0;;) {
    resample_flush(s, 0, 0, &needed, &block, &inBuf, &outBuf);
    if (needed > 0) {
      if (at + size_t(needed) > in.size()) break;
      std::copy(in.begin() + long(at), in.begin() + long(at) + needed, inBuf);
      at += size_t(needed);
    }
    resample_process(s, needed, &produced, &outBuf);
    out.insert(out.end(), outBuf, outBuf + produced);
  }
  if (drain) {
    int r;
    do {
      r = resample_process(s, 0, &produced, &outBuf);
      out.insert(out.end(), outBuf, outBuf + produced);
    } while (r == RESAMPLE_OUTPUT_READY);
  }
  return out;
}

double alias_rejection_db(double freq, int kernel) {
  const double amplitude = 16000.0;
  CRateConverter rate;
  if (rate.Open(44100, 8000, 1, 16, 1024, 8000, 1) != 0) return 0.0;
  sinc_set_kernel(rate.resampler->sinc, kernel);
  rate.chain.SetKernel(DecimatorChain::Kernel(kernel));
  std::vector<float> tone(44100 * 2);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(amplitude * std::sin(2 * kPi * freq * double(i) / 44100));
  std::vector<float> out;
  for (size_t at = 0;;) {
    int needed = 0;
    rate.Needed(&needed);
    if (at + size_t(needed) > tone.size()) break;
    float* result = nullptr;
    int produced = 0;
    if (rate.ProcessFloat(tone.data() + at, needed, &result, &produced) != 0) return 0.0;
    at += size_t(needed);
    out.insert(out.end(), result, result + produced);
  }
  rate.Close();
  double energy = 0;
  for (size_t n = 1000; n < out.size() - 1000; ++n) energy += double(out[n]) * out[n];
  const double rms = std::sqrt(energy / double(out.size() - 2000));
  return 20.0 * std::log10(amplitude / std::sqrt(2.0) / std::max(rms, 1e-30));
}

double worst_alias_rejection_db(double from, double to, double step, int kernel, double* at) {
  double worst = 1e9;
  for (double f = from; f <= to; f += step) {
    const double r = alias_rejection_db(f, kernel);
    if (r < worst) {
      worst = r;
      if (at) *at = f;
    }
  }
  return worst;
}

std::vector<double> to_double(const std::vector<int16_t>& v) { return std::vector<double>(v.begin(), v.end()); }
