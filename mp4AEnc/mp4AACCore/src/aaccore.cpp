#include "mp4aenc/aaccore.h"

#include <cstdlib>
#include <cstring>

#include "mp4aenc/bitstream.h"
#include "mp4aenc/state_table.h"
#include "mp4aenc/stereo_prepro.h"
#include "mp4aenc/toolmain.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/aaccore";

const AacCoreStages* g_stages = nullptr;  // null: the product's inner encoder

#define STAGE(name) {#name, s.name != nullptr}

// The stages a core needs, in the order it uses them first.
const char* first_missing_stage(const AacCoreStages& s) {
  const struct {
    const char* name;
    bool present;
  } needed[] = {STAGE(tfdec_create),        STAGE(tfdec_frame),       STAGE(tfdec_free),
                STAGE(psy_create),          STAGE(psy_analyse),       STAGE(psy_frame_time),
                STAGE(psy_channel),         STAGE(psy_lowpass),       STAGE(band_pe),
                STAGE(psy_free),            STAGE(loops_create),      STAGE(loops_outer),
                STAGE(loops_free),          STAGE(bitmux_create),     STAGE(bitmux_buffer),
                STAGE(bitmux_reservoir_fill), STAGE(bitmux_hyperframing), STAGE(hyperframe_encode),
                STAGE(bitmux_start_frame),  STAGE(bitmux_prepare_frame), STAGE(bitmux_update_reservoir),
                STAGE(bitmux_write_frame),  STAGE(bitmux_side_value), STAGE(bitmux_free)};
  for (const auto& n : needed)
    if (!n.present) return n.name;
  return nullptr;
}

ErrorRecord* fail(AacCore* core, ErrorRecord* err, int line, const char* step) {
  aac_core_free(core);
  return error_add_trace(kModule, line, step, err);
}

}  // namespace

const AacCoreStages* aac_core_stages_in_product(void) { return aac_inner_encoder_stages(); }

void aac_core_use_stages(const AacCoreStages* stages) { g_stages = stages; }

AacFrameBudget aac_frame_budget(long bitrate, int frameLength, long sampleRate, long reservoirFill,
                                const Mp4BitstreamWriter* writer) {
  AacFrameBudget b = {};
  b.average = sampleRate > 0 ? long((long long)bitrate * frameLength / sampleRate) : 0;
  b.reservoirFill = reservoirFill;
  const double most = 1.5 * double(b.average);
  const double withReservoir = double(b.average) + 0.9 * double(reservoirFill > 0 ? reservoirFill : 0);
  b.budget = long(most < withReservoir ? most : withReservoir);
  b.headerBits = header_bits_for_length(writer, b.budget);
  if (!b.headerBits) b.headerBits = header_bits(writer);
  return b;
}

ErrorRecord* aac_core_create(AacCore** out, const AacCoreSetup* setup) {
  if (!out || !setup || !setup->map || !setup->offsets || !setup->strides)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  *out = nullptr;
  const AacCoreStages* stages = g_stages ? g_stages : aac_inner_encoder_stages();
  if (const char* missing = first_missing_stage(*stages))
    return error_create(kModule, __LINE__, nullptr,
                        "AAC core stage %s is not built into this library (inner encoder \"%s\")", missing,
                        stages->name ? stages->name : "");
  const int channels = setup->map->header.channels;
  if (channels < 1 || channels > kAacMaxChannels)
    return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  if (setup->frameLength <= 0 || setup->bitrate <= 0)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");

  // 1. Instance, offsets and strides.
  auto* core = static_cast<AacCore*>(std::calloc(1, sizeof(AacCore)));
  if (!core) return error_create(kModule, __LINE__, nullptr, "out of memory");
  core->stages = stages;
  core->map = setup->map;
  core->mapHeader = setup->map->header;
  core->channels = channels;
  for (int c = 0; c < channels; ++c) {
    core->offsets[c] = setup->offsets[c];
    core->strides[c] = setup->strides[c];
  }
  core->bitrate = setup->bitrate;
  core->sampleRate = setup->sampleRate;
  core->objectType = setup->objectType;
  core->notObjectType1 = setup->objectType != 1;

  // 2. Sampling frequency index, frame length, work area.
  core->samplingIndex = aac_sampling_index(setup->sampleRate);
  if (core->samplingIndex < 0)
    return fail(core, error_create(kModule, __LINE__, nullptr, "wrong samplerate"), __LINE__, "sampling index");
  core->frameLength = setup->frameLength;
  core->work = static_cast<float*>(std::calloc(size_t(channels) * size_t(core->frameLength), sizeof(float)));
  if (!core->work) return fail(core, error_create(kModule, __LINE__, nullptr, "out of memory"), __LINE__, "work");

  // 3-8. The stages, in this order.
  ErrorRecord* err = stages->tfdec_create(&core->tfdec, core);
  if (err) return fail(core, err, __LINE__, "tfdec_create");
  err = stages->psy_create(&core->psy, core);
  if (err) return fail(core, err, __LINE__, "psy_create");
  core->mode = 1;
  if (core->mapHeader.firstIsPair) {
    err = stereo_prepro_create(&core->prepro, channels, core->bitrate, float(core->sampleRate));
    if (err) return fail(core, err, __LINE__, "stereo_prepro_create");
  }
  err = tool_control_create(&core->tools, core);
  if (err) return fail(core, err, __LINE__, "tool_control_create");
  err = stages->loops_create(&core->loops, core);
  if (err) return fail(core, err, __LINE__, "loops_create");
  float lowLong = 0.0f, lowShort = 0.0f;
  stages->psy_lowpass(core->psy, &lowLong, &lowShort);
  const AacBitmuxSetup mux = {lowLong, lowShort, core->sampleRate, core->bitrate, core->frameLength,
                              1000.0f, core->notObjectType1, core->map, 3, 0};
  err = stages->bitmux_create(&core->bitmux, core, &mux);
  if (err) return fail(core, err, __LINE__, "bitmux_create");
  // 9.
  if (lowLong != lowShort)
    return fail(core, error_create(kModule, __LINE__, nullptr, "lowpass frequencies for long and short not equal!"),
                __LINE__, "lowpass");
  core->lowpass = lowLong;
  *out = core;
  return nullptr;
}

ErrorRecord* aac_core_encode(AacCore* core, const float* input, int flag) {
  if (!core || !input) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  const AacCoreStages& s = *core->stages;
  ErrorRecord* err = nullptr;
  // A caller that does not drain its frames would overflow the queue in
  // the middle of a frame; refused before anything changes.
  const int pending = bitbuf_pending_frames(aac_core_buffer(core));
  if (pending >= kBitBufferFrameQueue)
    return error_create(kModule, __LINE__, nullptr, "%d frames pending in the bit buffer: drain them first", pending);
  // 1. Hyperframing takes its own path.
  if (s.bitmux_hyperframing(core->bitmux)) {
    err = s.hyperframe_encode(core->bitmux, core);
    return err ? error_add_trace(kModule, __LINE__, "hyperframe_encode", err) : nullptr;
  }
  // 2.
  if ((err = s.bitmux_start_frame(core->bitmux, core))) return error_add_trace(kModule, __LINE__, "start", err);
  // 3. Each channel's samples into its block.
  const int n = core->frameLength;
  for (int c = 0; c < core->channels; ++c) {
    float* block = core->work + size_t(c) * size_t(n);
    const float* from = input + core->offsets[c];
    for (int i = 0; i < n; ++i) block[i] = from[size_t(i) * size_t(core->strides[c])];
  }
  // 4. Stereo preprocessing of the first pair.
  if (core->prepro) stereo_prepro_frame(core->prepro, core->work, core->work + n, n);
  // 5-6.
  if ((err = s.psy_analyse(core->psy, core))) return error_add_trace(kModule, __LINE__, "psy_analyse", err);
  if ((err = tool_control_frame(core->tools, core, s.psy_frame_time(core->psy))))
    return error_add_trace(kModule, __LINE__, "tool_control_frame", err);
  // 7.
  if (core->prepro && core->channels == 2) {
    const AacPsyChannel* p = s.psy_channel(core->psy, 0);
    if (p) stereo_prepro_post(core->prepro, p->midEnergy, p->sideEnergy, core->tools->pe[0] + core->tools->pe[1]);
  }
  // 8. Bit budget.
  const AacFrameBudget budget = aac_frame_budget(core->bitrate, core->frameLength, core->sampleRate,
                                                 s.bitmux_reservoir_fill(core->bitmux), core->writer);
  core->lastBudget = budget;
  // 9.
  if ((err = s.bitmux_prepare_frame(core->bitmux, core, &budget)))
    return error_add_trace(kModule, __LINE__, "bitmux_prepare_frame", err);
  if ((err = s.loops_outer(core->loops, core, &budget))) return error_add_trace(kModule, __LINE__, "loops_outer", err);
  if ((err = s.bitmux_update_reservoir(core->bitmux, core, &budget)))
    return error_add_trace(kModule, __LINE__, "bitmux_update_reservoir", err);
  if ((err = s.bitmux_write_frame(core->bitmux, core, &budget)))
    return error_add_trace(kModule, __LINE__, "bitmux_write_frame", err);
  // 10-11.
  if ((err = tool_control_post(core->tools, core, flag)))
    return error_add_trace(kModule, __LINE__, "tool_control_post", err);
  if ((err = s.tfdec_frame(core->tfdec, core))) return error_add_trace(kModule, __LINE__, "tfdec_frame", err);
  ++core->frames;
  return nullptr;
}

BitBuffer* aac_core_buffer(const AacCore* core) {
  return core && core->bitmux ? core->stages->bitmux_buffer(core->bitmux) : nullptr;
}

void aac_core_free(AacCore* core) {
  if (!core) return;
  const AacCoreStages& s = *core->stages;
  if (core->bitmux) s.bitmux_free(core->bitmux);
  if (core->loops) s.loops_free(core->loops);
  tool_control_free(core->tools);
  stereo_prepro_free(core->prepro);
  if (core->psy) s.psy_free(core->psy);
  if (core->tfdec) s.tfdec_free(core->tfdec);
  state_table_free(core->state);
  std::free(core->work);
  std::free(core);
}
