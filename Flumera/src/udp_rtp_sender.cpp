// The UDP/RTP sender: media buffers packetized as RTP, "$"-framed into one
// block per buffer, and sent in the RTSP connection of every admitted
// kind-1 client. Each client keeps its own unsent blocks: a slow reader
// falls behind alone, and after 4 s of backlog it skips to the next key
// frame.
#include <winsock2.h>

#include <algorithm>

#include "flumera/connection_framing.h"
#include "flumera/kr_flumera.h"
#include "flumera/media_buffer.h"
#include "server_parts.h"

using flumera::AccessUnitList;

struct UdpRtpSender::ClientState {
  unsigned long id = 0;
  std::deque<std::shared_ptr<MediaBlock>> queue;
  bool waitKey = true;
  bool needConfig[2] = {true, true};
};

UdpRtpSender::UdpRtpSender(KRFlumera& owner) : StreamOutput(owner) { InitializeCriticalSection(&sendLock_); }

UdpRtpSender::~UdpRtpSender() {
  Terminate();
  DeletePacketizers();
  DeleteCriticalSection(&sendLock_);
}

void UdpRtpSender::DeletePacketizers() {
  for (auto& p : packetizers_) p.reset();
}

void UdpRtpSender::MakePacketizers() {
  DeletePacketizers();
  const _tagSESSIONINFO* s = owner_.GetSessionInfo();
  const KRTrackTable* table = s ? s->trackTable : nullptr;
  // The synchronisation source: the session number masked by the payload
  // numbers moved to the top byte, which leaves 0 for every session number.
  const uint32_t ssrc = 0;
  for (unsigned long i = 0; table && table->tracks && i < table->count && i < kMaxTracks; ++i) {
    const KRTrackRecord& r = table->tracks[i];
    switch (r.kind) {
      case 1:
      case 2:
        packetizers_[i] = std::make_unique<flumera::VideoRtpPacketizer>(allocator_, uint8_t(r.payloadNumber), ssrc);
        break;
      case 3:
        packetizers_[i] = std::make_unique<flumera::AudioRtpPacketizer>(allocator_, uint8_t(r.payloadNumber + 95), ssrc);
        break;
      case 4:
        packetizers_[i] = std::make_unique<flumera::AudioRtpPacketizer2>(allocator_, uint8_t(r.payloadNumber + 95), ssrc);
        break;
      default: break;  // AAC and others are not sent as RTP
    }
  }
}

void UdpRtpSender::Open() {
  EnterCriticalSection(&sendLock_);
  StreamOutput::Open();
  hasVideo_ = owner_.GetSessionInfo() && (owner_.GetSessionInfo()->mediaMask & 2);
  MakePacketizers();
  clients_.clear();
  LeaveCriticalSection(&sendLock_);
}

void UdpRtpSender::Reopen() {
  // Called under the all-clients lock, which the sender takes after its
  // send lock: the sender thread starts afresh at its next run.
  InterlockedExchange(&reopen_, 1);
}

void UdpRtpSender::StartAfresh() {
  ReleaseQueued();
  for (auto& p : packetizers_)
    if (p) p->Reset(), p->set_sequence(0);
  clients_.clear();
}

void UdpRtpSender::Start() {
  EnterCriticalSection(&sendLock_);
  InterlockedExchange(&reopen_, 0);
  StartAfresh();
  LeaveCriticalSection(&sendLock_);
  waitTimeout_ = kRetryMs;  // blocked connections are tried again
  StreamOutput::Start();
}

bool UdpRtpSender::Accept(MsgItem* item) {
  ClientLists& lists = owner_.Parts()->clients;
  lists.Lock();
  const bool anyone = !lists.framed.empty();
  lists.Unlock();
  if (owner_.GetCurState() == KRS_PAUSE || !anyone) {
    FreeItem(item);
    return false;
  }
  return true;
}

UdpRtpSender::ClientState& UdpRtpSender::StateOf(unsigned long id) {
  for (auto& s : clients_)
    if (s->id == id) return *s;
  clients_.push_back(std::make_unique<ClientState>());
  ClientState& s = *clients_.back();
  s.id = id;
  s.waitKey = hasVideo_;  // a late joiner starts at a key frame
  return s;
}

void UdpRtpSender::ForgetGoneClients() {
  ClientLists& lists = owner_.Parts()->clients;
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                [&](const std::unique_ptr<ClientState>& s) {
                                  DESTLISTITEM* c = lists.Find(s->id);
                                  return c == nullptr || c->kind != 1 ||
                                         std::find(lists.framed.begin(), lists.framed.end(), c) == lists.framed.end();
                                }),
                 clients_.end());
}

std::shared_ptr<MediaBlock> UdpRtpSender::TakeBlock(flumera::RtpPacketizer& p) {
  auto block = std::make_shared<MediaBlock>();
  AccessUnitList* head = p.TakePackets();
  for (AccessUnitList* packet = head; packet; packet = packet->Next()) {
    flumera::FramedPacket framed;
    if (framed.Frame(packet, 0) != flumera::kFramingOk) continue;
    for (int i = 0; i < framed.Count(); ++i) {
      const flumera::Fragment& f = framed.Get(i);
      block->bytes.insert(block->bytes.end(), f.data, f.data + f.length);
    }
  }
  allocator_.FreeChain(head);
  return block;
}

bool UdpRtpSender::AnyNeedsConfig(int layer) {
  ClientLists& lists = owner_.Parts()->clients;
  for (DESTLISTITEM* c : lists.framed) {
    bool known = false;
    for (auto& s : clients_) {
      if (s->id != c->id) continue;
      known = true;
      if (s->needConfig[layer]) return true;
    }
    if (!known) return true;
  }
  return false;
}

void UdpRtpSender::SendVideo(const uint8_t* data, int length, uint32_t stamp) {
  if (length < 3) return;  // no bytes besides the flags and the tag
  const uint8_t f = data[length - 2];
  const int layer = flumera::IsBaseLayer(f) ? 0 : 1;
  const _tagSESSIONINFO* s = owner_.GetSessionInfo();
  const KRTrackTable* table = s->trackTable;
  if (!table || !table->tracks || unsigned(layer) >= table->count) return;
  flumera::RtpPacketizer* p = packetizers_[layer].get();
  const KRTrackRecord& track = table->tracks[layer];
  if (!p || (track.kind != 1 && track.kind != 2)) return;
  const uint8_t header = flumera::VideoHeaderByte(f);

  auto build = [&](bool withConfig) -> std::shared_ptr<MediaBlock> {
    AccessUnitList unit(AccessUnitList::kMaxFragments);
    unit.AppendCopy(&header, 1);
    const uint32_t configLength = std::min<uint32_t>(track.configLength, sizeof track.config);
    if (withConfig && configLength) unit.Append(track.config, configLength);
    unit.Append(data, uint32_t(length - 2));
    if (p->Packetize(unit, stamp) != flumera::kPacketizeOk) return nullptr;
    p->Flush();
    auto block = TakeBlock(*p);
    block->video = true;
    block->key = layer == 0 && flumera::IsKeyFrame(f);
    block->layer = layer;
    return block;
  };
  std::shared_ptr<MediaBlock> withConfig;
  if (AnyNeedsConfig(layer) && track.configLength) {
    // Both forms carry the same sequence numbers and time stamp.
    const uint16_t sequence = p->sequence();
    withConfig = build(true);
    p->set_sequence(sequence);
  }
  std::shared_ptr<MediaBlock> plain = build(false);
  if (!plain) return;
  const flumera::MediaTimes t = flumera::ReadTimes(data, size_t(length));
  plain->start = t.stamp;
  plain->end = t.end;
  if (withConfig) withConfig->start = t.stamp, withConfig->end = t.end;
  Deliver(plain, withConfig);
}

void UdpRtpSender::SendAudio(const uint8_t* data, int length, uint32_t stamp, uint32_t duration) {
  const _tagSESSIONINFO* s = owner_.GetSessionInfo();
  const KRTrackTable* table = s->trackTable;
  if (!table || !table->tracks) return;
  const flumera::MediaTimes t = flumera::ReadTimes(data, size_t(length));
  // The buffer is ours (each output has its own copy): padding bits are
  // cleared in place.
  uint8_t* bytes = const_cast<uint8_t*>(data);
  size_t offset = 0;
  flumera::AudioPacket packet;
  while (flumera::NextAudioPacket(bytes, size_t(length - 1), &offset, &packet)) {
    int slot = -1;
    for (unsigned long i = 0; i < table->count && i < kMaxTracks; ++i) {
      if (table->tracks[i].payloadNumber == uint32_t(packet.streamId) + 1) {
        slot = int(i);
        break;
      }
    }
    if (slot < 0 || !packetizers_[slot]) continue;  // AAC: not sent
    flumera::RtpPacketizer& p = *packetizers_[slot];
    const bool amr = table->tracks[slot].kind == 3;
    uint32_t frameTime = stamp;
    int i = 0;
    while (i < packet.count) {
      // One unit per run of frames of one type: the table of contents
      // names each frame's own type.
      AccessUnitList unit(AccessUnitList::kMaxFragments);
      const uint8_t type = packet.frames[i].length ? packet.frames[i].data[0] : 0;
      unit.AppendCopy(&type, 1);
      const uint32_t unitTime = frameTime;
      while (i < packet.count && unit.Count() < AccessUnitList::kMaxFragments) {
        const flumera::AudioFrame& f = packet.frames[i];
        if (f.length == 0 || f.data[0] != type) break;
        ++i;
        frameTime += duration;
        if (f.length < 2) continue;  // no speech byte
        if (amr) {
          bytes[(f.data - bytes) + f.length - 1] &= flumera::AmrLastByteMask(type);
          unit.Append(f.data + 1, f.length - 1);
        } else {
          unit.Append(f.data, f.length);  // the EVRC packetizer reads the rate from the frame itself
        }
      }
      if (i < packet.count && packet.frames[i].length == 0) ++i, frameTime += duration;
      if (unit.Count() > 1) p.Packetize(unit, unitTime);
    }
    p.Flush();
    auto block = TakeBlock(p);
    if (block->bytes.empty()) continue;
    block->start = t.stamp;
    block->end = t.end;
    Deliver(block, nullptr);
  }
}

void UdpRtpSender::Deliver(const std::shared_ptr<MediaBlock>& plain, const std::shared_ptr<MediaBlock>& withConfig) {
  ClientLists& lists = owner_.Parts()->clients;
  for (DESTLISTITEM* c : lists.framed) {
    if (c->status != kClientPlaying || c->broken) continue;
    ClientState& s = StateOf(c->id);
    const std::shared_ptr<MediaBlock>& b = plain;
    // Four seconds behind: what has not begun to go is dropped, and the
    // client starts again at a key frame.
    if (!s.queue.empty() && int32_t(b->end - s.queue.front()->start) >= int32_t(kLateMs)) {
      s.queue.clear();
      s.waitKey = hasVideo_;
    }
    if (s.waitKey) {
      if (!(b->video && b->key)) continue;
      s.waitKey = false;
    }
    if (b->video && s.needConfig[b->layer]) {
      s.needConfig[b->layer] = false;
      if (withConfig) {
        s.queue.push_back(withConfig);
        continue;
      }
    }
    s.queue.push_back(b);
  }
}

void UdpRtpSender::Flush(ClientState& s, DESTLISTITEM* c) {
  EnterCriticalSection(c->sendLock);
  while (c->SendPartial() && !c->broken && !s.queue.empty()) {
    c->partial = s.queue.front();
    c->partialOffset = 0;
    s.queue.pop_front();
  }
  LeaveCriticalSection(c->sendLock);
}

void UdpRtpSender::Pump() {
  ClientLists& lists = owner_.Parts()->clients;
  ForgetGoneClients();
  for (DESTLISTITEM* c : lists.framed) Flush(StateOf(c->id), c);
}

bool UdpRtpSender::DataHandler() {
  EnterCriticalSection(&sendLock_);
  if (InterlockedExchange(&reopen_, 0)) StartAfresh();
  ClientLists& lists = owner_.Parts()->clients;
  while (MsgItem* item = queue_.Pop()) {
    const int length = item->length;
    uint8_t* data = item->data;
    if (owner_.GetCurState() != KRS_PLAY || !data || length < 1) {
      FreeItem(item);
      continue;
    }
    const uint8_t tag = data[length - 1];
    const flumera::MediaTimes t = flumera::ReadTimes(data, size_t(length));
    lists.Lock();
    ForgetGoneClients();
    if (tag == flumera::kVideoTag)
      SendVideo(data, length, t.stamp);
    else if (tag == flumera::kAudioTag)
      SendAudio(data, length, t.stamp, t.duration);
    Pump();
    lists.Unlock();
    FreeItem(item);
  }
  LeaveCriticalSection(&sendLock_);
  return true;
}

bool UdpRtpSender::TimeOutHandler() {
  EnterCriticalSection(&sendLock_);
  if (InterlockedExchange(&reopen_, 0)) StartAfresh();
  ClientLists& lists = owner_.Parts()->clients;
  lists.Lock();
  Pump();
  lists.Unlock();
  LeaveCriticalSection(&sendLock_);
  return true;
}

void UdpRtpSender::Finish() {
  EnterCriticalSection(&sendLock_);
  ReleaseQueued();
  ClientLists& lists = owner_.Parts()->clients;
  const unsigned long session = owner_.GetSessionInfo() ? owner_.GetSessionInfo()->sessionNumber : 0;
  // The notice goes behind each client's pending media, in order.
  lists.Lock();
  ForgetGoneClients();
  for (DESTLISTITEM* c : lists.all) {
    if (c->kind != 1 || !c->counted) continue;
    auto notice = std::make_shared<MediaBlock>();
    const std::string text = flumera::EndOfStreamNotice(c->setupLine, session);
    notice->bytes.assign(text.begin(), text.end());
    StateOf(c->id).queue.push_back(notice);
  }
  lists.Unlock();
  const DWORD until = GetTickCount() + kFinishFlushMs;
  for (;;) {
    lists.Lock();
    bool left = false;
    for (DESTLISTITEM* c : lists.all) {
      if (c->kind != 1 || !c->counted) continue;
      ClientState& s = StateOf(c->id);
      Flush(s, c);
      left |= !c->broken && (c->partial || !s.queue.empty());
    }
    lists.Unlock();
    if (!left || int(until - GetTickCount()) <= 0) break;
    Sleep(5);
  }
  clients_.clear();
  DeletePacketizers();
  opened_ = false;
  LeaveCriticalSection(&sendLock_);
}
