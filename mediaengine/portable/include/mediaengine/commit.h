// Pure parts of committing the settings to the filters: the content version
// text, the streamer's stream table and its output-type code, and the stream
// ids the audio encoder filter's streams get.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mediaengine/records.h"

namespace mediaengine {

// "Content V3.0 Scrivel V3.0 Build 113" for 30, and the older forms for 10,
// 20 and 21; false for any other content version.
bool ContentVersionText(int32_t contentVersion, uint32_t build, std::u16string* text);

// The version word the streamer gets: (major / 100) x 256 + minor.
uint16_t VersionWord(uint32_t major, uint32_t minor);

// Media output type as the streamer codes it: 1 -> 4, 4 -> 1, 5 -> 3,
// 12 -> 2, else 0; plus 4 with file output.
int32_t StreamerOutputType(int32_t mediaOutputType, uint16_t fileOutput);

// The stream table: up to seven entries of 96 bytes (two video layers, five
// audio streams), little-endian. The AAC stream's decoder configuration comes
// from the audio encoder filter: the callback writes at most 64 bytes and
// their count, or answers false.
constexpr int kStreamEntryBytes = 96;
constexpr int kStreamTableEntries = 7;
using AacConfigSource = std::function<bool(uint8_t* config, uint32_t* length)>;
int BuildStreamTable(const KROutputConfig& output, const KRAudioEncoderConfig& audio, uint16_t versionWord,
                     const AacConfigSource& aacConfig, uint8_t table[kStreamTableEntries * kStreamEntryBytes]);

// The audio encoder filter's streams in commit order: each enabled entry of
// the record takes the next stream id from 0, whatever its codec.
struct AudioStreamCommit {
  int entry;
  int32_t codec;
  int streamId;
};
std::vector<AudioStreamCommit> AudioCommitOrder(const KRAudioEncoderConfig& audio);

}  // namespace mediaengine
